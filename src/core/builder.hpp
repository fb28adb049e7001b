#pragma once
// The mutable graph under construction: interned strings, nodes upserted by id, relations
// recorded by target id and resolved when the builder is frozen.
#include "core/graph.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kuv::core {

// Open-addressing hash table (linear probing) from texts to values. The texts live elsewhere (a
// string pool, the node records): a slot holds only the text's hash and its value, and a lookup
// compares through the caller's value -> text function, so no text is stored twice.
template <class Value>
class TextTable {
public:
    // The value whose text equals `text`, or nullptr. `hash` must be non-zero.
    template <class TextOf>
    const Value* find(std::string_view text, std::uint64_t hash, const TextOf& text_of) const {
        if (slots_.empty()) return nullptr;
        for (std::size_t i = hash & mask(); slots_[i].hash != kEmpty; i = (i + 1) & mask()) {
            if (slots_[i].hash == hash && text_of(slots_[i].value) == text) return &slots_[i].value;
        }
        return nullptr;
    }

    // Adds `value` under `hash`; the caller has made sure its text is not in the table yet.
    void insert(std::uint64_t hash, Value value) {
        if (!fits(size_ + 1)) rehash(slots_.empty() ? 16 : slots_.size() * 2);
        place(hash, value);
        ++size_;
    }

    // Makes room for `count` entries in all, so filling the table does not rehash.
    void reserve(std::size_t count) {
        std::size_t slot_count = std::max<std::size_t>(slots_.size(), 16);
        while (!fits(count, slot_count)) slot_count *= 2;
        if (slot_count != slots_.size()) rehash(slot_count);
    }

    std::size_t size() const { return size_; }

private:
    static constexpr std::uint64_t kEmpty = 0;
    struct Slot {
        std::uint64_t hash = kEmpty;
        Value value{};
    };

    std::size_t mask() const { return slots_.size() - 1; }
    // At most three quarters full keeps the linear probes short.
    static bool fits(std::size_t count, std::size_t slot_count) { return count * 4 <= slot_count * 3; }
    bool fits(std::size_t count) const { return fits(count, slots_.size()); }

    void place(std::uint64_t hash, Value value) {
        std::size_t i = hash & mask();
        while (slots_[i].hash != kEmpty) i = (i + 1) & mask();
        slots_[i] = Slot{hash, value};
    }

    void rehash(std::size_t slot_count) {
        std::vector<Slot> old(slot_count);
        old.swap(slots_);
        for (const Slot& slot : old) {
            if (slot.hash != kEmpty) place(slot.hash, slot.value);
        }
    }

    std::vector<Slot> slots_;  // power-of-two size, at most three quarters full
    std::size_t size_ = 0;
};

// Interned strings by their text in the pool they were appended to.
using InternMap = TextTable<Str>;

// Interns `text` into `pool`/`map`: the existing Str for an equal string, else appends it.
Str reintern(std::string_view text, std::vector<char>& pool, InternMap& map);

class GraphBuilder {
public:
    GraphBuilder() = default;
    // Thaws a stored graph: upserts every node, then re-records every outgoing relation.
    static GraphBuilder from_graph(const Graph& graph);

    Str intern(std::string_view text);
    std::uint32_t upsert_node(NodeKind kind, std::string_view id, std::string_view name, std::string_view props);
    void add_edge(std::uint32_t source, RelType rel, std::string_view target_id);
    // Marks the first node (in node order) whose props hold a string member "url" equal to `url`.
    bool remove_node_by_url(std::string_view url);
    // The same for every URL of the list, in one pass over the nodes; a URL listed twice marks
    // one node. Returns the number of URLs that found a node.
    std::size_t remove_nodes_by_urls(std::span<const std::string_view> urls);
    // Freezes into a graph, dropping removed nodes and unresolvable relations. Consumes the builder.
    Graph build() &&;

    std::size_t node_count() const { return nodes_.size(); }

private:
    // The target id is the text at [target_offset, +target_len) of target_ids_.
    struct PendingEdge {
        std::size_t target_offset;
        std::uint32_t target_len;
        std::uint32_t source;
        RelType rel;
    };
    std::string_view text_of(Str s) const { return {string_pool_.data() + s.offset, s.len}; }
    std::string_view target_of(const PendingEdge& edge) const {
        return {target_ids_.data() + edge.target_offset, edge.target_len};
    }
    // The index of the node with id `id` (hash `hash`), or nullptr.
    const std::uint32_t* find_node(std::string_view id, std::uint64_t hash) const;

    std::vector<char> string_pool_;
    std::vector<Node> nodes_;
    std::vector<bool> removed_;  // per node: marked for removal (cleared by a later upsert)
    std::vector<PendingEdge> pending_edges_;
    std::vector<char> target_ids_;  // the pending edges' target ids, back to back
    InternMap intern_map_;
    TextTable<std::uint32_t> id_index_;  // node index by the node's id text
};

}  // namespace kuv::core
