#pragma once
// Products from a shop platform's inline JSON array ("products", "productList", "goods", "items").
#include "core/builder.hpp"
#include "core/json.hpp"
#include "extract/price.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kuv::extract::platform_json {

std::optional<std::vector<Json>> find_products_array(std::string_view html);
void ingest_product(core::GraphBuilder& builder, const Json& value, const PriceScale& scale);

// A copy of `value`'s members (empty when not an object) with the verdict's price keys written
// when `raw` yields one. Shared with the JSON-LD source.
Json normalized_price_map(const Json& value, const Json* raw, const PriceScale& scale,
                          const std::optional<Decimal>& reference);
// Text of that map, the props of every node this source writes.
std::string with_normalized_price(const Json& value, const Json* raw, const PriceScale& scale,
                                  const std::optional<Decimal>& reference);


}  // namespace kuv::extract::platform_json
