#include "core/text_arena.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kuv::core {
namespace {

TEST(TextArena, StoredTextsStayPutAcrossGrowthAndLargeTexts) {
    TextArena arena;
    std::vector<std::pair<std::string, TextArena::Stored>> stored;
    for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{700}, std::size_t{5000}, std::size_t{40} << 20,
                                   std::size_t{3}, std::size_t{0}}) {
        for (int copy = 0; copy < 3; ++copy) {
            std::string text(size, char('a' + stored.size() % 26));
            stored.emplace_back(text, arena.store(text));
        }
    }
    for (const auto& [text, where] : stored) {
        EXPECT_EQ(where.text, text);
        EXPECT_EQ(where.block == TextArena::kNoBlock, text.empty());
    }
    EXPECT_LT(arena.block_count(), 12u);  // blocks grow; a text larger than a block gets its own
}

}  // namespace
}  // namespace kuv::core
