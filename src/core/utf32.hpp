#pragma once
// Text held as UCS-4 code points (one char32_t per character) made into UTF-8.
#include <cstddef>
#include <optional>
#include <span>

namespace kuv {

// Writes `text` as UTF-8 at `utf8` and returns the number of bytes written, or nullopt when it
// holds a surrogate (U+D800 to U+DFFF), which UTF-8 cannot encode. Code points must not exceed
// U+10FFFF. `utf8` needs room for 4 bytes per character at most; it may be the text's own
// storage, since no character takes more than the four bytes it held as UCS-4 and each is read
// before its bytes can be overwritten.
std::optional<std::size_t> utf32_to_utf8(std::span<const char32_t> text, char* utf8);

}  // namespace kuv
