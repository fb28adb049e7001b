#include "extract/platform_json.hpp"

#include "extract/byte_search.hpp"

#include <array>

namespace kuv::extract::platform_json {
namespace {

using core::NodeKind;
using core::RelType;

// Keys under which shop platforms write their product arrays, in the order they are tried.
constexpr std::array<std::string_view, 4> kNeedles = {R"("products")", R"("productList")", R"("goods")",
                                                      R"("items")"};

// The end (inclusive) of the JSON array opening at `open`, skipping brackets inside strings;
// npos when the text ends first.
std::size_t matching_bracket(std::string_view text, std::size_t open) {
    int depth = 0;
    bool in_string = false;
    bool escaped = false;
    for (std::size_t i = open; i < text.size(); ++i) {
        const char c = text[i];
        if (in_string) {
            if (escaped) {
                escaped = false;
            } else if (c == '"') {
                in_string = false;
            } else if (c == '\\') {
                escaped = true;
            }
        } else if (c == '"') {
            in_string = true;
        } else if (c == '[') {
            ++depth;
        } else if (c == ']' && --depth == 0) {
            return i;
        }
    }
    return std::string_view::npos;
}

// The non-empty array following the first occurrence of `needle`, if any.
std::optional<std::vector<Json>> array_after(std::string_view html, std::string_view needle) {
    const std::size_t at = find_bytes(html, needle);
    if (at == std::string_view::npos) return std::nullopt;
    const std::size_t open = html.find('[', at + needle.size());
    if (open == std::string_view::npos) return std::nullopt;
    const std::size_t close = matching_bracket(html, open);
    if (close == std::string_view::npos) return std::nullopt;
    std::optional<Json> parsed = parse_json(html.substr(open, close - open + 1));
    if (!parsed || !parsed->is_array() || parsed->empty()) return std::nullopt;
    return std::move(parsed->get_ref<Json::array_t&>());
}

// "name" decides when present, even when it is not a string; then "title".
std::string product_name(const Json& product) {
    if (const Json* name = json_member(product, "name")) return json_string_or_empty(name);
    return json_string_or_empty(json_member(product, "title"));
}

std::string product_id(const Json& product, const std::string& name) {
    const Json* handle = json_member(product, "handle");
    if (handle != nullptr && handle->is_string()) return handle->get<std::string>();
    if (const Json* id = json_member(product, "id")) return to_json_text(*id);
    return name;
}

std::optional<Decimal> decimal_of(const Json& value) {
    if (value.is_string()) return Decimal::parse(value.get_ref<const std::string&>());
    if (value.is_number()) return Decimal::parse(to_json_text(value));
    return std::nullopt;
}

// price_range.min.price, when price_range and min are objects holding it.
const Json* range_min_price(const Json& product) {
    const Json* range = json_member(product, "price_range");
    if (range == nullptr) return nullptr;
    const Json* min = json_member(*range, "min");
    return min == nullptr ? nullptr : json_member(*min, "price");
}

// The price every judgement of this product compares against: "price_min" text, else the
// range's minimum price.
std::optional<Decimal> reference_price(const Json& product) {
    const Json* price_min = json_member(product, "price_min");
    if (price_min != nullptr && price_min->is_string()) {
        if (auto parsed = Decimal::parse(price_min->get_ref<const std::string&>())) return parsed;
    }
    if (const Json* min_price = range_min_price(product)) return decimal_of(*min_price);
    return std::nullopt;
}

// One Variant node per element of "variants" (or, only when that key is absent, "variations").
// Returns whether any variant node was written.
bool ingest_variants(core::GraphBuilder& builder, std::uint32_t product_index, const Json& product,
                     const std::string& id, const PriceScale& scale, const std::optional<Decimal>& reference) {
    const Json* variants = json_member(product, "variants");
    if (variants == nullptr) variants = json_member(product, "variations");
    if (variants == nullptr || !variants->is_array() || variants->empty()) return false;
    for (const Json& variant : *variants) {
        const bool has_members = variant.is_object() && !variant.empty();
        const Json* variant_id = has_members ? json_member(variant, "id") : nullptr;
        const std::string node_id = variant_id != nullptr ? id + "#v" + to_json_text(*variant_id) : id + "#v";
        const std::string name = json_string_or_empty(json_member(variant, "title"));
        const std::string props = with_normalized_price(variant, json_member(variant, "price"), scale, reference);
        builder.upsert_node(NodeKind::Variant, node_id, name, props);
        builder.add_edge(product_index, RelType::HasVariant, node_id);
    }
    return true;
}

void ingest_price_range(core::GraphBuilder& builder, std::uint32_t product_index, const Json& product,
                        const std::string& id, const PriceScale& scale, const std::optional<Decimal>& reference) {
    const Json* range = json_member(product, "price_range");
    if (range == nullptr) return;
    const std::string node_id = id + "#range";
    const std::string props = with_normalized_price(*range, range_min_price(product), scale, reference);
    builder.upsert_node(NodeKind::Variant, node_id, "price_range", props);
    builder.add_edge(product_index, RelType::HasVariant, node_id);
}

}  // namespace

std::optional<std::vector<Json>> find_products_array(std::string_view html) {
    for (std::string_view needle : kNeedles) {
        if (auto found = array_after(html, needle)) return found;
    }
    return std::nullopt;
}

void ingest_product(core::GraphBuilder& builder, const Json& value, const PriceScale& scale) {
    if (!value.is_object() || value.empty()) return;
    const std::string name = product_name(value);
    const std::string id = product_id(value, name);
    if (id.empty()) return;
    const std::optional<Decimal> reference = reference_price(value);
    const std::string props = with_normalized_price(value, json_member(value, "price"), scale, reference);
    const std::uint32_t product_index = builder.upsert_node(NodeKind::Product, id, name, props);
    if (!ingest_variants(builder, product_index, value, id, scale, reference)) {
        ingest_price_range(builder, product_index, value, id, scale, reference);
    }
}

Json normalized_price_map(const Json& value, const Json* raw, const PriceScale& scale,
                          const std::optional<Decimal>& reference) {
    Json map = value.is_object() ? value : Json::object();
    if (const auto verdict = scale.verdict(raw, reference)) verdict->write_into(map);
    return map;
}

std::string with_normalized_price(const Json& value, const Json* raw, const PriceScale& scale,
                                  const std::optional<Decimal>& reference) {
    return to_json_text(normalized_price_map(value, raw, scale, reference));
}

}  // namespace kuv::extract::platform_json
