#include "cypher/regex.hpp"

#include "core/error.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace kuv::cypher {
namespace {

Regex compiled(const std::string& pattern) {
    auto result = Regex::compile(pattern);
    if (auto* message = std::get_if<std::string>(&result)) ADD_FAILURE() << pattern << ":\n" << *message;
    return std::move(std::get<Regex>(result));
}

// The rejection text, or "accepted".
std::string rejection(const std::string& pattern) {
    auto result = Regex::compile(pattern);
    if (auto* message = std::get_if<std::string>(&result)) return *message;
    return "accepted";
}

TEST(Regex, SearchesAnywhereWithUnicodeAwareSyntax) {
    const std::tuple<std::string, std::string, bool> cases[] = {
        // A case-sensitive search anywhere, unless the pattern anchors itself.
        {"b.d", "abcde", true}, {"^b", "abc", false}, {"B", "abc", false}, {"(?i)B", "abc", true}, {"", "", true},
        // Classes, . and word boundaries are Unicode-aware.
        {"^.$", "\u00e9", true}, {"^\\d+$", "\u0661\u0662", true}, {"^\\w+$", "caf\u00e9_\u0436\u0663", true},
        {"^\\W$", "\u00e9", false}, {"^\\w+$", "x\u00b2", false}, {"^\\s$", "\u3000", true},
        {"^[\\da]+$", "\u0661a", true}, {"^[^\\W]$", "\u00e9", true}, {"^[\\S]$", "\u2028", false},
        {"^[]\\d]+$", "]\u0661", true}, {"^[[:alpha:]\\d]+$", "a1\u0661", true}, {"^\\\\d$", "\\d", true},
        {"^\\pL\\p{Greek}$", "a\u03b1", true}, {"\u00e9\\b", "caf\u00e9", true}, {"\\b\u00e9", "caf\u00e9", false},
        {"(?i)\u0399", "\u03b9", true}, {"^\\x{e9}\\u00e9$", "\u00e9\u00e9", true},
        // Unicode word boundaries on non-ASCII text, where texts without the rest of the pattern are
        // ruled out before the full search.
        {"\\bLamp\\b", "Cr\u00e8me Lamp 7", true}, {"\\bLamp\\b", "Cr\u00e8me Lampshade", false},
        {"\\bLamp\\b", "Cr\u00e8me Kettle", false}, {"\\B\u00e8", "Cr\u00e8me", true}, {"x\\B|\u00e9\\b", "\u00e9 ", true},
        {"a\\b{2}", "a \u00e9", true}, {"a\\b{2}", "aa\u00e9", false}, {"(?:\\b\u00e9)+", "\u00e9\u00e9", true},
        {"(?-u:\\b)x", "\u00e9x", true}, {"\\bx", "\u00e9x", false},
        // Named groups may be written (?P<name>...) or (?<name>...).
        {"(?P<n>A)b", "Ab", true}, {"^(?<first>a)(?<second>b)$", "ab", true}, {"(?<n>(?<m>x)|y)z", "yz", true},
        // ... but not inside a class or after an escape, where the text stays as written.
        {"^[(?<]+$", "(?<", true}, {"^[a[(?<]]+$", "a?", true}, {"^[](?<]+$", "](", true}, {"^[^](?<]$", "n", true},
        {"\\((?<n>x)", "(x", true}, {"\\p{L}(?<n>1)", "a1", true}, {"\\x{28}?<", "(<", true},
        // Rewritten there, the class would also hold (or exclude) a P.
        {"^[(?<]+$", "P", false}, {"^[a[(?<]]+$", "P", false}, {"^[](?<]+$", "P", false}, {"^[^](?<]$", "P", true},
        {"\\((?<n>x)|^[(?<]$", "P", false},
    };
    for (const auto& [pattern, text, matches] : cases) {
        EXPECT_EQ(compiled(pattern).is_match(text), matches) << pattern << " on " << text;
    }
}

TEST(Regex, RejectedPatternsCarryTheLibrarysDescription) {
    const std::pair<std::string, std::string> cases[] = {
        {"(", "regex parse error:\n    (\n    ^\nerror: unclosed group"},
        {"[z-a]", "regex parse error:\n    [z-a]\n     ^^^\nerror: invalid character class range, the start must be <= the end"},
        {"\\Qa.b\\E", "regex parse error:\n    \\Qa.b\\E\n    ^^\nerror: unrecognized escape sequence"},
        {"\\w{1000}", "Compiled regex exceeds size limit of 10485760 bytes."},
        // An escaped parenthesis opens no group, so nothing is rewritten and the text is the user's.
        {"\\(?<n>x)", "regex parse error:\n    \\(?<n>x)\n           ^\nerror: unopened group"},
        // Nor inside the braces of an escape.
        {"\\p{(?<n>x)}", "regex parse error:\n    \\p{(?<n>x)}\n    ^^^^^^^^^^^\nerror: Unicode property not found"},
        // Look-behinds are not named groups; a named group is checked in the spelling the library reads.
        {"(?<=a)b", "regex parse error:\n    (?<=a)b\n    ^^^^\nerror: look-around, including look-ahead and look-behind, is not supported"},
        {"(?<!a)b", "regex parse error:\n    (?<!a)b\n    ^^^^\nerror: look-around, including look-ahead and look-behind, is not supported"},
        {"(?<n>a", "regex parse error:\n    (?P<n>a\n    ^\nerror: unclosed group"},
        {"(?<1>a)", "regex parse error:\n    (?P<1>a)\n        ^\nerror: invalid capture group character"},
        // Word-boundary assertions this library version does not have.
        {"\\<", "regex parse error:\n    \\<\n    ^^\nerror: unrecognized escape sequence"},
        {"\\>", "regex parse error:\n    \\>\n    ^^\nerror: unrecognized escape sequence"},
        {"\\b{start}", "regex parse error:\n    \\b{start}\n       ^\nerror: repetition quantifier expects a valid decimal"},
        {"\\b{end}", "regex parse error:\n    \\b{end}\n       ^\nerror: repetition quantifier expects a valid decimal"},
        {"\\b{start-half}", "regex parse error:\n    \\b{start-half}\n       ^\nerror: repetition quantifier expects a valid decimal"},
        {"\\b{end-half}", "regex parse error:\n    \\b{end-half}\n       ^\nerror: repetition quantifier expects a valid decimal"},
    };
    for (const auto& [pattern, message] : cases) EXPECT_EQ(rejection(pattern), message) << pattern;
}

// The Fatal message of `work`, or "no failure".
std::string fatal_message(const std::function<void()>& work) {
    try {
        work();
    } catch (const Fatal& failure) {
        return failure.what();
    }
    return "no failure";
}

TEST(Regex, BytesThatAreNotUtf8AreAFatalErrorNotAMismatch) {
    EXPECT_EQ(fatal_message([] { (void)Regex::compile("a\xff"); }),
              "regular-expression pattern is not UTF-8: invalid utf-8 sequence of 1 bytes from index 1");
    const Regex regex = compiled("a");
    EXPECT_EQ(fatal_message([&] { (void)regex.is_match("a\xc3"); }),
              "regular-expression subject is not UTF-8: incomplete utf-8 byte sequence from index 1");
    EXPECT_TRUE(regex.is_match("a"));  // the handle stays usable
}

TEST(Regex, OneCompiledPatternServesSeveralThreadsAtOnce) {
    const Regex regex = compiled("^\\w+ \\d+$");
    std::atomic<int> wrong = 0;
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < 8; ++t) {
            threads.emplace_back([&regex, &wrong, t] {
                for (int i = 0; i < 2000; ++i) {
                    const bool even = (i + t) % 2 == 0;
                    if (regex.is_match(even ? "caf\u00e9 " + std::to_string(i) : "x" + std::to_string(i)) != even) ++wrong;
                }
            });
        }
    }
    EXPECT_EQ(wrong, 0);
}

}  // namespace
}  // namespace kuv::cypher
