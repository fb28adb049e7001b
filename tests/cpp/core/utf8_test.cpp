#include "core/utf8.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>

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

}  // namespace
}  // namespace kuv
