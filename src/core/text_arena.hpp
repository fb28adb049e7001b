#pragma once
// Append-only storage for the texts a builder holds. Stored bytes never move, so views of them
// stay valid while more is stored, and the blocks can be released one at a time.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string_view>
#include <vector>

namespace kuv::core {

class TextArena {
public:
    // The block of an empty text, which takes no storage.
    static constexpr std::uint32_t kNoBlock = std::numeric_limits<std::uint32_t>::max();

    struct Stored {
        std::string_view text;
        std::uint32_t block;  // the block holding it
    };

    Stored store(std::string_view text);
    std::size_t block_count() const { return blocks_.size(); }
    // Frees a block; texts stored in it must not be read any more.
    void release(std::uint32_t block) { blocks_[block].reset(); }

private:
    // Blocks double up to a ceiling, so small builders stay small and big ones make few blocks.
    // Blocks of the ceiling's size are big enough for the C library to map them on their own,
    // so releasing one returns its memory to the system at once.
    static constexpr std::size_t kFirstBlockBytes = std::size_t{1} << 10;
    static constexpr std::size_t kLargestBlockBytes = std::size_t{32} << 20;

    std::vector<std::unique_ptr<char[]>> blocks_;
    char* cursor_ = nullptr;
    std::size_t left_ = 0;  // bytes free at cursor_, in the last block
    std::size_t next_block_bytes_ = kFirstBlockBytes;
};

}  // namespace kuv::core
