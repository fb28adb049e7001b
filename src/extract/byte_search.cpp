#include "extract/byte_search.hpp"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kuv::extract {

#if defined(__SSE2__)

namespace {

constexpr std::size_t kBlock = 32;  // candidate start positions tested per step

__m128i load16(const char* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); }

std::uint32_t mask_of(__m128i hits) { return static_cast<std::uint32_t>(_mm_movemask_epi8(hits)); }

// Marks the start positions where the needle's first two bytes and its last byte all match;
// only there is the whole needle compared. Page needles are mostly JSON keys: a quote followed
// by a given letter, or two quotes at the key's distance, are common in a page, all three
// together rare.
class ProbeFilter {
public:
    ProbeFilter(std::string_view needle, const char* text)
        : last_offset_(needle.size() - 1),
          first_(_mm_set1_epi8(needle[0])),
          second_(_mm_set1_epi8(needle[1])),
          last_(_mm_set1_epi8(needle[last_offset_])),
          text_(text) {}

    // Advances `start` block by block up to `last_block` (included) and returns the first
    // non-empty mask, or 0 when none of those blocks has a candidate. The loop makes no calls,
    // so the probe vectors stay in registers.
    std::uint32_t next_candidates(std::size_t& start, std::size_t last_block) const {
        for (; start <= last_block; start += kBlock) {
            const __m128i low = hits_at(start);
            const __m128i high = hits_at(start + 16);
            if (mask_of(_mm_or_si128(low, high)) != 0) return mask_of(low) | (mask_of(high) << 16);
        }
        return 0;
    }

private:
    // Byte k set when all probes match for the start position `start + k` (k below 16).
    __m128i hits_at(std::size_t start) const {
        const char* at = text_ + start;
        const __m128i head = _mm_and_si128(_mm_cmpeq_epi8(load16(at), first_), _mm_cmpeq_epi8(load16(at + 1), second_));
        return _mm_and_si128(head, _mm_cmpeq_epi8(load16(at + last_offset_), last_));
    }

    std::size_t last_offset_;
    __m128i first_;
    __m128i second_;
    __m128i last_;
    const char* text_;
};

}  // namespace

std::size_t find_bytes(std::string_view haystack, std::string_view needle, std::size_t from) {
    const std::size_t n = needle.size();
    if (n > haystack.size() || from > haystack.size() - n) return std::string_view::npos;
    if (n == 0) return from;
    const char* const text = haystack.data();
    if (n == 1) {
        const void* hit = std::memchr(text + from, needle[0], haystack.size() - from);
        return hit == nullptr ? std::string_view::npos : static_cast<std::size_t>(static_cast<const char*>(hit) - text);
    }
    const std::size_t last_start = haystack.size() - n;
    std::size_t i = from;
    if (last_start - from >= kBlock - 1) {
        // Blocks end at or before last_start, so no load reaches past the haystack.
        const std::size_t last_block = last_start - (kBlock - 1);
        const ProbeFilter filter(needle, text);
        for (std::uint32_t mask; (mask = filter.next_candidates(i, last_block)) != 0; i += kBlock) {
            for (; mask != 0; mask &= mask - 1) {
                const std::size_t start = i + static_cast<std::size_t>(__builtin_ctz(mask));
                if (std::memcmp(text + start, needle.data(), n) == 0) return start;
            }
        }
    }
    for (; i <= last_start; ++i) {
        if (std::memcmp(text + i, needle.data(), n) == 0) return i;
    }
    return std::string_view::npos;
}

#else

std::size_t find_bytes(std::string_view haystack, std::string_view needle, std::size_t from) {
    return haystack.find(needle, from);
}

#endif

}  // namespace kuv::extract
