// Property reads take only the members a query names from each node's props text, yet a text
// the JSON parser would reject still reads as no properties at all.
#include "cypher/executor.hpp"

#include "core/builder.hpp"
#include "core/json.hpp"
#include "core/store.hpp"
#include "cypher/parser.hpp"
#include "cypher/props_scan.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kuv::cypher {
namespace {

// The rows of `query` over one product per props text, in node order.
std::vector<std::string> rows_over(const std::vector<std::string>& props, const std::string& query) {
    core::GraphBuilder builder;
    for (std::size_t i = 0; i < props.size(); ++i) builder.upsert_node(core::NodeKind::Product, std::to_string(i), "", props[i]);
    const std::string bytes = core::serialize(std::move(builder).build());
    const core::LoadedGraph graph = core::LoadedGraph::from_bytes(bytes);
    std::vector<std::string> rows;
    for (const Row& row : execute(graph, std::get<Query>(parse(query))).rows) rows.push_back(debug_row(row));
    return rows;
}

TEST(PropsScan, ReadsOnlyTopLevelMembersOfValidObjects) {
    const std::pair<std::string, std::string> cases[] = {
        {R"({"a":1,"b":"x"})", R"([Int(1), Str("x")])"}, {R"({"a":[1],"a":2,"b":{"c":1},"b":"7"})", "[Int(2), Int(7)]"},
        {R"({"x":{"a":1},"y":[{"b":2}]})", "[Null, Null]"}, {R"([{"a":1,"b":2}])", "[Null, Null]"},
        // Invalid anywhere, even after the members read: no properties.
        {R"({"a":1,"b":2,"c":})", "[Null, Null]"}, {R"({"a":1,"b":2} x)", "[Null, Null]"},
    };
    for (const auto& [props, row] : cases) {
        EXPECT_EQ(rows_over({props}, "MATCH (p:Product) RETURN p.a, p.b"), std::vector{row}) << props;
    }
}

TEST(PropsScan, EveryQueryKeyIsTakenFromOneScan) {
    const std::vector<std::string> props = {R"({"a":3,"b":"x","c":1.5})", R"({"a":1,"b":"y"})", "not json"};
    EXPECT_EQ(rows_over(props, "MATCH (p:Product) WHERE p.a > 1 OR p.b = 'y' RETURN p.c, p.b ORDER BY p.a"),
              (std::vector<std::string>{R"([Null, Str("y")])", R"([Float(1.5), Str("x")])"}));
    EXPECT_EQ(rows_over(props, "MATCH (p:Product) RETURN count(*)"), (std::vector<std::string>{"[Int(3)]"}));
}

TEST(PropsScan, EscapedNamesAndValuesReadDecodedAndNumbersKeepTheirKinds) {
    const std::pair<std::string, std::string> cases[] = {
        {R"({"\u0061":"\u0037","b":"x\"y"})", R"([Int(7), Str("x\"y")])"},
        {R"({"a":"\u00e9\ud83d\ude00","b":"\u0031\u0032.5"})", "[Str(\"\u00e9\U0001F600\"), Float(12.5)]"},
        {R"({"a":-0,"b":-12})", "[Float(-0.0), Int(-12)]"},
        {R"({"a":123456789012345678,"b":1234567890123456789})", "[Int(123456789012345678), Int(1234567890123456789)]"},
        {R"({"a":18446744073709551615,"b":-9223372036854775808})", "[Float(1.8446744073709552e19), Int(-9223372036854775808)]"},
        {R"({"a":1E2,"b":1e-400})", "[Float(100.0), Float(0.0)]"},
        {R"({"a":"007","b":"-0"})", R"([Str("007"), Int(0)])"},
    };
    for (const auto& [props, row] : cases) {
        EXPECT_EQ(rows_over({props}, "MATCH (p:Product) RETURN p.a, p.b"), std::vector{row}) << props;
    }
}

// Values and whole texts around the edges of the grammar.
const std::vector<std::string> kValues = {
    "null", "true", "false", "0", "-0", "-1", "7", "12.5", "1E+2", "25e-1", "1e-400", "-1e-400", "4.9e-324", "1e308",
    "1.7976931348623157e308", "18446744073709551615", "18446744073709551616", "-9223372036854775808",
    "-9223372036854775809", "123456789012345678", "1234567890123456789", std::string(308, '9'), std::string(309, '9'),
    std::string(310, '9'), "1" + std::string(400, '0') + "e-100", "0." + std::string(400, '0') + "1", "1e400", "-1e400",
    "1e99999999999999999999", "01", "-", "+1", ".5", "5.", "1.e5", "1e", "1e+", "0x10", "NaN", "tru", "nul", "falsey",
    R"("")", R"("x")", R"("\"\\\/\b\f\n\r\t")", R"("\u0041\u00e9\ud83d\ude00")", R"("\ud800")", R"("\udc00")",
    R"("\ud800\u0041")", R"("\u12G4")", R"("\x41")", "\"caf\xC3\xA9\"", "\"\xC3\"", "\"\xED\xA0\x80\"", "\"\xFF\"",
    "\"a\tb\"", std::string("\"\0\"", 3), "\"" + std::string(40, 'z') + "\\n" + std::string(40, 'y') + "\"",
    "[]", "{}", "[1,[2,{}],\"x\"]", R"({"a":[1],"b":{"c":null}})", "[1,]", "{\"a\":1,}", "[", "{\"a\"}",
};

std::vector<std::string> texts_to_compare() {
    std::vector<std::string> texts = {"", " ", "[1]", "\"s\"", "7", " {} ", "\xEF\xBB\xBF{}", "{}}", "{} x", "{}\x0B"};
    for (const std::string& value : kValues) {
        texts.push_back(value);
        texts.push_back("{\"a\":" + value + "}");
        texts.push_back("{\"b\":1, \"a\" :\t" + value + " ,\"c\":[" + value + "]}");
        texts.push_back("{\"a\":" + value + ",\"a\":2}");
    }
    // Every single-byte deletion, replacement and truncation of documents with everything in them,
    // with and without escapes, and with strings running across 64-byte blocks.
    const std::string documents[] = {
        R"({"a":1,"b":[true,false,null,{"c":"\u00e9\ud83d\ude00"}],"c":-0.5e3,"d":"x\"y","\u0061":{"e":[]}, "f":"é"})",
        R"({"a":"a string that runs past the first block of sixty-four bytes","b":[true,{"c":"é€😀"}],)"
        R"("c" : -0.5e3 ,"d":[[],{}],"e":null,"f":"and another one long enough to cross a block edge"})",
    };
    const std::string replacements = "\"\\{}[],:0-e. \x01\xFF" "ut";
    for (const std::string& document : documents) {
        for (std::size_t i = 0; i < document.size(); ++i) {
            texts.push_back(document.substr(0, i));
            texts.push_back(document.substr(0, i) + document.substr(i + 1));
            for (char c : replacements) texts.push_back(document.substr(0, i) + c + document.substr(i + 1));
        }
    }
    return texts;
}

TEST(PropsScan, AcceptsExactlyWhatTheJsonParserAcceptsAndFindsItsMembers) {
    const std::vector<std::string> names = {"a", "b", "c", "d", "e", "f", "missing"};
    PropsScanner scanner(names);
    std::vector<MemberToken> found(names.size());
    for (const std::string& text : texts_to_compare()) {
        const std::optional<Json> parsed = parse_json(text);
        const bool is_object = parsed && parsed->is_object();
        ASSERT_EQ(scanner.scan(text, found), is_object) << text;
        if (!is_object) continue;
        for (std::size_t i = 0; i < names.size(); ++i) {
            const Json* member = json_member(*parsed, names[i]);
            const MemberToken& token = found[i];
            if (member == nullptr) {
                EXPECT_EQ(token.kind, MemberToken::Kind::Absent) << text << " " << names[i];
            } else if (member->is_structured()) {
                EXPECT_EQ(token.kind, MemberToken::Kind::Container) << text << " " << names[i];
            } else {
                // A scalar's token reads, on its own, as the member's value.
                const std::optional<Json> value = parse_json(token.text);
                ASSERT_TRUE(value.has_value()) << text << " " << names[i];
                EXPECT_EQ(*value, *member) << text << " " << names[i];
                EXPECT_EQ(token.escaped, token.text.find('\\') != std::string_view::npos) << text;
            }
        }
    }
}

}  // namespace
}  // namespace kuv::cypher
