#pragma once
// Products from the page-data script (id="__NEXT_DATA__").
#include "core/builder.hpp"
#include "core/json.hpp"
#include "extract/price.hpp"

#include <optional>
#include <string_view>
#include <vector>

namespace kuv::extract::next_data {

std::optional<Json> find_next_data(std::string_view html);
// Appends copies of the product-like objects found in `value` to `out`.
void walk(const Json& value, std::vector<Json>& out);
void ingest_next_product(core::GraphBuilder& builder, const Json& value, const PriceScale& scale);

}  // namespace kuv::extract::next_data
