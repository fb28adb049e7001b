#pragma once
// Well-formed UTF-8 by its byte ranges (no overlong forms, no surrogates, nothing above
// U+10FFFF), one sequence at a time. Shared by lossy decoding and the pool's UTF-8 check.
#include <cstddef>
#include <string>
#include <string_view>

namespace kuv {

struct Utf8Step {
    enum class Kind { Valid, Invalid, Truncated };
    Kind kind;
    // Valid: the sequence's length. Invalid: the length of its maximal invalid prefix (1 to 3).
    // Truncated (the text ends inside a sequence that was well-formed so far): the bytes left.
    std::size_t length;
};

// Whether all of `bytes` is well-formed UTF-8 (vectorised; says nothing about where it fails).
bool is_utf8(std::string_view bytes);

// The sequence starting at `pos` (below bytes.size()). Inline: callers step through whole texts.
inline Utf8Step utf8_step(std::string_view bytes, std::size_t pos) {
    const auto lead = static_cast<unsigned char>(bytes[pos]);
    if (lead < 0x80) return {Utf8Step::Kind::Valid, 1};
    std::size_t continuation_count = 0;
    // The second byte's range is narrower after some leads (overlong forms, surrogates, > U+10FFFF).
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        continuation_count = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        continuation_count = 2;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        continuation_count = 3;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return {Utf8Step::Kind::Invalid, 1};
    }
    std::size_t length = 1;
    for (std::size_t k = 0; k < continuation_count; ++k, ++length) {
        if (pos + length >= bytes.size()) return {Utf8Step::Kind::Truncated, length};
        const auto next = static_cast<unsigned char>(bytes[pos + length]);
        if (next < low || next > high) return {Utf8Step::Kind::Invalid, length};
        low = 0x80;
        high = 0xBF;
    }
    return {Utf8Step::Kind::Valid, length};
}

// `bytes` as UTF-8 text: the bytes themselves when they are valid, otherwise a copy in `buffer`
// with each maximal invalid subsequence replaced by one U+FFFD.
std::string_view decode_utf8_lossy(std::string_view bytes, std::string& buffer);

}  // namespace kuv
