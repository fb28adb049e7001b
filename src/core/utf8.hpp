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

// The sequence starting at `pos` (below bytes.size()).
Utf8Step utf8_step(std::string_view bytes, std::size_t pos);

// `bytes` as UTF-8 text: the bytes themselves when they are valid, otherwise a copy in `buffer`
// with each maximal invalid subsequence replaced by one U+FFFD.
std::string_view decode_utf8_lossy(std::string_view bytes, std::string& buffer);

}  // namespace kuv
