#include "core/debug_text.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace kuv {
namespace {

using TextCases = std::pair<std::string, std::string>[];

TEST(DebugStr, EscapesControlsQuotesAndUnprintableCharacters) {
    const TextCases cases = {
        {"", R"("")"}, {"it's", R"("it's")"}, {"say \"hi\"", R"("say \"hi\"")"}, {"back\\slash", R"("back\\slash")"},
        {"\t\n\r", R"("\t\n\r")"}, {std::string("a\0b", 3), R"("a\0b")"}, {"\x01\x1F\x7F", R"("\u{1}\u{1f}\u{7f}")"},
        {"\xC2\x80\xC2\x9F", R"("\u{80}\u{9f}")"},                         // C1 controls
        {"caf\xC3\xA9 \xE6\x97\xA5 \xF0\x9F\x98\x80", "\"caf\xC3\xA9 \xE6\x97\xA5 \xF0\x9F\x98\x80\""},
        {"\xC2\xA0", R"("\u{a0}")"}, {"\xC2\xAD", R"("\u{ad}")"},          // no-break space, soft hyphen
        {"\xE2\x80\xA8\xE2\x80\xA9", R"("\u{2028}\u{2029}")"},             // line and paragraph separators
        {"\xEE\x80\x80", R"("\u{e000}")"}, {"\xCD\xB8", R"("\u{378}")"},   // private use, unassigned
        {"e\xCC\x81", R"("e\u{301}")"},                                    // combining accent extends
        {"\xE0\xA4\x95\xE0\xA4\xBF", "\"\xE0\xA4\x95\xE0\xA4\xBF\""},      // a spacing vowel sign does not
        {"x\xFFy", "\"x\xEF\xBF\xBDy\""},                                  // ill-formed byte
    };
    for (const auto& [input, expected] : cases) EXPECT_EQ(debug_str(input), expected) << input;
}

TEST(DebugChar, EscapesTheSingleQuoteInsteadOfTheDoubleQuote) {
    const std::pair<char32_t, std::string> cases[] = {
        {U'#', "'#'"}, {U'\'', R"('\'')"}, {U'"', "'\"'"}, {U'\0', R"('\0')"}, {U'\x1b', R"('\u{1b}')"},
        {U'\u00e9', "'\xC3\xA9'"}, {U'\u0301', R"('\u{301}')"}, {U'\U0001F600', "'\xF0\x9F\x98\x80'"},
        {char32_t(0xD800), R"('\u{d800}')"}, {char32_t(0x110000), R"('\u{110000}')"},  // not scalar values
    };
    for (const auto& [c, expected] : cases) EXPECT_EQ(debug_char(c), expected) << expected;
}

TEST(DebugPath, EscapesBothQuotesAndShowsBytesThatAreNotUtf8AsHex) {
    const TextCases cases = {
        {"/tmp/a b.html", R"("/tmp/a b.html")"}, {"/tmp/it's", R"("/tmp/it\'s")"},
        {"/tmp/\"q\"\\", R"("/tmp/\"q\"\\")"}, {"/tmp/caf\xC3\xA9", "\"/tmp/caf\xC3\xA9\""},
        {"/tmp/\xFF\xFE", R"("/tmp/\xFF\xFE")"}, {"/tmp/\xE2\x82x", R"("/tmp/\xE2\x82x")"},
        {"\xC0\xAF", R"("\xC0\xAF")"}, {"\xED\xA0\x80", R"("\xED\xA0\x80")"},  // overlong, surrogate
        {"a\xCC\x81", R"("a\u{301}")"}, {std::string("a\0b", 3), R"("a\0b")"},
    };
    for (const auto& [input, expected] : cases) EXPECT_EQ(debug_path(input), expected) << input;
}

TEST(DebugF64, PrintsShortestRoundTripDigits) {
    const std::pair<double, std::string> cases[] = {
        {0.0, "0.0"}, {-0.0, "-0.0"}, {1.0, "1.0"}, {-3.0, "-3.0"}, {1.5, "1.5"}, {100.0, "100.0"},
        {0.1 + 0.2, "0.30000000000000004"}, {0.0001, "0.0001"}, {0.00001, "1e-5"}, {0.000015, "1.5e-5"},
        {1e15, "1000000000000000.0"}, {9999999999999998.0, "9999999999999998.0"}, {1e16, "1e16"},
        {1.5e16, "1.5e16"}, {1.7976931348623157e308, "1.7976931348623157e308"}, {5e-324, "5e-324"},
        {std::numeric_limits<double>::infinity(), "inf"}, {-std::numeric_limits<double>::infinity(), "-inf"},
        {std::nan(""), "NaN"},
        // Exactly between two shortest candidates: the one farther from zero; otherwise the nearest.
        {1125899906842624.25, "1125899906842624.3"}, {1125899906842624.75, "1125899906842624.8"},
        {-1125899906842624.25, "-1125899906842624.3"}, {2251799813685247.25, "2251799813685247.3"},
        {1125899906842624.5, "1125899906842624.5"}, {1125899906842624.0, "1125899906842624.0"},
    };
    for (const auto& [value, expected] : cases) EXPECT_EQ(debug_f64(value), expected) << expected;
}

}  // namespace
}  // namespace kuv
