// The substring search reports exactly what std::string_view::find reports.
#include "extract/byte_search.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace kuv::extract {
namespace {

// The search reads copies of exactly their size, with no terminating NUL after them, so the
// sanitizer build catches any read past the end.
void expect_same_as_find(std::string_view haystack, std::string_view needle, std::size_t from) {
    const std::vector<char> exact_haystack(haystack.begin(), haystack.end());
    const std::vector<char> exact_needle(needle.begin(), needle.end());
    const std::string_view searched(exact_haystack.data(), exact_haystack.size());
    const std::string_view sought(exact_needle.data(), exact_needle.size());
    EXPECT_EQ(find_bytes(searched, sought, from), haystack.find(needle, from))
        << ::testing::PrintToString(std::string(needle)) << " from " << from << " in " << haystack.size() << " bytes";
}

TEST(FindBytes, DegenerateArguments) {
    const std::tuple<std::string, std::string, std::size_t> cases[] = {
        {"", "", 0}, {"abc", "", 3}, {"abc", "", 4}, {"", "a", 0}, {"ab", "abc", 0}, {"abc", "abc", 1}, {"xabc", "abc", 99},
    };
    for (const auto& [haystack, needle, from] : cases) expect_same_as_find(haystack, needle, from);
}

// Random texts over a few letters (NUL and bytes above 0x7F among them) give dense, overlapping
// partial matches at every offset; needles planted whole, or with one byte changed, give matches
// and near misses of every length at every position, block boundaries and the very end included.
TEST(FindBytes, AgreesWithFindOnRandomTexts) {
    std::mt19937 random(20260507);
    const std::string alphabet("ab\"\0\xE2\xFF", 6);
    const auto random_text = [&](std::size_t size) {
        std::string text(size, ' ');
        for (char& c : text) c = alphabet[random() % alphabet.size()];
        return text;
    };
    for (int round = 0; round < 1000; ++round) {
        std::string haystack = random_text(random() % 200);
        const std::string needle = random_text(random() % 12);
        if (round % 3 != 0 && !needle.empty() && needle.size() <= haystack.size()) {
            std::string planted = needle;
            if (round % 3 == 2) planted[random() % planted.size()] ^= 1;
            haystack.replace(random() % (haystack.size() - needle.size() + 1), needle.size(), planted);
        }
        for (std::size_t from = 0; from <= haystack.size() + 1; ++from) expect_same_as_find(haystack, needle, from);
    }
}

}  // namespace
}  // namespace kuv::extract
