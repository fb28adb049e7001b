#pragma once
// Text held as UCS-4 code points (one char32_t per character) made into UTF-8.
#include <cstddef>
#include <optional>
#include <span>

namespace kuv {

// The most bytes one character takes in UTF-8.
inline constexpr std::size_t kMaxUtf8Bytes = 4;

// Writes the UTF-8 form of the scalar value `c` (no surrogate, at most U+10FFFF) at `out`, which
// has room for kMaxUtf8Bytes, and returns its length.
std::size_t encode_utf8(char32_t c, char* out);

// Writes `text` as UTF-8 at `utf8`, which has room for kMaxUtf8Bytes per character, and returns
// the number of bytes written, or nullopt when the text holds a surrogate (U+D800 to U+DFFF),
// which UTF-8 cannot encode. Code points must not exceed U+10FFFF.
std::optional<std::size_t> utf32_to_utf8(std::span<const char32_t> text, char* utf8);

}  // namespace kuv
