#include "extract/page_stream.hpp"

#include "core/interrupt.hpp"
#include "extract/pipeline.hpp"

namespace kuv::extract {

PageStream::PageStream(std::size_t window)
    : slots_(window),
      batch_(WorkerPool::shared(), [this](std::size_t group) {
          Slot& slot = slots_[group % slots_.size()];
          auto graph = std::make_unique<core::GraphBuilder>();
          for (const std::string_view page : slot.pages) {
              const auto [extract, scale] = extract_page(page);
              extract::ingest_into(*graph, extract, scale);
          }
          slot.graph = std::move(graph);
      }) {}

PageStream::~PageStream() = default;

void PageStream::add(std::string_view page) {
    pages_.push_back(page);
    open_bytes_ += page.size();
    if (open_bytes_ >= kGroupBytes || pages_.size() - open_first_ >= kGroupPages) {
        close_group();
        release_window();
    }
}

void PageStream::close_group() {
    if (open_first_ == pages_.size()) return;
    groups_.push_back({open_first_, pages_.size()});
    open_first_ = pages_.size();
    open_bytes_ = 0;
}

void PageStream::release_window() {
    const std::size_t before = released_;
    for (; released_ < groups_.size() && released_ < absorbed_ + slots_.size(); ++released_) {
        const Group& group = groups_[released_];
        slots_[released_ % slots_.size()].pages.assign(pages_.begin() + group.first_page, pages_.begin() + group.end_page);
    }
    if (released_ != before) batch_.release(released_);
}

void PageStream::ingest_into(core::GraphBuilder& builder) {
    close_group();
    for (; absorbed_ < groups_.size(); ++absorbed_) {
        poll_interrupt();  // also when the workers are always ahead
        release_window();
        batch_.wait(absorbed_);
        Slot& slot = slots_[absorbed_ % slots_.size()];
        builder.absorb(*slot.graph);
        slot.graph.reset();
    }
}

}  // namespace kuv::extract
