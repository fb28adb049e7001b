#pragma once
// Trimming by the Unicode White_Space property (NBSP, U+3000 and the like count, as well as
// ASCII space, tab and line ends).
#include <string_view>

namespace kuv {

// Whether `c` has the Unicode White_Space property.
bool is_white_space(char32_t c);

// `text` without its leading and trailing White_Space characters. Bytes that are not valid
// UTF-8 are never white space.
std::string_view trim_white_space(std::string_view text);

}  // namespace kuv
