#pragma once
// Page dispatch (the first of five sources that yields anything wins) and the two pipelines:
// a batch of in-memory pages extracted in parallel, and files ingested one at a time.
#include "core/builder.hpp"
#include "core/json.hpp"
#include "extract/microdata.hpp"
#include "extract/price.hpp"

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

// Maps and ingests each file in order; unreadable files get a "kuv: skip {:?}: {}" line on stderr.
// Polls for a stop request (kuv::Interrupted) between files.
core::GraphBuilder build_from_files(const std::vector<std::string>& paths);

}  // namespace kuv::extract
