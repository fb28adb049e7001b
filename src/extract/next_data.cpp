#include "extract/next_data.hpp"

#include "core/white_space.hpp"
#include "extract/byte_search.hpp"

#include <algorithm>
#include <array>

namespace kuv::extract::next_data {

namespace {

constexpr std::string_view kMarker = R"(id="__NEXT_DATA__")";
constexpr std::string_view kScriptEnd = "</script>";

constexpr std::array<std::string_view, 2> kNameNeedles{"name", "title"};
constexpr std::array<std::string_view, 3> kPriceNeedles{"price", "amount", "cost"};
constexpr std::array<std::string_view, 4> kPriceKeys{"price", "salePrice", "amount", "priceValue"};
constexpr std::array<std::string_view, 4> kVariantListKeys{"variants", "variations", "skus", "options"};

std::string ascii_lower(std::string_view text) {
    std::string lowered{text};
    std::ranges::transform(lowered, lowered.begin(),
                           [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return lowered;
}

template <std::size_t N>
bool has_key_containing(const Json& object, const std::array<std::string_view, N>& needles) {
    for (const auto& member : object.items()) {
        const std::string lowered = ascii_lower(member.key());
        const auto contains = [&](std::string_view needle) { return lowered.find(needle) != std::string::npos; };
        if (std::ranges::any_of(needles, contains)) return true;
    }
    return false;
}

bool is_product_array(const Json& array) {
    return !array.empty() &&
           std::ranges::all_of(array, [](const Json& element) { return is_product_like(element); });
}

// The first of `keys` present in `object`, whatever its type.
template <std::size_t N>
const Json* first_present(const Json& object, const std::array<std::string_view, N>& keys) {
    for (const std::string_view key : keys) {
        if (const Json* value = json_member(object, key)) return value;
    }
    return nullptr;
}

const Json* variant_list(const Json& product) {
    for (const std::string_view key : kVariantListKeys) {
        const Json* value = json_member(product, key);
        if (value != nullptr && value->is_array()) return value;
    }
    return nullptr;
}

void ingest_variant(core::GraphBuilder& builder, std::uint32_t product_index, const std::string& product_id,
                    const Json& variant, const PriceScale& scale) {
    std::string variant_id = product_id + "#v";
    if (const auto own_id = first_str(variant, {"id", "sku"})) variant_id += *own_id;
    const std::string name = first_str(variant, {"title", "name"}).value_or("");
    builder.upsert_node(core::NodeKind::Variant, variant_id, name, props_with_price(variant, scale));
    builder.add_edge(product_index, core::RelType::HasVariant, variant_id);
}

}  // namespace

std::optional<Json> find_next_data(std::string_view html) {
    const std::size_t marker = find_bytes(html, kMarker);
    if (marker == std::string_view::npos) return std::nullopt;
    const std::size_t tag_end = html.find('>', marker);
    if (tag_end == std::string_view::npos) return std::nullopt;
    const std::size_t start = tag_end + 1;
    const std::size_t end = find_bytes(html, kScriptEnd, start);
    if (end == std::string_view::npos) return std::nullopt;
    return parse_json(trim_white_space(html.substr(start, end - start)));
}

bool is_product_like(const Json& object) {
    return object.is_object() && has_key_containing(object, kNameNeedles) &&
           has_key_containing(object, kPriceNeedles);
}

// Depth-first with an explicit stack, so the visiting order is that of a recursive walk:
// array elements in order, object members in key order.
void walk(const Json& value, std::vector<Json>& out) {
    std::vector<const Json*> pending{&value};
    const auto push_children_reversed = [&pending](const Json& container) {
        for (auto it = container.crbegin(); it != container.crend(); ++it) pending.push_back(&*it);
    };
    while (!pending.empty()) {
        const Json& current = *pending.back();
        pending.pop_back();
        if (current.is_array()) {
            if (is_product_array(current)) {
                out.insert(out.end(), current.begin(), current.end());
            } else {
                push_children_reversed(current);
            }
        } else if (current.is_object()) {
            push_children_reversed(current);
        }
    }
}

std::optional<std::string> first_str(const Json& object, std::initializer_list<std::string_view> keys) {
    for (const std::string_view key : keys) {
        if (const std::string* text = json_string(json_member(object, key))) return *text;
    }
    return std::nullopt;
}

std::string props_with_price(const Json& object, const PriceScale& scale) {
    Json props = object;
    if (const auto verdict = scale.verdict(first_present(object, kPriceKeys), std::nullopt)) {
        verdict->write_into(props);
    }
    return to_json_text(props);
}

void ingest_next_product(core::GraphBuilder& builder, const Json& value, const PriceScale& scale) {
    if (!value.is_object()) return;
    const std::string name = first_str(value, {"name", "title", "productName"}).value_or("");
    const std::string id = first_str(value, {"id", "sku", "handle", "productId"}).value_or(name);
    if (id.empty()) return;

    const std::uint32_t product_index =
        builder.upsert_node(core::NodeKind::Product, id, name, props_with_price(value, scale));

    const Json* variants = variant_list(value);
    if (variants == nullptr) return;
    for (const Json& variant : *variants) {
        if (variant.is_object()) ingest_variant(builder, product_index, id, variant, scale);
    }
}

}  // namespace kuv::extract::next_data
