#include "cypher/props_scan.hpp"

#include "core/json.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kuv::cypher {
namespace {

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
    for (const std::size_t depth : {126, 127}) texts.push_back("{\"a\":" + std::string(depth, '[') + std::string(depth, ']') + "}");
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
