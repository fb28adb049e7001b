#pragma once
// Products from the page-data script (id="__NEXT_DATA__").
#include "core/builder.hpp"
#include "core/json.hpp"
#include "extract/price.hpp"

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kuv::extract::next_data {

std::optional<Json> find_next_data(std::string_view html);
// Appends copies of the product-like objects found in `value` to `out`.
void walk(const Json& value, std::vector<Json>& out);
void ingest_next_product(core::GraphBuilder& builder, const Json& value, const PriceScale& scale);

// True for an object with a key that looks like a name and one that looks like a price
// (ASCII case-insensitive substrings of its keys).
bool is_product_like(const Json& object);
// The value of the first of `keys` that `object` holds as a JSON string (empty counts).
std::optional<std::string> first_str(const Json& object, std::initializer_list<std::string_view> keys);
// The object's members with the normalised price keys written in, as compact JSON text.
std::string props_with_price(const Json& object, const PriceScale& scale);

}  // namespace kuv::extract::next_data
