#pragma once
// ORDER BY: sort keys computed once per binding, a stable sort, and under LIMIT only the rows
// that can still reach the result. Under DISTINCT only the binding that sorts first is kept of
// each distinct row.
#include "cypher/ast.hpp"
#include "cypher/columns.hpp"
#include "cypher/id_table.hpp"
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

// Bindings stored in numbered slots with their sort keys.
class KeyedBindings {
public:
    // A sort key with a string's first bytes kept beside it, so that most comparisons of strings
    // are settled without reaching into the graph file at a random place.
    struct Key {
        Scalar value;
        std::array<unsigned char, 16> head{};  // a string's first bytes, zero padded
    };

    KeyedBindings(std::vector<SortItem> items, std::size_t width) : items_(std::move(items)), width_(width) {}

    std::size_t size() const { return bindings_.size() / width_; }
    Binding binding(std::size_t slot) const { return Binding(bindings_).subspan(slot * width_, width_); }
    const Key* keys(std::size_t slot) const { return keys_.data() + slot * items_.size(); }
    std::size_t key_count() const { return items_.size(); }

    // Stores `binding` with its keys in the next slot.
    void push(PropertyReader& reader, Binding binding);
    void pop();
    // Slot `to` takes the binding and keys of slot `from`.
    void copy(std::size_t from, std::size_t to);
    // Keeps only `slots`, which become slots 0, 1, ... in that order.
    void keep(const std::vector<std::uint32_t>& slots);

    // Negative when keys `a` sort strictly before keys `b`, 0 when every item ties: ORDER BY's
    // comparison, each item in its direction. Not a strict weak order when one item mixes kinds.
    int compare(const Key* a, const Key* b) const;

private:
    std::vector<SortItem> items_;
    std::size_t width_;
    std::vector<Key> keys_;                // items_.size() per slot
    std::vector<std::uint32_t> bindings_;  // width_ per slot
};

// Collects bindings with their sort keys and gives them back in ORDER BY order: the stable sort
// of everything added, or, when only the first `needed` rows can be used, its first `needed`
// elements, keeping about twice that many at any time. When one item mixes kinds of values its
// comparison is no order; every kept binding still comes back exactly once.
class SortedBindings {
public:
    SortedBindings(std::vector<SortItem> items, std::size_t width, std::optional<std::size_t> needed)
        : stored_(std::move(items), width), needed_(needed) {}

    void add(PropertyReader& reader, Binding binding);

    // Sorts what is kept; then binding(i) for i below size() in order.
    void finish();
    std::size_t size() const { return order_.size(); }
    Binding binding(std::size_t i) const { return stored_.binding(order_[i]); }

private:
    bool less(std::uint32_t a, std::uint32_t b) const { return stored_.compare(stored_.keys(a), stored_.keys(b)) < 0; }
    void sort(std::vector<std::uint32_t>& slots) const;
    void flush();

    KeyedBindings stored_;
    std::optional<std::size_t> needed_;
    std::vector<std::uint32_t> order_;    // stored bindings in sorted order
    std::vector<std::uint32_t> pending_;  // stored bindings not yet sorted, in arrival order
};

// ORDER BY under DISTINCT. The full stable sort followed by DISTINCT keeps, of each distinct
// row, the binding that sorts first, ties going to the earliest arrival; so only that binding is
// kept per row, and the rows come back in the order of their kept bindings. When only the first
// `needed` rows can be used, at most about twice that many rows are kept at any time.
class DistinctSortedBindings {
public:
    DistinctSortedBindings(std::vector<SortItem> items, const Columns& columns, std::size_t width,
                           std::optional<std::size_t> needed)
        : stored_(std::move(items), width), columns_(columns), needed_(needed) {}

    void add(PropertyReader& reader, Binding binding);

    // Sorts what is kept; then binding(i) for i below size() in order.
    void finish();
    std::size_t size() const { return order_.size(); }
    Binding binding(std::size_t i) const { return stored_.binding(order_[i]); }

private:
    struct Rank {
        const KeyedBindings::Key* keys;
        std::uint64_t arrival;
    };
    Rank rank(std::uint32_t slot) const { return {stored_.keys(slot), arrivals_[slot]}; }
    // Keys first, then arrival: a total order whenever the keys are ordered.
    bool before(Rank a, Rank b) const;
    void sort(std::vector<std::uint32_t>& slots) const;
    void pop();
    void shrink(PropertyReader& reader);

    KeyedBindings stored_;                 // one slot per distinct row
    const Columns& columns_;
    std::optional<std::size_t> needed_;
    std::vector<std::uint64_t> arrivals_;  // per slot: when its binding arrived
    std::uint64_t arrived_ = 0;
    IdTable rows_;                         // the slots, by their rows
    // Once `needed` rows are known: the keys and arrival of the last of them. A binding that does
    // not sort before it can never be returned.
    std::vector<KeyedBindings::Key> bar_;
    std::uint64_t bar_arrival_ = 0;
    std::vector<std::uint32_t> order_;
};

}  // namespace kuv::cypher
