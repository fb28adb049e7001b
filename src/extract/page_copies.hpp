#pragma once
// Copies of page text on their way to the workers, packed into recycled blocks.
#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

namespace kuv::extract {

// Copies are written one after another into large blocks: the writer asks for room for the
// most a page can take, writes it there, and takes as a copy only what it wrote. A block is
// reused once every copy in it has been released and the writing has moved on to another block,
// so a long run of pages touches fresh memory only until the blocks in use stop growing. The
// blocks stay within a byte budget. A page that finds no room in them, or might take more than
// half a block, is written into a spare buffer that is reused from page to page and copied from
// there into storage of its own, of exactly its size, freed when it is released.
//
// One thread at a time writes copies; copies may be released on any thread.
class PageCopies {
    struct Block;

public:
    static constexpr std::size_t kBlockBytes = std::size_t{16} << 20;

    // One page's text. Destroying it releases its place in its block, or its own storage.
    class Copy {
    public:
        Copy(Copy&& other) noexcept;
        Copy& operator=(Copy&& other) noexcept;
        ~Copy();

        std::string_view text() const { return text_; }

    private:
        friend class PageCopies;
        Copy(Block* block, std::unique_ptr<char[]> own, std::string_view text)
            : block_(block), own_(std::move(own)), text_(text) {}

        Block* block_;  // null for storage of its own
        std::unique_ptr<char[]> own_;
        std::string_view text_;
    };

    explicit PageCopies(std::size_t budget_bytes, std::size_t block_bytes = kBlockBytes);
    ~PageCopies();  // every copy must be released by then
    PageCopies(const PageCopies&) = delete;
    PageCopies& operator=(const PageCopies&) = delete;

    // Room for up to `max_bytes`, valid until the next call to room().
    char* room(std::size_t max_bytes);
    // The first `size` bytes of the last room as a copy.
    Copy take(std::size_t size);

    std::size_t block_count() const;  // blocks made so far

private:
    struct Block {
        Block(PageCopies& owner, std::size_t size)
            : owner(owner), bytes(std::make_unique_for_overwrite<char[]>(size)) {}
        PageCopies& owner;
        std::unique_ptr<char[]> bytes;
        std::atomic<std::size_t> users = 0;  // copies in it, plus one while copies are added to it
    };

    Block* next_block();     // a free or new block with one user, or null when the budget is spent
    void release(Block& block);  // the last user puts it back for reuse

    const std::size_t block_bytes_;
    const std::size_t max_blocks_;
    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<Block>> blocks_;  // guarded by mutex_
    std::vector<Block*> free_;                    // guarded by mutex_; the last freed is reused first
    Block* filling_ = nullptr;                    // the block copies go into
    std::size_t filled_ = 0;                      // its bytes taken
    std::vector<char> spare_;                     // room outside the blocks
    bool room_is_spare_ = false;
};

}  // namespace kuv::extract
