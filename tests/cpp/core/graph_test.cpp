#include "core/graph.hpp"

#include "core/error.hpp"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace kuv::core {
namespace {

// What `call` returns, or the message of the Fatal it throws.
template <class Call>
std::string outcome(Call call) try { return call(); } catch (const Fatal& fatal) { return fatal.what(); }

TEST(GraphStr, ReturnsValidTextInPlaceAndRefusesBadReferencesOrBytes) {
    const std::string invalid = "string_pool utf8: invalid utf-8 sequence of ";
    const std::tuple<std::string, Str, std::string> cases[] = {  // pool, reference, text or fatal message
        {"x\xff" "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", {2, 14}, "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
        {"abc", {0xffffffffu, 0xffffffffu}, "range end index 8589934590 out of range for slice of length 3"},
        {"ab\x80", {0, 3}, invalid + "1 bytes from index 2"}, {"-ok\xf0\x9f\x98(", {1, 6}, invalid + "3 bytes from index 2"},
        // a byte never used, overlong forms, a surrogate, above U+10FFFF
        {"\xc3\xa9\xe0\x80", {0, 4}, invalid + "1 bytes from index 2"}, {"\xf5\x80", {0, 2}, invalid + "1 bytes from index 0"},
        {"\xc0\xaf", {0, 2}, invalid + "1 bytes from index 0"}, {"\xf0\x8f\xbf\xbf", {0, 4}, invalid + "1 bytes from index 0"},
        {"\xed\xa0\x80", {0, 3}, invalid + "1 bytes from index 0"}, {"\xf4\x90\x80\x80", {0, 4}, invalid + "1 bytes from index 0"},
        {"ab\xc3", {0, 3}, "string_pool utf8: incomplete utf-8 byte sequence from index 2"},
    };
    for (const auto& [pool, str, expected] : cases) {
        const Str s = str;  // a plain variable, so the lambdas below may capture it
        const Graph graph{kGraphMagic, kGraphVersion, {pool.begin(), pool.end()}, {}, {}, {}, {}, {}};
        const auto text_in_place = [&] { return graph.str(s).data() == graph.string_pool.data() + s.offset; };
        EXPECT_EQ(outcome([&] { return text_in_place() ? std::string(graph.str(s)) : "a copy"; }), expected);
    }
}

}  // namespace
}  // namespace kuv::core
