#pragma once
// The parallel pipeline for pages held in memory.
#include "core/builder.hpp"
#include "extract/page_copies.hpp"
#include "extract/worker_pool.hpp"

#include <cstddef>
#include <memory>
#include <string_view>
#include <variant>
#include <vector>

namespace kuv::extract {

// Pages extracted on the process-wide worker pool and ingested into the caller's builder in
// input order. Consecutive pages form groups; a worker extracts a group's pages and ingests them
// into a builder of the group's own (all the JSON, price and hashing work), and the calling
// thread absorbs these builders in order, which has the same effect as ingesting every page
// itself. A group is handed to the workers as soon as it is complete, also while later pages
// are still being added. At most kWindow groups are extracted ahead of absorption, and a
// group's builder is freed once absorbed, so memory stays bounded however many pages there are.
//
// A caller that has its builder before adding pages may have finished groups absorbed as they
// come (absorb_early_into), which keeps the workers fed and the page copies recycling while
// later pages are being added.
//
// A page's text is either kept by the caller or written into the stream's own memory, which is
// recycled within a byte budget (see PageCopies) once the page's group is done.
class PageStream {
public:
    // A group closes when it holds this many bytes of page text or this many pages, so its
    // builder stays about as small as its text.
    static constexpr std::size_t kGroupBytes = std::size_t{64} << 10;
    static constexpr std::size_t kGroupPages = 256;
    static constexpr std::size_t kWindow = 1024;
    static constexpr std::size_t kCopyBudget = std::size_t{256} << 20;

    // `window`: the groups extracted ahead of absorption at most; `copy_budget`: the bytes of
    // recycled memory for page copies.
    explicit PageStream(std::size_t window = kWindow, std::size_t copy_budget = kCopyBudget);
    ~PageStream();  // stops extraction and waits for the groups being extracted
    PageStream(const PageStream&) = delete;
    PageStream& operator=(const PageStream&) = delete;

    // UTF-8 text, which must stay valid and unchanged until the stream is destroyed.
    void add(std::string_view page);
    // Room in the stream's memory for a page of at most `max_bytes` of UTF-8 text, valid until
    // the next call; the page written there is added by add_written() with its actual size.
    char* room_for(std::size_t max_bytes) { return copies_.room(max_bytes); }
    void add_written(std::size_t size);
    // From now on, each time a group closes, the groups finished by then are absorbed into
    // `builder` in order; one that failed waits for ingest_into(), which must get this builder.
    void absorb_early_into(core::GraphBuilder& builder) { early_target_ = &builder; }
    // Ingests every page added so far, in order. A kuv::Fatal raised while extracting a page is
    // rethrown when its group's turn comes; a stop request (kuv::Interrupted) ends the wait.
    void ingest_into(core::GraphBuilder& builder);
    // Starts no further extraction and waits for the running ones (the destructor does too).
    void cancel() { batch_.cancel(); }

private:
    using Page = std::variant<std::string_view, PageCopies::Copy>;
    struct Slot {
        std::vector<Page> pages;
        std::unique_ptr<core::GraphBuilder> graph;
    };

    void extract_group(Slot& slot);
    void add_page(Page page, std::size_t size);
    void close_group();
    void release_window();
    void absorb_finished();
    void absorb_next(core::GraphBuilder& builder);  // the next group, which has been extracted

    PageCopies copies_;                // first: outlives every page copy
    std::vector<std::vector<Page>> groups_;  // closed groups; emptied when handed to the workers
    std::vector<Page> open_;           // the pages of the group being filled
    std::size_t open_size_ = 0;
    std::size_t released_ = 0;         // groups handed to the workers
    std::size_t absorbed_ = 0;         // groups absorbed
    std::vector<Slot> slots_;          // group g is extracted into slot g % slots_.size()
    core::GraphBuilder* early_target_ = nullptr;
    WorkerPool::Batch batch_;          // last: destroyed first, while the slots still exist
};

}  // namespace kuv::extract
