#include "extract/page_stream.hpp"

#include "core/interrupt.hpp"
#include "extract/pipeline.hpp"

#include <utility>

namespace kuv::extract {
namespace {

std::string_view text_of(const std::variant<std::string_view, PageCopies::Copy>& page) {
    if (const auto* copy = std::get_if<PageCopies::Copy>(&page)) return copy->text();
    return std::get<std::string_view>(page);
}

}  // namespace

PageStream::PageStream(std::size_t window, std::size_t copy_budget)
    : copies_(copy_budget), slots_(window), batch_(WorkerPool::shared(), [this](std::size_t group) {
          extract_group(slots_[group % slots_.size()]);
      }) {}

PageStream::~PageStream() = default;

void PageStream::extract_group(Slot& slot) {
    auto graph = std::make_unique<core::GraphBuilder>();
    for (const Page& page : slot.pages) {
        const auto [extract, scale] = extract_page(text_of(page));
        extract::ingest_into(*graph, extract, scale);
    }
    slot.pages.clear();  // releases the copies
    slot.graph = std::move(graph);
}

void PageStream::add(std::string_view page) { add_page(page, page.size()); }

void PageStream::add_written(std::size_t size) { add_page(copies_.take(size), size); }

void PageStream::add_page(Page page, std::size_t size) {
    open_.push_back(std::move(page));
    open_size_ += size;
    if (open_size_ >= kGroupBytes || open_.size() >= kGroupPages) {
        close_group();
        release_window();
        absorb_finished();
    }
}

void PageStream::close_group() {
    if (open_.empty()) return;
    groups_.push_back(std::move(open_));
    open_.clear();
    open_size_ = 0;
}

void PageStream::release_window() {
    const std::size_t before = released_;
    for (; released_ < groups_.size() && released_ < absorbed_ + slots_.size(); ++released_) {
        slots_[released_ % slots_.size()].pages = std::move(groups_[released_]);
    }
    if (released_ != before) batch_.release(released_);
}

void PageStream::absorb_finished() {
    if (early_target_ == nullptr) return;
    const std::size_t before = absorbed_;
    while (absorbed_ < released_ && batch_.succeeded(absorbed_)) absorb_next(*early_target_);
    if (absorbed_ != before) release_window();
}

void PageStream::absorb_next(core::GraphBuilder& builder) {
    Slot& slot = slots_[absorbed_ % slots_.size()];
    builder.absorb(*slot.graph);
    slot.graph.reset();
    ++absorbed_;
}

void PageStream::ingest_into(core::GraphBuilder& builder) {
    close_group();
    while (absorbed_ < groups_.size()) {
        poll_interrupt();  // also when the workers are always ahead
        release_window();
        batch_.wait(absorbed_);
        absorb_next(builder);
    }
}

}  // namespace kuv::extract
