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

// A group of copies touches at most three blocks; however many groups follow, no more blocks are
// made when every copy is released, on another thread or by a copy moved over it.
TEST(PageCopies, BlocksAreReusedOnceTheirCopiesAreReleasedOnAnyThread) {
    PageCopies copies(8 * kBlock, kBlock);
    for (int round = 0; round < 100; ++round) {
        std::vector<PageCopies::Copy> even, odd;
        for (int i = 0; i < 10; ++i) (i % 2 == 0 ? even : odd).push_back(write(copies, text_of(kBlock / 8, i), kBlock / 4));
        odd.front() = std::move(even.back());
        EXPECT_EQ(odd.front().text(), text_of(kBlock / 8, 8));
        const std::jthread one([taken = std::move(even)]() mutable { taken.clear(); });
        const std::jthread two([taken = std::move(odd)]() mutable { taken.clear(); });
    }
    EXPECT_EQ(copies.block_count(), 3u);
}

}  // namespace
}  // namespace kuv::extract
