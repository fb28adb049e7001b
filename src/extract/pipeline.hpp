#pragma once
// Page dispatch (the first of five sources that yields anything wins) and the two pipelines:
// a batch of in-memory pages extracted in parallel, and files ingested one at a time.
#include "core/builder.hpp"
#include "core/json.hpp"
#include "extract/microdata.hpp"
#include "extract/price.hpp"
#include "extract/worker_pool.hpp"

#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace kuv::extract {

struct PlatformProducts { std::vector<Json> values; };
struct GaProducts { std::vector<Json> values; };
struct NextDataProducts { std::vector<Json> values; };
struct MicrodataProducts { std::vector<microdata::MicrodataProduct> records; };
struct JsonLdObjects { std::vector<Json> values; };
struct NoProducts {};

// In source priority order.
using PageExtract = std::variant<PlatformProducts, GaProducts, NextDataProducts, MicrodataProducts,
                                 JsonLdObjects, NoProducts>;

std::pair<PageExtract, PriceScale> extract_page(std::string_view html);
void ingest_into(core::GraphBuilder& builder, const PageExtract& page, const PriceScale& scale);

// Pages extracted on the process-wide worker pool and ingested on the calling thread in input
// order. Extraction of a page starts as soon as it is added, also while later pages are still
// being added; at most kWindow pages are extracted ahead of ingestion, and each result is freed
// once ingested, so memory stays bounded however many pages there are.
class PageStream {
public:
    static constexpr std::size_t kWindow = std::size_t{1} << 14;

    PageStream();
    ~PageStream();  // stops extraction and waits for the pages being extracted
    PageStream(const PageStream&) = delete;
    PageStream& operator=(const PageStream&) = delete;

    // The text must stay valid and unchanged until the stream is destroyed.
    void add(std::string_view page);
    // Ingests every page added so far, in order. A kuv::Fatal raised while extracting a page is
    // rethrown when that page's turn comes; a stop request (kuv::Interrupted) ends the wait.
    void ingest_into(core::GraphBuilder& builder);

private:
    struct Slot;
    void release_window();

    std::vector<std::string_view> pages_;
    std::vector<Slot> slots_;      // page i is extracted into slot i % kWindow
    std::size_t released_ = 0;     // pages handed to the workers
    std::size_t ingested_ = 0;
    WorkerPool::Batch batch_;  // last: destroyed first, while the slots still exist
};

// Maps and ingests each file in order; unreadable files get a "kuv: skip {:?}: {}" line on stderr.
// Polls for a stop request (kuv::Interrupted) between files.
core::GraphBuilder build_from_files(const std::vector<std::string>& paths);

}  // namespace kuv::extract
