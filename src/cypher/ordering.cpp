#include "cypher/ordering.hpp"

#include "core/error.hpp"
#include "core/interrupt.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <numeric>

namespace kuv::cypher {
namespace {

constexpr std::size_t kMergesPerInterruptCheck = 256;

// Stable bottom-up merge sort that only ever asks whether a later element sorts strictly
// before an earlier one, so an inconsistent comparison still ends with every element present.
template <class Less>
void merge_sort(std::vector<std::uint32_t>& items, Less less) {
    const std::size_t n = items.size();
    std::vector<std::uint32_t> merged(n);
    for (std::size_t width = 1; width < n; width *= 2) {
        for (std::size_t low = 0; low < n; low += 2 * width) {
            const std::size_t mid = std::min(low + width, n);
            const std::size_t high = std::min(low + 2 * width, n);
            std::size_t left = low;
            std::size_t right = mid;
            std::size_t out = low;
            while (left < mid && right < high) {
                if (out % kMergesPerInterruptCheck == 0) check_interrupt();
                merged[out++] = less(items[right], items[left]) ? items[right++] : items[left++];
            }
            while (left < mid) merged[out++] = items[left++];
            while (right < high) merged[out++] = items[right++];
        }
        items.swap(merged);
    }
}

}  // namespace

std::vector<SortItem> resolve_sort_items(const Query& query, const PropertyReader& reader) {
    std::vector<SortItem> items;
    for (const OrderItem& order : query.order_by) {
        std::string_view var = order.var;
        const std::optional<std::string>* prop = &order.prop;
        if (!order.prop) {
            const auto aliased = std::find_if(query.returns.begin(), query.returns.end(),
                                              [&](const ReturnItem& item) { return item.alias == order.var; });
            if (aliased != query.returns.end()) {
                var = aliased->var;
                prop = &aliased->prop;
            }
        }
        const auto position = position_of(query.pattern, var);
        if (!position) throw Error("ORDER BY references unknown variable " + order.var);
        items.push_back({*position, *prop ? std::optional(reader.key(**prop)) : std::nullopt, order.desc});
    }
    return items;
}

void KeyedBindings::push(PropertyReader& reader, Binding binding) {
    for (const SortItem& item : items_) {
        const Scalar value = reader.project(binding[item.position], item.key);
        Key key{value};
        // copy_n, not memcpy: an empty text may have no data pointer at all.
        if (value.kind == Scalar::Kind::Str) std::copy_n(value.text.data(), std::min(value.text.size(), key.head.size()), key.head.data());
        keys_.push_back(key);
    }
    bindings_.insert(bindings_.end(), binding.begin(), binding.end());
}

void KeyedBindings::pop() {
    keys_.resize(keys_.size() - items_.size());
    bindings_.resize(bindings_.size() - width_);
}

void KeyedBindings::copy(std::size_t from, std::size_t to) {
    std::copy_n(keys(from), items_.size(), keys_.begin() + std::ptrdiff_t(to * items_.size()));
    std::copy_n(bindings_.begin() + std::ptrdiff_t(from * width_), width_, bindings_.begin() + std::ptrdiff_t(to * width_));
}

void KeyedBindings::keep(const std::vector<std::uint32_t>& slots) {
    std::vector<Key> keys;
    std::vector<std::uint32_t> bindings;
    keys.reserve(slots.size() * items_.size());
    bindings.reserve(slots.size() * width_);
    for (std::uint32_t slot : slots) {
        keys.insert(keys.end(), this->keys(slot), this->keys(slot) + items_.size());
        const Binding kept = binding(slot);
        bindings.insert(bindings.end(), kept.begin(), kept.end());
    }
    keys_.swap(keys);
    bindings_.swap(bindings);
}

// compare_order_value item by item, with two strings first told apart by their heads where they
// differ there.
int KeyedBindings::compare(const Key* a, const Key* b) const {
    for (std::size_t i = 0; i < items_.size(); ++i) {
        int c = 0;
        if (a[i].value.kind == Scalar::Kind::Str && b[i].value.kind == Scalar::Kind::Str) {
            c = std::memcmp(a[i].head.data(), b[i].head.data(), a[i].head.size());
        }
        if (c == 0) c = compare_order_value(a[i].value, b[i].value);
        if (c != 0) return items_[i].desc == (c < 0) ? 1 : -1;
    }
    return 0;
}

void SortedBindings::sort(std::vector<std::uint32_t>& slots) const {
    merge_sort(slots, [this](std::uint32_t a, std::uint32_t b) { return less(a, b); });
}

void SortedBindings::add(PropertyReader& reader, Binding binding) {
    if (needed_ == std::size_t(0)) return;
    const auto slot = static_cast<std::uint32_t>(stored_.size());
    stored_.push(reader, binding);
    // A binding that does not sort strictly before the last kept one can never be returned.
    if (needed_ && order_.size() == *needed_ && !less(slot, order_.back())) {
        stored_.pop();
        return;
    }
    pending_.push_back(slot);
    if (needed_ && pending_.size() >= *needed_) flush();
}

// Sorts the pending bindings, merges them after the kept ones (earlier arrivals first among
// equals), keeps the first `needed`, and compacts the storage to what is kept.
void SortedBindings::flush() {
    sort(pending_);
    const std::size_t keep = std::min(order_.size() + pending_.size(), needed_.value_or(SIZE_MAX));
    std::vector<std::uint32_t> merged;
    merged.reserve(keep);
    auto kept = order_.begin();
    auto next = pending_.begin();
    while (merged.size() < keep) {
        const bool take_pending = kept == order_.end() || (next != pending_.end() && less(*next, *kept));
        merged.push_back(take_pending ? *next++ : *kept++);
    }
    pending_.clear();
    stored_.keep(merged);
    order_.resize(merged.size());
    std::iota(order_.begin(), order_.end(), 0);
}

void SortedBindings::finish() {
    if (needed_) {
        flush();
        return;
    }
    // Everything is kept: sort it in place of merging.
    order_ = std::move(pending_);
    pending_.clear();
    if (order_.size() > 1) sort(order_);
}

bool DistinctSortedBindings::before(Rank a, Rank b) const {
    const int c = stored_.compare(a.keys, b.keys);
    return c != 0 ? c < 0 : a.arrival < b.arrival;
}

void DistinctSortedBindings::sort(std::vector<std::uint32_t>& slots) const {
    merge_sort(slots, [this](std::uint32_t a, std::uint32_t b) { return before(rank(a), rank(b)); });
}

void DistinctSortedBindings::pop() {
    stored_.pop();
    arrivals_.pop_back();
}

void DistinctSortedBindings::add(PropertyReader& reader, Binding binding) {
    if (needed_ == std::size_t(0)) return;
    const auto slot = static_cast<std::uint32_t>(stored_.size());
    stored_.push(reader, binding);
    arrivals_.push_back(arrived_++);
    if (!bar_.empty() && !before(rank(slot), {bar_.data(), bar_arrival_})) {
        pop();
        return;
    }
    const auto [row, added] = rows_.find_or_add(row_hash(reader, columns_, binding), slot, [&](std::uint32_t other) {
        return same_row(reader, columns_, binding, stored_.binding(other));
    });
    if (added) {
        if (needed_ && stored_.size() / 2 >= *needed_) shrink(reader);
        return;
    }
    if (before(rank(slot), rank(row))) {
        stored_.copy(slot, row);
        arrivals_[row] = arrivals_[slot];
    }
    pop();
}

// Keeps the first `needed` rows, in sorted order, and remembers the last of them as the bar.
void DistinctSortedBindings::shrink(PropertyReader& reader) {
    std::vector<std::uint32_t> slots(stored_.size());
    std::iota(slots.begin(), slots.end(), 0);
    sort(slots);
    slots.resize(*needed_);
    stored_.keep(slots);
    std::vector<std::uint64_t> arrivals;
    arrivals.reserve(slots.size());
    for (std::uint32_t slot : slots) arrivals.push_back(arrivals_[slot]);
    arrivals_.swap(arrivals);
    rows_ = IdTable();
    for (std::uint32_t slot = 0; slot < stored_.size(); ++slot) {
        rows_.find_or_add(row_hash(reader, columns_, stored_.binding(slot)), slot, [](std::uint32_t) { return false; });
    }
    const std::uint32_t last = static_cast<std::uint32_t>(stored_.size() - 1);
    bar_.assign(stored_.keys(last), stored_.keys(last) + stored_.key_count());
    bar_arrival_ = arrivals_[last];
}

void DistinctSortedBindings::finish() {
    order_.resize(stored_.size());
    std::iota(order_.begin(), order_.end(), 0);
    sort(order_);
    if (needed_ && order_.size() > *needed_) order_.resize(*needed_);
}

}  // namespace kuv::cypher
