#pragma once
// Reads node properties for one query. Each node's props text is scanned at most once, on its
// first read, for just the keys the query names; the members found are decoded then and kept
// for the rest of the query. "name" and "kind" come from the node record.
#include "core/store.hpp"
#include "cypher/node_slots.hpp"
#include "cypher/props_scan.hpp"
#include "cypher/scalar.hpp"
#include "cypher/value.hpp"

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kuv::cypher {

// A key the query reads: the record's name or kind, or one of the props keys.
struct PropKey {
    static constexpr std::uint32_t kName = 0xFFFFFFFF;
    static constexpr std::uint32_t kKind = 0xFFFFFFFE;
    std::uint32_t index = kName;
};

class PropertyReader {
public:
    // `props_keys`: every key the query can read apart from "name" and "kind", without repeats.
    PropertyReader(const core::LoadedGraph& graph, std::vector<std::string> props_keys);

    const core::LoadedGraph& graph() const { return graph_; }

    // `name` is "name", "kind" or one of the props keys.
    PropKey key(std::string_view name) const;

    Scalar read(std::uint32_t node, PropKey key) {
        if (key.index == PropKey::kName) return Scalar::of_str(name(node));
        if (key.index == PropKey::kKind) return Scalar::of_str(core::label(graph_.kind(node)));
        return values_[members_of(node) + key.index];
    }

    // A RETURN or ORDER BY term: the property, or the node itself.
    Scalar project(std::uint32_t node, const std::optional<PropKey>& key) {
        return key ? read(node, *key) : Scalar::of_node(node);
    }

    // The node's name; text that is not UTF-8 reads as the empty text.
    std::string_view name(std::uint32_t node);

    // `text`, the string value of `key` on `node`, in lower case (full Unicode mapping). A long
    // text is lowered once per node and key and kept; a short one is lowered again on each call,
    // which costs less than keeping it. The view lasts until the next call.
    std::string_view lowered(std::uint32_t node, PropKey key, std::string_view text);

    // The owned value a result row holds.
    Value to_value(const Scalar& scalar);

private:
    static constexpr std::size_t kKeptLoweredSize = 256;

    // The index in values_ of the node's first member, scanning the node on first use.
    std::size_t members_of(std::uint32_t node);
    void append_members(std::uint32_t node);
    Scalar decode(const MemberToken& token, const std::string& key);

    const core::LoadedGraph& graph_;
    PropsScanner scanner_;
    std::size_t key_count_;
    NodeSlots<std::uint32_t> ordinal_plus_one_;  // per node: 0 until scanned, else scan ordinal + 1
    std::uint32_t scanned_ = 0;
    std::vector<Scalar> values_;                 // key_count_ per scanned node, in scan order
    std::vector<MemberToken> found_;             // scratch for one scan
    std::deque<std::string> decoded_;            // strings that held escapes; views stay valid
    NodeSlots<std::uint8_t> name_state_;         // per node: 0 unknown, 1 UTF-8, 2 not UTF-8
    std::unordered_map<std::uint64_t, std::string> lowered_;  // long texts, by node and key
    std::string lowered_scratch_;                             // the last short text lowered
};

// Full Unicode lower-case mapping (final sigma, dotted capital I) in the root locale.
std::string lower_case(std::string_view text);
void append_lower_case(std::string& out, std::string_view text);

}  // namespace kuv::cypher
