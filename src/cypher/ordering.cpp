#include "cypher/ordering.hpp"

#include "core/error.hpp"
#include "core/interrupt.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>

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

SortedBindings::SortedBindings(std::vector<SortItem> items, std::size_t width, std::optional<std::size_t> needed)
    : items_(std::move(items)), width_(width), needed_(needed) {}

SortedBindings::SortKey SortedBindings::sort_key(const Scalar& value) {
    SortKey key{value};
    // copy_n, not memcpy: an empty text may have no data pointer at all.
    if (value.kind == Scalar::Kind::Str) std::copy_n(value.text.data(), std::min(value.text.size(), key.head.size()), key.head.data());
    return key;
}

// compare_order_value, with two strings first told apart by their heads where they differ there.
int SortedBindings::compare(const SortKey& a, const SortKey& b) {
    if (a.value.kind == Scalar::Kind::Str && b.value.kind == Scalar::Kind::Str) {
        const int heads = std::memcmp(a.head.data(), b.head.data(), a.head.size());
        if (heads != 0) return heads < 0 ? -1 : 1;
    }
    return compare_order_value(a.value, b.value);
}

bool SortedBindings::less(std::uint32_t a, std::uint32_t b) const {
    const SortKey* a_keys = keys_.data() + std::size_t(a) * items_.size();
    const SortKey* b_keys = keys_.data() + std::size_t(b) * items_.size();
    for (std::size_t i = 0; i < items_.size(); ++i) {
        const int c = compare(a_keys[i], b_keys[i]);
        if (c != 0) return items_[i].desc ? c > 0 : c < 0;
    }
    return false;
}

void SortedBindings::sort(std::vector<std::uint32_t>& slots) const {
    merge_sort(slots, [this](std::uint32_t a, std::uint32_t b) { return less(a, b); });
}

void SortedBindings::add(PropertyReader& reader, Binding binding) {
    if (needed_ == std::size_t(0)) return;
    const auto slot = static_cast<std::uint32_t>(pending_.size() + order_.size());
    for (const SortItem& item : items_) keys_.push_back(sort_key(reader.project(binding[item.position], item.key)));
    // A binding that does not sort strictly before the last kept one can never be returned.
    if (needed_ && order_.size() == *needed_ && !less(slot, order_.back())) {
        keys_.resize(keys_.size() - items_.size());
        return;
    }
    bindings_.insert(bindings_.end(), binding.begin(), binding.end());
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
    std::vector<SortKey> keys;
    std::vector<std::uint32_t> bindings;
    keys.reserve(merged.size() * items_.size());
    bindings.reserve(merged.size() * width_);
    order_.clear();
    for (std::uint32_t slot : merged) {
        const auto* slot_keys = keys_.data() + std::size_t(slot) * items_.size();
        keys.insert(keys.end(), slot_keys, slot_keys + items_.size());
        const auto* slot_binding = bindings_.data() + std::size_t(slot) * width_;
        bindings.insert(bindings.end(), slot_binding, slot_binding + width_);
        order_.push_back(static_cast<std::uint32_t>(order_.size()));
    }
    keys_.swap(keys);
    bindings_.swap(bindings);
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

}  // namespace kuv::cypher
