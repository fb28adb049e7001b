#include "core/json.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <tuple>
#include <string>
#include <vector>

namespace kuv {
namespace {

std::string nested(std::size_t depth, std::string_view open, std::string_view inner, std::string_view close) {
    std::string text;
    for (std::size_t i = 0; i < depth; ++i) text += open;
    text += inner;
    for (std::size_t i = 0; i < depth; ++i) text += close;
    return text;
}

struct Accepted {
    std::string text;
    std::string printed;
};

std::vector<Accepted> accepted_documents() {
    return {
        {"null", "null"}, {" \t\r\n true \n", "true"}, {"false", "false"}, {"0", "0"}, {"-1", "-1"},
        {"18446744073709551615", "18446744073709551615"}, {"-9223372036854775808", "-9223372036854775808"},
        {"[ 1 , [ 2 , { } ] , \"x\" ]", "[1,[2,{}],\"x\"]"}, {R"({"a":[1],"b":2,"a":{"x":3}})", R"({"a":{"x":3},"b":2})"},
        {R"({"b":1,"a":2,"c":{"z":[],"y":null}})", R"({"a":2,"b":1,"c":{"y":null,"z":[]}})"},
        {R"("\"\\\/\b\f\n\r\t")", R"("\"\\/\b\f\n\r\t")"},
        {R"("\u0041\u00e9\u20AC\ud83d\ude00")", "\"A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\""},
        {R"("\u0000\u001f\u007f")", std::string("\"\\u0000\\u001f\x7f\"")},
        {"\"caf\xC3\xA9 \xE6\x97\xA5\"", "\"caf\xC3\xA9 \xE6\x97\xA5\""},
        {R"({"\u0061":1,"b\n":"\u00e9","":""})", "{\"\":\"\",\"a\":1,\"b\\n\":\"\xC3\xA9\"}"},
        {"1.5", "1.5"}, {"5.0", "5.0"}, {"-0", "-0.0"}, {"1E+2", "100.0"}, {"25e-1", "2.5"},
        {"1e-400", "0.0"}, {"-1e-400", "-0.0"}, {"0e99999999999999999999", "0.0"}, {"4.9e-324", "5e-324"},
        {"18446744073709551616", "1.8446744073709552e19"}, {"-9223372036854775809", "-9.223372036854776e18"},
        {"1.7976931348623157e308", "1.7976931348623157e308"},
        // Exponents near and past the 64-bit limits: too small is zero, whatever the digits before them.
        {"0.001e-9223372036854775807", "0.0"}, {"-1e-9223372036854775808", "-0.0"}, {"1e-99999999999999999999999", "0.0"},
        {"12345678901234567890e-9223372036854775807", "0.0"}, {"0.000e9223372036854775807", "0.0"},
    };
}

std::vector<std::string> malformed_documents() {
    return {
        "", " ", "nul", "nulll", "True", "[1,]", "[,1]", "{\"a\":1,}", "{\"a\" 1}", "{a:1}", "{1:2}", "[1 2]", "[", "]",
        "{", "{\"a\":}", "1 2", "\"abc", "'x'", "01", "-01", "-", "+1", ".5", "5.", "1.e5", "1e", "1e+", "0x10", "NaN",
        "-Infinity", "1e400", "-1e400", "1e99999999999999999999", std::string(400, '9'),
        "1e9223372036854775807", "-1e+9223372036854775807", "0.001e9223372036854775807", "1000e9223372036854775806",
        "1e9223372036854775808",
        "\xEF\xBB\xBFnull",  // byte-order mark
        "\"\\ud800\"", "\"\\udc00\"", "\"\\ud800\\u0041\"", "\"\\ud800x\"",  // lone surrogates
        "\"\\x41\"", "\"\\u12\"", "\"\\u12G4\"", "\"\\U0041\"",
        std::string("\"a\tb\""), std::string("\"a\nb\""), std::string("\"\0\"", 3),
        "\"\xC3\"", "\"\xC0\xAF\"", "\"\xED\xA0\x80\"", "\"\xF4\x90\x80\x80\"", "\"\xFF\"", "\"\x80\"",
        "[1]\x0B", "\x0C" "1", "[1] x", "{}}",
        R"({"a":1,"a":2,})", R"({"a":[1,{"b":}]})", R"({"a":"\ud800"})", R"({"a":1e400})",
    };
}

// Same kind and same printed text, at every level.
void expect_same_json(const Json& actual, const Json& expected, const std::string& context) {
    ASSERT_EQ(actual.type(), expected.type()) << context;
    EXPECT_EQ(to_json_text(actual), to_json_text(expected)) << context;
    if (!actual.is_structured() || actual.size() != expected.size()) return;
    for (auto a = actual.begin(), e = expected.begin(); e != expected.end(); ++a, ++e) expect_same_json(*a, *e, context);
}

// The member picker accepts the same documents and finds every top-level member as parsed.
TEST(ParseAndPickJson, AcceptValidDocumentsAndPrintThemCompactly) {
    for (const Accepted& c : accepted_documents()) {
        const std::optional<Json> parsed = parse_json(c.text);
        ASSERT_TRUE(parsed.has_value()) << c.text;
        EXPECT_EQ(to_json_text(*parsed), c.printed) << c.text;
        std::vector<std::string> names{"missing"};
        if (parsed->is_object()) for (const auto& [key, member] : parsed->items()) names.push_back(key);
        const std::optional<PickedMembers> picked = pick_json_members(c.text, names);
        ASSERT_TRUE(picked.has_value()) << c.text;
        EXPECT_EQ(picked->is_object, parsed->is_object()) << c.text;
        ASSERT_EQ(picked->values.size(), names.size()) << c.text;
        EXPECT_FALSE(picked->values[0].has_value()) << c.text;
        for (std::size_t i = 1; i < names.size(); ++i) {
            ASSERT_TRUE(picked->values[i].has_value()) << c.text << " " << names[i];
            expect_same_json(*picked->values[i], parsed->at(names[i]), c.text + " " + names[i]);
        }
    }
}

TEST(ParseAndPickJson, RejectMalformedInput) {
    const std::vector<std::string> name_sets[] = {{}, {"a"}, {"a", "b", "k"}};
    for (const std::string& text : malformed_documents()) {
        EXPECT_FALSE(parse_json(text).has_value()) << text;
        for (const auto& names : name_sets) EXPECT_FALSE(pick_json_members(text, names).has_value()) << text;
    }
}

bool pick_accepts(const std::string& text) { return pick_json_members(text, std::vector<std::string>{"k"}).has_value(); }

TEST(ParseAndPickJson, AllowAtMost127NestedContainersWithoutRecursion) {
    const std::pair<std::string, bool> cases[] = {
        {nested(127, "[", "", "]"), true}, {nested(128, "[", "", "]"), false},
        {nested(126, "{\"k\":", "{}", "}"), true}, {nested(127, "{\"k\":", "{}", "}"), false},
        // Depth counts open containers, not how many were seen.
        {"[" + nested(126, "[", "", "]") + "," + nested(126, "[", "", "]") + "]", true},
        // Far too deep, closed or not.
        {std::string(1'000'000, '['), false}, {nested(100'000, "{\"k\":", "1", "}"), false},
    };
    for (const auto& [text, accepted] : cases) {
        EXPECT_EQ(parse_json(text).has_value(), accepted) << text.size();
        EXPECT_EQ(pick_accepts(text), accepted) << text.size();
    }
}

TEST(PickJsonMembers, BuildsOnlyTheNamedTopLevelMembers) {
    // text, names, printed value per name ("" when absent)
    const std::tuple<std::string, std::vector<std::string>, std::vector<std::string>> cases[] = {
        {R"({"x":{"a":1},"a":2})", {"a", "x"}, {"2", R"({"a":1})"}},
        {R"({"x":{"a":1},"y":[{"a":2}]})", {"a"}, {""}},
        {R"([{"a":1}])", {"a"}, {""}},
        {R"({"a":{"b":[1,{"c":"d"}]},"a":3})", {"a"}, {"3"}},
        {R"({"p":"x","q":{},"r":[],"s":null})", {"r", "q", "p", "s"}, {"[]", "{}", "\"x\"", "null"}},
        {R"({"a\u0062":1,"ab ":2})", {"ab"}, {"1"}},
    };
    for (const auto& [text, names, printed] : cases) {
        const std::optional<PickedMembers> picked = pick_json_members(text, names);
        ASSERT_TRUE(picked.has_value()) << text;
        ASSERT_EQ(picked->values.size(), names.size()) << text;
        for (std::size_t i = 0; i < names.size(); ++i) {
            const std::optional<Json>& value = picked->values[i];
            EXPECT_EQ(value ? to_json_text(*value) : "", printed[i]) << text << " " << names[i];
        }
    }
}

TEST(WriteJson, EscapesOnlyWhatJsonNeedsAndPrintsNumbersByKind) {
    EXPECT_EQ(to_json_text(Json(std::string("q\" b\\ \x01\x08\x0C\n\r\t\x1F\x7F/\xC3\xA9"))),
              "\"q\\\" b\\\\ \\u0001\\b\\f\\n\\r\\t\\u001f\x7F/\xC3\xA9\"");
    Json object = Json::object();
    object["u"] = std::uint64_t(18446744073709551615u);
    object["i"] = std::int64_t(-9223372036854775807 - 1);
    object["f"] = 2.0;
    object["nan"] = std::nan("");
    object["inf"] = std::numeric_limits<double>::infinity();
    EXPECT_EQ(to_json_text(object),
              R"({"f":2.0,"i":-9223372036854775808,"inf":null,"nan":null,"u":18446744073709551615})");
    std::string out = "x";
    write_json(out, Json(true));
    EXPECT_EQ(out, "xtrue");
}

// Shortest digits that parse back to the same value; plain from 1e-5 up to below 1e16.
TEST(WriteJsonFloat, UsesShortestDigitsAndTheDecimalRange) {
    const std::pair<double, std::string> cases[] = {
        {0.0, "0.0"}, {-0.0, "-0.0"}, {100.0, "100.0"}, {-12.345, "-12.345"}, {0.1 + 0.2, "0.30000000000000004"},
        {0.00001, "0.00001"}, {0.000001, "1e-6"}, {-2.5e-10, "-2.5e-10"}, {1e-300, "1e-300"},
        {9999999999999998.0, "9999999999999998.0"}, {1e16, "1e16"}, {123456789012345680.0, "1.2345678901234568e17"},
        {1.7976931348623157e308, "1.7976931348623157e308"}, {5e-324, "5e-324"},
        // Exactly between two shortest candidates: the even one.
        {1125899906842624.25, "1125899906842624.2"}, {1125899906842624.75, "1125899906842624.8"},
    };
    for (const auto& [value, text] : cases) {
        std::string out;
        write_json_float(out, value);
        EXPECT_EQ(out, text);
        const std::optional<Json> parsed = parse_json(out);
        ASSERT_TRUE(parsed.has_value()) << text;
        EXPECT_EQ(parsed->get<double>(), value) << text;
    }
}

}  // namespace
}  // namespace kuv
