#include "extract/page_copies.hpp"

#include <algorithm>
#include <utility>

namespace kuv::extract {

PageCopies::Copy::Copy(Copy&& other) noexcept
    : block_(std::exchange(other.block_, nullptr)), own_(std::move(other.own_)), text_(other.text_) {}

PageCopies::Copy& PageCopies::Copy::operator=(Copy&& other) noexcept {
    if (this != &other) {
        if (block_ != nullptr) block_->owner.release(*block_);
        block_ = std::exchange(other.block_, nullptr);
        own_ = std::move(other.own_);
        text_ = other.text_;
    }
    return *this;
}

PageCopies::Copy::~Copy() {
    if (block_ != nullptr) block_->owner.release(*block_);
}

PageCopies::PageCopies(std::size_t budget_bytes, std::size_t block_bytes)
    : block_bytes_(block_bytes), max_blocks_(budget_bytes / block_bytes) {}

PageCopies::~PageCopies() {
    if (filling_ != nullptr) release(*filling_);
}

char* PageCopies::room(std::size_t max_bytes) {
    room_is_spare_ = false;
    if (max_bytes <= block_bytes_ / 2) {
        if (filling_ == nullptr || block_bytes_ - filled_ < max_bytes) {
            if (filling_ != nullptr) release(*filling_);
            filling_ = next_block();
            filled_ = 0;
        }
        if (filling_ != nullptr) return filling_->bytes.get() + filled_;
    }
    room_is_spare_ = true;
    if (spare_.size() < max_bytes) spare_.resize(max_bytes);
    return spare_.data();
}

PageCopies::Copy PageCopies::take(std::size_t size) {
    if (room_is_spare_) {
        auto own = std::make_unique_for_overwrite<char[]>(size);
        std::copy_n(spare_.begin(), size, own.get());
        const std::string_view text(own.get(), size);
        return Copy(nullptr, std::move(own), text);
    }
    const std::string_view text(filling_->bytes.get() + filled_, size);
    filled_ += size;
    filling_->users.fetch_add(1, std::memory_order_relaxed);  // the writer's own use keeps it alive
    return Copy(filling_, nullptr, text);
}

PageCopies::Block* PageCopies::next_block() {
    std::lock_guard lock(mutex_);
    Block* block = nullptr;
    if (!free_.empty()) {
        block = free_.back();  // the last freed is the likeliest still in the caches
        free_.pop_back();
    } else if (blocks_.size() < max_blocks_) {
        blocks_.push_back(std::make_unique<Block>(*this, block_bytes_));
        block = blocks_.back().get();
    } else {
        return nullptr;
    }
    block->users.store(1, std::memory_order_relaxed);
    return block;
}

void PageCopies::release(Block& block) {
    // Whoever drops the last use has seen every other user's reads finish.
    if (block.users.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    std::lock_guard lock(mutex_);
    free_.push_back(&block);
}

std::size_t PageCopies::block_count() const {
    std::lock_guard lock(mutex_);
    return blocks_.size();
}

}  // namespace kuv::extract
