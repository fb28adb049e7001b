#include "extract/page_copies.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

namespace kuv::extract {
namespace {

constexpr std::size_t kBlock = 1 << 16;

// Writes `text` into room for `max_bytes` and takes it as a copy.
PageCopies::Copy write(PageCopies& copies, const std::string& text, std::size_t max_bytes) {
    char* room = copies.room(max_bytes);
    std::copy(text.begin(), text.end(), room);
    return copies.take(text.size());
}

std::string text_of(std::size_t size, int seed) {
    std::string text(size, ' ');
    for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + (i * 7 + static_cast<std::size_t>(seed)) % 26);
    return text;
}

// Copies keep their text whether they sit in blocks, share a block, or have storage of their
// own (too large for half a block, or beyond the budget), and whatever room was asked for.
TEST(PageCopies, EveryCopyKeepsItsTextWhereverItLives) {
    struct Case { std::size_t size, max_bytes; };
    const std::vector<Case> cases = {{0, 0}, {10, 40}, {1000, 4000}, {kBlock / 8, kBlock / 2}, {kBlock / 4, kBlock / 2 + 1},
                                     {kBlock, 4 * kBlock}, {3, 3}, {kBlock / 2, kBlock / 2}};
    for (const std::size_t budget : {std::size_t{0}, kBlock, 8 * kBlock}) {
        PageCopies copies(budget, kBlock);
        std::vector<PageCopies::Copy> kept;
        std::vector<std::string> texts;
        for (int round = 0; round < 5; ++round) {
            for (const Case& c : cases) {
                texts.push_back(text_of(c.size, round));
                kept.push_back(write(copies, texts.back(), c.max_bytes));
            }
        }
        for (std::size_t i = 0; i < kept.size(); ++i) EXPECT_EQ(kept[i].text(), texts[i]) << budget << " copy " << i;
        EXPECT_LE(copies.block_count(), budget / kBlock);
    }
}

TEST(PageCopies, BlocksAreReusedOnceTheirCopiesAreReleased) {
    PageCopies copies(2 * kBlock, kBlock);
    for (int round = 0; round < 100; ++round) {
        std::vector<PageCopies::Copy> group;
        for (int i = 0; i < 10; ++i) group.push_back(write(copies, text_of(kBlock / 8, i), kBlock / 4));
        EXPECT_EQ(group.back().text(), text_of(kBlock / 8, 9));
    }
    EXPECT_EQ(copies.block_count(), 2u);
}

TEST(PageCopies, RoomNotTakenIsReusedAndAMovedCopyKeepsItsText) {
    PageCopies copies(kBlock, kBlock);
    char* const first = copies.room(100);
    const char* const again = copies.room(100);  // nothing taken: the same room
    EXPECT_EQ(first, again);
    PageCopies::Copy copy = write(copies, "hello", 100);
    PageCopies::Copy moved = std::move(copy);
    PageCopies::Copy assigned = write(copies, "other", 100);
    assigned = std::move(moved);
    EXPECT_EQ(assigned.text(), "hello");
}

TEST(PageCopies, CopiesMayBeReleasedOnOtherThreads) {
    PageCopies copies(4 * kBlock, kBlock);
    for (int round = 0; round < 50; ++round) {
        std::vector<PageCopies::Copy> first, second;
        for (int i = 0; i < 40; ++i) (i % 2 == 0 ? first : second).push_back(write(copies, text_of(1000 + i, i), 4000));
        std::thread one([taken = std::move(first)]() mutable { taken.clear(); });
        std::thread two([taken = std::move(second)]() mutable { taken.clear(); });
        one.join();
        two.join();
    }
    EXPECT_LE(copies.block_count(), 4u);
}

}  // namespace
}  // namespace kuv::extract
