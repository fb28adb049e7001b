#include "core/utf32.hpp"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kuv {
namespace {

// Characters copied together when they are all ASCII.
constexpr std::size_t kBlock = 16;

// Writes a block of ASCII characters as bytes at `out`; false, with nothing written, when any
// character is not ASCII.
bool narrow_ascii_block(const char32_t* in, unsigned char* out) {
#if defined(__SSE2__)
    const auto* const lanes = reinterpret_cast<const __m128i*>(in);
    const __m128i a = _mm_loadu_si128(lanes);
    const __m128i b = _mm_loadu_si128(lanes + 1);
    const __m128i c = _mm_loadu_si128(lanes + 2);
    const __m128i d = _mm_loadu_si128(lanes + 3);
    const __m128i high_bits = _mm_srli_epi32(_mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d)), 7);
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(high_bits, _mm_setzero_si128())) != 0xFFFF) return false;
    // Values below 0x80 pass both saturating packs unchanged.
    const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(a, b), _mm_packs_epi32(c, d));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bytes);
    return true;
#else
    char32_t all = 0;
    for (std::size_t k = 0; k < kBlock; ++k) all |= in[k];
    if (all >= 0x80) return false;
    for (std::size_t k = 0; k < kBlock; ++k) out[k] = static_cast<unsigned char>(in[k]);
    return true;
#endif
}

}  // namespace

std::size_t encode_utf8(char32_t c, char* utf8) {
    auto* const out = reinterpret_cast<unsigned char*>(utf8);
    if (c < 0x80) {
        out[0] = static_cast<unsigned char>(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = static_cast<unsigned char>(0xC0 | (c >> 6));
        out[1] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        out[0] = static_cast<unsigned char>(0xE0 | (c >> 12));
        out[1] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
        out[2] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        return 3;
    }
    out[0] = static_cast<unsigned char>(0xF0 | ((c >> 18) & 0x07));
    out[1] = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
    out[2] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
    out[3] = static_cast<unsigned char>(0x80 | (c & 0x3F));
    return 4;
}

std::optional<std::size_t> utf32_to_utf8(std::span<const char32_t> text, char* utf8) {
    auto* const out = reinterpret_cast<unsigned char*>(utf8);
    std::size_t written = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text.size() - i >= kBlock && narrow_ascii_block(text.data() + i, out + written)) {
            written += kBlock;
            i += kBlock;
            continue;
        }
        // One block's worth (or the rest) one character at a time.
        for (const std::size_t end = std::min(i + kBlock, text.size()); i < end; ++i) {
            const char32_t c = text[i];
            if (c >> 11 == 0x1B) return std::nullopt;  // a surrogate
            written += encode_utf8(c, utf8 + written);
        }
    }
    return written;
}

}  // namespace kuv
