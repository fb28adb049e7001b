#pragma once
// Products from schema.org JSON-LD blocks: script[type="application/ld+json"].
#include "core/builder.hpp"
#include "core/json.hpp"
#include "extract/dom.hpp"
#include "extract/price.hpp"

#include <cstdint>
#include <string_view>
#include <vector>

namespace kuv::extract::jsonld {

// Parses every JSON-LD block of the document in order and flattens it into `out`.
void gather(const dom::Document& document, std::vector<Json>& out);
// Flattens one parsed document ("@graph", "itemListElement") into objects.
void collect_objects(Json value, std::vector<Json>& out);
// Writes one Product object with its brand, manufacturer, offers, rating, reviews and authors.
// Objects of any other "@type" are skipped.
void ingest_jsonld_product(core::GraphBuilder& builder, const Json& object, const PriceScale& scale);
// Writes the Brand/Organization named by `object[key]` (a string, or an object's "name" string)
// with its relation from `source`; nothing for a missing member, another type or an empty name.
void ingest_named_entity(core::GraphBuilder& builder, const Json& object, std::string_view key, core::NodeKind kind,
                         core::RelType rel, std::uint32_t source);

}  // namespace kuv::extract::jsonld
