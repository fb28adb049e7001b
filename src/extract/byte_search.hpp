#pragma once
// Substring search over raw page bytes. The page sources look for short fixed needles in pages
// of megabytes, once or a few times each, so the search speed bounds the text-scanning sources.
#include <cstddef>
#include <string_view>

namespace kuv::extract {

// The first position at or after `from` where `needle` occurs in `haystack`, exactly as
// std::string_view::find reports it (npos when there is none).
std::size_t find_bytes(std::string_view haystack, std::string_view needle, std::size_t from = 0);

}  // namespace kuv::extract
