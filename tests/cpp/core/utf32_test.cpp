#include "core/utf32.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>

namespace kuv {
namespace {

// Every encoded length and its edges; 0x1D800 has a surrogate's bits above the plane.
const std::pair<char32_t, std::string> kCharacters[] = {
    {U'a', "a"}, {0x7F, "\x7F"}, {0x80, "\xC2\x80"}, {0xE9, "\xC3\xA9"}, {0x7FF, "\xDF\xBF"}, {0x800, "\xE0\xA0\x80"},
    {0x20AC, "\xE2\x82\xAC"}, {0xD7FF, "\xED\x9F\xBF"}, {0xE000, "\xEE\x80\x80"}, {0xFFFF, "\xEF\xBF\xBF"},
    {0x10000, "\xF0\x90\x80\x80"}, {0x1D800, "\xF0\x9D\xA0\x80"}, {0x1F600, "\xF0\x9F\x98\x80"}, {0x10FFFF, "\xF4\x8F\xBF\xBF"},
};

// The UTF-8 form of `text`, written into a buffer of the largest size it may need.
std::optional<std::string> to_utf8(const std::u32string& text) {
    std::string utf8(kMaxUtf8Bytes * text.size(), '\0');
    const auto size = utf32_to_utf8(text, utf8.data());
    if (!size) return std::nullopt;
    utf8.resize(*size);
    return utf8;
}

// Texts are transcoded in blocks with a shortcut for ASCII blocks: each character, alone, in
// runs and mixed with the others, must come out right before, at and after block edges.
TEST(Utf32ToUtf8, EveryEncodedLengthAtEveryOffsetAndInLongRuns) {
    for (const std::size_t prefix : {0, 1, 15, 16, 17, 31, 32, 33, 100}) {
        for (const auto& [code_point, utf8] : kCharacters) {
            for (const std::size_t run : {1, 2, 16, 17, 40}) {
                for (const std::size_t suffix : {0, 1, 15, 16, 33}) {
                    std::string expected = std::string(prefix, 'x');
                    for (std::size_t k = 0; k < run; ++k) expected += utf8;
                    EXPECT_EQ(to_utf8(std::u32string(prefix, U'x') + std::u32string(run, code_point) + std::u32string(suffix, U'y')),
                              expected + std::string(suffix, 'y'))
                        << std::hex << unsigned(code_point) << std::dec << " prefix " << prefix << " run " << run << " suffix " << suffix;
                }
            }
        }
    }
    std::u32string mixed;
    std::string expected;
    for (std::size_t i = 0; i < 500; ++i) {
        mixed += kCharacters[i * 7 % std::size(kCharacters)].first;
        expected += kCharacters[i * 7 % std::size(kCharacters)].second;
    }
    EXPECT_EQ(to_utf8(mixed), expected);
    EXPECT_EQ(to_utf8(U""), "");
}

// A surrogate anywhere, also after non-ASCII text or at the very end, leaves the text without
// a UTF-8 form.
TEST(Utf32ToUtf8, AnySurrogateAnywhereHasNoUtf8Form) {
    for (const std::size_t length : {1, 2, 15, 16, 17, 33, 64, 1000}) {
        for (const std::size_t at : {std::size_t{0}, length / 2, length - 1}) {
            for (const char32_t surrogate : {0xD800, 0xDBFF, 0xDC00, 0xDFFF}) {
                for (const char32_t filler : {U'a', U'\u20AC'}) {
                    std::u32string text(length, filler);
                    text[at] = surrogate;
                    EXPECT_EQ(to_utf8(text), std::nullopt) << length << " at " << at << " " << std::hex << unsigned(surrogate);
                }
            }
        }
    }
}

}  // namespace
}  // namespace kuv
