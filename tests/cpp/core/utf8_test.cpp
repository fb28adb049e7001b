#include "core/utf8.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace kuv {
namespace {

// Each maximal invalid subsequence becomes one replacement character; valid text is read in
// place. Long texts are checked in blocks: faults at block edges, at the very end and after long
// ASCII stretches must be found, and sequences that straddle an edge must still be accepted.
TEST(DecodeUtf8Lossy, ReplacesEachMaximalInvalidSubsequenceAnywhereAndReadsValidTextInPlace) {
    const std::string r = "\xEF\xBF\xBD", euro = "\xE2\x82\xAC", emoji = "\xF0\x9F\x98\x80";
    std::vector<std::pair<std::string, std::string>> cases = {
        {"plain ascii, caf\xC3\xA9, " + emoji, "plain ascii, caf\xC3\xA9, " + emoji}, {"a\x80" "b", "a" + r + "b"},
        {"\xE2\x82" "x", r + "x"}, {"\xF0\x80\x80", r + r + r}, {"\xF4\x90\x80\x80", r + r + r + r},  // overlong, too high
        {"ok" + emoji + "\xFF", "ok" + emoji + r},
    };
    for (const std::size_t prefix : {0, 1, 15, 16, 31, 32, 62, 63, 64, 65, 127, 128, 4095, 4096, 100'000}) {
        const std::string a(prefix, 'a');
        cases.insert(cases.end(), {
            {a + euro + "z", a + euro + "z"}, {a + emoji, a + emoji},
            {a + "\xFF", a + r}, {a + "\xE2\x82", a + r},                // at the very end, also truncated
            {a + "\xED\xA0\x80" + a, a + r + r + r + a},                  // surrogate
            {a + "\xC0\xAF" + euro, a + r + r + euro},                    // overlong, then valid
            {"\x80" + a + euro, r + a + euro},                            // at the start
        });
    }
    std::string buffer;
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(decode_utf8_lossy(in, buffer), out) << ::testing::PrintToString(in.substr(0, 200));
        if (in == out) {
            EXPECT_EQ(decode_utf8_lossy(in, buffer).data(), in.data()) << in.size();
        }
    }
}

}  // namespace
}  // namespace kuv
