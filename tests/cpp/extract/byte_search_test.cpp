// The substring search reports exactly what std::string_view::find reports.
#include "extract/byte_search.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace kuv::extract {
namespace {

void expect_same_as_find(std::string_view haystack, std::string_view needle, std::size_t from) {
    EXPECT_EQ(find_bytes(haystack, needle, from), haystack.find(needle, from))
        << ::testing::PrintToString(std::string(needle)) << " from " << from << " in " << haystack.size() << " bytes";
}

TEST(FindBytes, EdgeCases) {
    const std::string pad(70, '.');
    struct Case { std::string haystack; std::string needle; std::size_t from = 0; };
    const std::vector<Case> cases = {
        {"", ""}, {"abc", ""}, {"abc", "", 3}, {"abc", "", 4}, {"", "a"}, {"ab", "abc"}, {"abc", "abc"}, {"abc", "c", 3},
        {"abc", "abc", 1}, {"xabc", "abc", 99}, {"a", "a"}, {"ba", "a", 1}, {std::string("\0\0x", 3), std::string("\0x", 2)},
        // The needle at the very end, also right after a block of 32 start positions.
        {pad + "\"items\"", "\"items\""}, {std::string(25, '.') + "\"items\"", "\"items\""},
        {std::string(32, '.') + "ab", "ab"}, {std::string(31, '.') + "abc", "abc"}, {pad + "\"items", "\"items\""},
        // Overlapping and near-miss candidates: the probed bytes match but the rest does not.
        {"aaaaaaaab", "aaab"}, {"\"item\"items\"", "\"items\""}, {pad + "\"itemx\"\"items\"" + pad, "\"items\""},
        {pad + "\"\"products\"", "\"products\""}, {"abab" + pad + "abab", "abab", 1}, {pad + "aXa" + pad + "aaa", "aaa"},
        // Bytes above 0x7F, as in currency symbols and invalid text.
        {pad + "\xE2\x82\xAC", "\xE2\x82\xAC"}, {pad + "\xE2\x82\xFF\xAC\xE2\x82\xAC", "\xE2\x82\xAC"},
        {pad + "NT\xEF\xBF\xBD$NT$", "NT$"}, {"\xFF\xFF\xFE", "\xFF\xFE"},
        // Starting points inside, before and after a match.
        {pad + "key" + pad + "key", "key", 71}, {pad + "key" + pad + "key", "key", 70}, {pad + "key", "key", pad.size() + 1},
    };
    for (const Case& c : cases) expect_same_as_find(c.haystack, c.needle, c.from);
}

// Random texts over a few letters give dense, overlapping partial matches at every offset.
TEST(FindBytes, AgreesWithFindOnRandomTexts) {
    std::mt19937 random(20260507);
    const std::string alphabet = "ab\"\xE2";
    const auto random_text = [&](std::size_t size) {
        std::string text(size, ' ');
        for (char& c : text) c = alphabet[random() % alphabet.size()];
        return text;
    };
    for (int round = 0; round < 300; ++round) {
        const std::string haystack = random_text(random() % 200);
        const std::string needle = random_text(1 + random() % 6);
        for (std::size_t from = 0; from <= haystack.size() + 1; ++from) expect_same_as_find(haystack, needle, from);
    }
}

}  // namespace
}  // namespace kuv::extract
