#include "core/text_arena.hpp"

#include <algorithm>
#include <cstring>

namespace kuv::core {

TextArena::Stored TextArena::store(std::string_view text) {
    if (text.empty()) return {{}, kNoBlock};
    if (text.size() > left_) {
        const std::size_t size = std::max(next_block_bytes_, text.size());
        next_block_bytes_ = std::min(next_block_bytes_ * 2, kLargestBlockBytes);
        blocks_.push_back(std::make_unique_for_overwrite<char[]>(size));
        cursor_ = blocks_.back().get();
        left_ = size;
    }
    std::memcpy(cursor_, text.data(), text.size());
    const Stored stored{{cursor_, text.size()}, static_cast<std::uint32_t>(blocks_.size() - 1)};
    cursor_ += text.size();
    left_ -= text.size();
    return stored;
}

}  // namespace kuv::core
