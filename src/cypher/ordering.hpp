#pragma once
// ORDER BY: sort keys computed once per binding, a stable sort, and under LIMIT only the rows
// that can still reach the result.
#include "cypher/ast.hpp"
#include "cypher/matcher.hpp"
#include "cypher/property_reader.hpp"
#include "cypher/scalar.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace kuv::cypher {

struct SortItem {
    std::size_t position;         // the node pattern whose node supplies the key
    std::optional<PropKey> key;   // none: the node itself
    bool desc;
};

// Resolves each ORDER BY item, through a RETURN alias where it names one. Throws kuv::Error
// "ORDER BY references unknown variable {}".
std::vector<SortItem> resolve_sort_items(const Query& query, const PropertyReader& reader);

// Collects bindings with their sort keys and gives them back in ORDER BY order: the stable sort
// of everything added, or, when only the first `needed` rows can be used, its first `needed`
// elements, keeping about twice that many at any time. When one item mixes kinds of values its
// comparison is no order; every kept binding still comes back exactly once.
class SortedBindings {
public:
    SortedBindings(std::vector<SortItem> items, std::size_t width, std::optional<std::size_t> needed);

    void add(PropertyReader& reader, Binding binding);

    // Sorts what is kept; then binding(i) for i below size() in order.
    void finish();
    std::size_t size() const { return order_.size(); }
    Binding binding(std::size_t i) const { return Binding(bindings_).subspan(std::size_t(order_[i]) * width_, width_); }

private:
    // A sort key with a string's first bytes kept beside it, so that most comparisons of strings
    // are settled without reaching into the graph file at a random place.
    struct SortKey {
        Scalar value;
        std::array<unsigned char, 16> head{};  // a string's first bytes, zero padded
    };

    static SortKey sort_key(const Scalar& value);
    static int compare(const SortKey& a, const SortKey& b);
    bool less(std::uint32_t a, std::uint32_t b) const;
    void sort(std::vector<std::uint32_t>& slots) const;
    void flush();

    std::vector<SortItem> items_;
    std::size_t width_;
    std::optional<std::size_t> needed_;
    std::vector<SortKey> keys_;              // items_.size() per stored binding
    std::vector<std::uint32_t> bindings_;    // width_ per stored binding
    std::vector<std::uint32_t> order_;       // stored bindings in sorted order
    std::vector<std::uint32_t> pending_;     // stored bindings not yet sorted, in arrival order
};

}  // namespace kuv::cypher
