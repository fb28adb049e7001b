#include "core/text_table.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kuv::core {
namespace {

// Colliding hashes: texts are still found by their own bytes, across growth and after a reserve.
TEST(TextTable, FindsEveryTextAndNoOtherUnderCollidingHashes) {
    using Hash = TextHash (*)(std::uint32_t);
    const std::pair<Hash, std::uint32_t> cases[] = {  // hash of text i, text count
        {[](std::uint32_t) -> TextHash { return 1; }, 300},
        {[](std::uint32_t i) -> TextHash { return TextHash(i + 1) << 20; }, 3000},  // same low bits
    };
    for (const auto& [hash, count] : cases) {
        for (const std::size_t reserved : {std::size_t{0}, std::size_t{3000}}) {
            std::vector<std::string> texts;
            TextTable<std::uint32_t> table;
            table.reserve(reserved);
            const auto text_of = [&texts](std::uint32_t i) -> std::string_view { return texts.at(i); };
            for (std::uint32_t i = 0; i < count; ++i) {
                texts.push_back("t" + std::to_string(i));
                table.insert(hash(i), i);
            }
            EXPECT_EQ(table.size(), count);
            for (std::uint32_t i = 0; i < count; ++i) {
                const std::uint32_t* found = table.find(texts[i], hash(i), text_of);
                ASSERT_TRUE(found && *found == i) << count << " " << i;
                EXPECT_FALSE(table.find("u" + std::to_string(i), hash(i), text_of)) << count << " " << i;
            }
        }
    }
}

}  // namespace
}  // namespace kuv::core
