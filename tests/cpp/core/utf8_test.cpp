#include "core/utf8.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace kuv {
namespace {

TEST(DecodeUtf8Lossy, ValidTextIsReadInPlaceAndEachMaximalInvalidSubsequenceBecomesOneReplacement) {
    const std::string valid = "plain ascii, caf\xC3\xA9, \xF0\x9F\x98\x80";
    std::string buffer;
    EXPECT_EQ(decode_utf8_lossy(valid, buffer).data(), valid.data());
    const std::string r = "\xEF\xBF\xBD";  // one replacement character
    const std::pair<std::string, std::string> cases[] = {
        {valid, valid}, {"\xFF", r}, {"a\x80" "b", "a" + r + "b"}, {"\xE2\x82", r}, {"\xE2\x82" "x", r + "x"}, {"\xC0\xAF", r + r},
        {"\xED\xA0\x80", r + r + r}, {"\xF0\x80\x80", r + r + r}, {"\xF4\x90\x80\x80", r + r + r + r},  // surrogate, overlong, too high
        {"ok\xF0\x9F\x98\x80\xFF", "ok\xF0\x9F\x98\x80" + r},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(decode_utf8_lossy(in, buffer), out) << ::testing::PrintToString(in);
}

// Long texts are checked in blocks: faults at block edges, at the very end and after long ASCII
// stretches must be found, and sequences that straddle an edge must still be accepted.
TEST(DecodeUtf8Lossy, FaultsAndSequencesAnywhereInLongTexts) {
    const std::string r = "\xEF\xBF\xBD";
    const std::string euro = "\xE2\x82\xAC";
    const std::string emoji = "\xF0\x9F\x98\x80";
    struct Case { std::string in; std::string out; };
    std::vector<Case> cases;
    for (const std::size_t prefix : {0, 1, 15, 16, 31, 32, 62, 63, 64, 65, 127, 128, 4095, 4096, 100'000}) {
        const std::string a(prefix, 'a');
        cases.push_back({a + euro + "z", a + euro + "z"});
        cases.push_back({a + emoji, a + emoji});
        cases.push_back({a + "\xFF", a + r});                                   // at the very end
        cases.push_back({a + "\xE2\x82", a + r});                               // truncated at the end
        cases.push_back({a + "\xED\xA0\x80" + a, a + r + r + r + a});          // surrogate
        cases.push_back({a + "\xC0\xAF" + euro, a + r + r + euro});             // overlong, then valid
        cases.push_back({"\x80" + a + euro, r + a + euro});                      // at the start
    }
    std::string buffer;
    for (const Case& c : cases) {
        EXPECT_EQ(decode_utf8_lossy(c.in, buffer), c.out) << c.in.size();
        if (c.in == c.out) {
            EXPECT_EQ(decode_utf8_lossy(c.in, buffer).data(), c.in.data()) << c.in.size();
        }
    }
}

}  // namespace
}  // namespace kuv
