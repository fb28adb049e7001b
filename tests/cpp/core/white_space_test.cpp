#include "core/white_space.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kuv {
namespace {

TEST(TrimWhiteSpace, TrimsUnicodeWhiteSpaceOnBothEnds) {
    struct Case { std::string text; std::string expected; };
    const std::vector<Case> cases = {
        {"", ""},
        {" \t\n\r\f\v", ""},
        {" a b ", "a b"},
        {"\xC2\xA0x\xE3\x80\x80", "x"},                    // NBSP, ideographic space
        {"\xE2\x80\xA8\xC2\x85x\xE2\x80\xAF", "x"},        // line separator, NEL, narrow NBSP
        {"\xEF\xBB\xBFx", "\xEF\xBB\xBFx"},                // a byte-order mark is not white space
        {"\xE2\x80\x8Bx\xE2\x80\x8B", "\xE2\x80\x8Bx\xE2\x80\x8B"},  // nor is a zero-width space
        {" \xA0x\xC2 ", "\xA0x\xC2"},                      // stray bytes stop the trim
        {" \xE3\x80 ", "\xE3\x80"},                        // a truncated sequence too
        {"\xC3\xA9 ", "\xC3\xA9"},
    };
    for (const Case& c : cases) EXPECT_EQ(trim_white_space(c.text), c.expected) << c.text;
}

}  // namespace
}  // namespace kuv
