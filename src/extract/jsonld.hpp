#pragma once
// Products from schema.org JSON-LD blocks: script[type="application/ld+json"].
#include "core/builder.hpp"
#include "core/json.hpp"
#include "extract/dom.hpp"
#include "extract/price.hpp"

#include <vector>

namespace kuv::extract::jsonld {

// Parses every JSON-LD block of the document in order and flattens it into `out`.
void gather(const dom::Document& document, std::vector<Json>& out);
// Flattens one parsed document ("@graph", "itemListElement") into objects.
void collect_objects(Json value, std::vector<Json>& out);
// Writes one Product object with its brand, manufacturer, offers, rating, reviews and authors.
void ingest_jsonld_product(core::GraphBuilder& builder, const Json& object, const PriceScale& scale);

}  // namespace kuv::extract::jsonld
