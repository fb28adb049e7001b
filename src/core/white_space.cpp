#include "core/white_space.hpp"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cstdint>

namespace kuv {

namespace {

// ICU decodes with 32-bit indices, so each step looks at a window of at most one character.
constexpr std::size_t kMaxCharBytes = 4;

const std::uint8_t* bytes_of(std::string_view text) {
    return reinterpret_cast<const std::uint8_t*>(text.data());
}

// Length of the White_Space prefix.
std::size_t leading_white_space(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        const auto window = static_cast<std::int32_t>(std::min(kMaxCharBytes, text.size() - pos));
        std::int32_t width = 0;
        UChar32 c = 0;
        U8_NEXT(bytes_of(text) + pos, width, window, c);
        if (c < 0 || !is_white_space(static_cast<char32_t>(c))) break;
        pos += static_cast<std::size_t>(width);
    }
    return pos;
}

// Length of `text` without its White_Space suffix.
std::size_t without_trailing_white_space(std::string_view text) {
    std::size_t end = text.size();
    while (end > 0) {
        const auto window = static_cast<std::int32_t>(std::min(kMaxCharBytes, end));
        std::int32_t start = window;
        UChar32 c = 0;
        U8_PREV(bytes_of(text) + (end - static_cast<std::size_t>(window)), 0, start, c);
        if (c < 0 || !is_white_space(static_cast<char32_t>(c))) break;
        end -= static_cast<std::size_t>(window - start);
    }
    return end;
}

}  // namespace

bool is_white_space(char32_t c) {
    if (c < 0x80) return c == ' ' || (c >= '\t' && c <= '\r');
    return u_isUWhiteSpace(static_cast<UChar32>(c)) != 0;
}

std::string_view trim_white_space(std::string_view text) {
    text.remove_prefix(leading_white_space(text));
    return text.substr(0, without_trailing_white_space(text));
}

}  // namespace kuv
