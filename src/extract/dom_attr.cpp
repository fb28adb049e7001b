#include "extract/dom_attr.hpp"

#include "extract/byte_search.hpp"

#include <string>

namespace kuv::extract::dom_attr {

namespace {

constexpr std::string_view kNeedle = "ga-product='";

bool is_non_empty_object(const Json& value) { return value.is_object() && !value.empty(); }

// The variation list is itself JSON text inside the "variations" string.
std::optional<Json> parse_variations(const Json& record) {
    const std::string* text = json_string(json_member(record, "variations"));
    if (text == nullptr) return std::nullopt;
    auto variations = parse_json(*text);
    if (!variations || !variations->is_array()) return std::nullopt;
    return variations;
}

void ingest_variation(core::GraphBuilder& builder, std::uint32_t product_index, std::string_view product_id,
                      const Json& variation, const PriceScale& scale) {
    if (!is_non_empty_object(variation)) return;
    const std::string key = json_string_or_empty(json_member(variation, "key"));
    if (key.empty()) return;

    std::string variant_id{product_id};
    variant_id += "#v";
    variant_id += key;

    Json props = variation;
    if (const auto verdict = scale.verdict(json_member(variation, "price"), std::nullopt)) {
        verdict->write_into(props);
    }
    builder.upsert_node(core::NodeKind::Variant, variant_id, "", to_json_text(props));
    builder.add_edge(product_index, core::RelType::HasVariant, variant_id);
}

}  // namespace

std::vector<Json> find_ga_products(std::string_view html) {
    std::vector<Json> found;
    std::size_t pos = 0;
    while (true) {
        const std::size_t needle = find_bytes(html, kNeedle, pos);
        if (needle == std::string_view::npos) break;
        const std::size_t start = needle + kNeedle.size();
        const std::size_t end = html.find('\'', start);
        if (end == std::string_view::npos) break;
        if (auto value = parse_json(html.substr(start, end - start))) found.push_back(std::move(*value));
        pos = end + 1;
    }
    return found;
}

void ingest_ga_product(core::GraphBuilder& builder, const Json& value, const PriceScale& scale) {
    if (!is_non_empty_object(value)) return;
    const std::string id = json_string_or_empty(json_member(value, "id"));
    if (id.empty()) return;

    const std::string title = json_string_or_empty(json_member(value, "title"));
    const std::uint32_t product_index = builder.upsert_node(core::NodeKind::Product, id, title, to_json_text(value));

    const auto variations = parse_variations(value);
    if (!variations) return;
    for (const Json& variation : *variations) ingest_variation(builder, product_index, id, variation, scale);
}

}  // namespace kuv::extract::dom_attr
