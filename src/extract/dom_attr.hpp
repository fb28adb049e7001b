#pragma once
// Products from analytics attributes: ga-product='{...}'.
#include "core/builder.hpp"
#include "core/json.hpp"
#include "extract/price.hpp"

#include <string_view>
#include <vector>

namespace kuv::extract::dom_attr {

std::vector<Json> find_ga_products(std::string_view html);
void ingest_ga_product(core::GraphBuilder& builder, const Json& value, const PriceScale& scale);

}  // namespace kuv::extract::dom_attr
