#pragma once
// The parallel pipeline for pages held in memory.
#include "core/builder.hpp"
#include "extract/worker_pool.hpp"

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

namespace kuv::extract {

// Pages extracted on the process-wide worker pool and ingested into the caller's builder in
// input order. Consecutive pages form groups; a worker extracts a group's pages and ingests them
// into a builder of the group's own (all the JSON, price and hashing work), and the calling
// thread absorbs these builders in order, which has the same effect as ingesting every page
// itself. A group is handed to the workers as soon as it is complete, also while later pages
// are still being added. At most kWindow groups are extracted ahead of absorption, and a
// group's builder is freed once absorbed, so memory stays bounded however many pages there are
// (the page texts themselves belong to the caller).
class PageStream {
public:
    // A group closes when it holds this many bytes of page text or this many pages, so its
    // builder stays about as small as its text.
    static constexpr std::size_t kGroupBytes = std::size_t{64} << 10;
    static constexpr std::size_t kGroupPages = 256;
    static constexpr std::size_t kWindow = 1024;

    // `window`: the groups extracted ahead of absorption at most.
    explicit PageStream(std::size_t window = kWindow);
    ~PageStream();  // stops extraction and waits for the groups being extracted
    PageStream(const PageStream&) = delete;
    PageStream& operator=(const PageStream&) = delete;

    // The text must stay valid and unchanged until the stream is destroyed.
    void add(std::string_view page);
    // Ingests every page added so far, in order. A kuv::Fatal raised while extracting a page is
    // rethrown when its group's turn comes; a stop request (kuv::Interrupted) ends the wait.
    void ingest_into(core::GraphBuilder& builder);
    // Starts no further extraction and waits for the running ones (the destructor does too).
    void cancel() { batch_.cancel(); }

private:
    struct Group {
        std::size_t first_page;
        std::size_t end_page;
    };
    struct Slot {
        std::vector<std::string_view> pages;
        std::unique_ptr<core::GraphBuilder> graph;
    };

    void close_group();
    void release_window();

    std::vector<std::string_view> pages_;
    std::vector<Group> groups_;        // closed groups
    std::size_t open_first_ = 0;       // the first page of the open group
    std::size_t open_bytes_ = 0;
    std::size_t released_ = 0;         // groups handed to the workers
    std::size_t absorbed_ = 0;         // groups absorbed
    std::vector<Slot> slots_;          // group g is extracted into slot g % slots_.size()
    WorkerPool::Batch batch_;          // last: destroyed first, while the slots still exist
};

}  // namespace kuv::extract
