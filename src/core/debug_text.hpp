#pragma once
// The one debug-text formatter: how strings, characters, paths and floats appear inside
// messages and query keys.
#include <cstdint>
#include <string>
#include <string_view>

namespace kuv {

// A string in double quotes; \" \\ \t \n \r \0 escaped, other control, unprintable and
// grapheme-extending characters as \u{hex} (lower case, no leading zeros). Input is UTF-8; an
// ill-formed sequence shows as U+FFFD.
void write_debug_str(std::string& out, std::string_view text);
std::string debug_str(std::string_view text);

// A character in single quotes, with \' instead of \" and otherwise the string rules.
std::string debug_char(char32_t c);

// A file path: like a string, but single quotes are escaped too (\') and bytes that are not
// UTF-8 appear as \xNN (upper case hex).
std::string debug_path(std::string_view path_bytes);

// A double as shortest round-trip digits: integral values end in ".0", exponent form when
// abs >= 1e16 or 0 < abs < 1e-4 ("1e16", "1.5e-5"), "inf", "-inf", "NaN". Ties between two
// shortest candidates round away from zero in magnitude.
void write_debug_f64(std::string& out, double value);
std::string debug_f64(double value);

}  // namespace kuv
