#pragma once
// A hash set of dense ids 0, 1, 2, ... whose items the caller keeps: the table stores only each
// id's hash and finds ids by hash and an equality the caller supplies. Open addressing in one
// array, so a million entries cost two allocations rather than a million.
#include <cstdint>
#include <utility>
#include <vector>

namespace kuv::cypher {

class IdTable {
public:
    // The id of the item equal to the one looked for (`equal(id)` tells), or `next_id` after
    // recording it under `hash`; the flag says whether it was recorded.
    template <class Equal>
    std::pair<std::uint32_t, bool> find_or_add(std::uint64_t hash, std::uint32_t next_id, Equal equal) {
        if (2 * (hashes_.size() + 1) > slots_.size()) grow();
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
            const std::uint32_t slot = slots_[at];
            if (slot == 0) {
                slots_[at] = next_id + 1;
                hashes_.push_back(hash);
                return {next_id, true};
            }
            if (hashes_[slot - 1] == hash && equal(slot - 1)) return {slot - 1, false};
        }
    }

private:
    void grow() {
        std::vector<std::uint32_t> slots(slots_.empty() ? 16 : 2 * slots_.size(), 0);
        const std::size_t mask = slots.size() - 1;
        for (std::uint32_t id = 0; id < hashes_.size(); ++id) {
            std::size_t at = hashes_[id] & mask;
            while (slots[at] != 0) at = (at + 1) & mask;
            slots[at] = id + 1;
        }
        slots_.swap(slots);
    }

    std::vector<std::uint32_t> slots_;   // id + 1, or 0 for a free slot; a power of two long
    std::vector<std::uint64_t> hashes_;  // by id
};

// Spreads the bits of a 64-bit value over the whole word (the finaliser of SplitMix64).
inline std::uint64_t mix_bits(std::uint64_t x) {
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9ULL;
    x ^= x >> 27;
    x *= 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

}  // namespace kuv::cypher
