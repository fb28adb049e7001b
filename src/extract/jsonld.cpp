#include "extract/jsonld.hpp"

#include "extract/platform_json.hpp"

#include <string>

namespace kuv::extract::jsonld {
namespace {

using core::NodeKind;
using core::RelType;

// `parent[key]` for a parent that may itself be missing.
const Json* member_of(const Json* parent, std::string_view key) {
    return parent == nullptr ? nullptr : json_member(*parent, key);
}

std::string text_or_empty(const Json* value) { return value != nullptr ? to_json_text(*value) : std::string{}; }

// Moves `object[key]` out of the object; nullopt when absent.
std::optional<Json> take_member(Json& object, std::string_view key) {
    auto& members = object.get_ref<Json::object_t&>();
    const auto found = members.find(key);
    if (found == members.end()) return std::nullopt;
    return std::move(found->second);
}

bool is_product_type(const Json& value) {
    const std::string* text = json_string(&value);
    return text != nullptr && *text == "Product";
}

bool is_product(const Json& object) {
    const Json* type = json_member(object, "@type");
    if (type == nullptr) return false;
    if (!type->is_array()) return is_product_type(*type);
    for (const Json& element : *type) {
        if (is_product_type(element)) return true;
    }
    return false;
}

// The first present of "@id", "sku", "url" decides; a non-string there gives the name.
std::string product_id(const Json& product, const std::string& name) {
    for (std::string_view key : {"@id", "sku", "url"}) {
        if (const Json* value = json_member(product, key)) return value->is_string() ? value->get<std::string>() : name;
    }
    return name;
}

// The offer whose price and terms describe the product: a lone offer, or the first of a list.
const Json* reference_offer(const Json& product) {
    const Json* offers = json_member(product, "offers");
    if (offers == nullptr || !offers->is_array()) return offers;
    return offers->empty() ? nullptr : &offers->front();
}

void copy_if_present(Json& props, const char* key, const Json* value) {
    if (value != nullptr) props[key] = *value;
}

// Keeps the text after the last '/', so schema.org enumeration URLs give their last segment.
void copy_last_segment(Json& props, const char* key, const Json* value) {
    const std::string* text = json_string(value);
    if (text != nullptr) props[key] = text->substr(text->rfind('/') + 1);
}

void add_offer_terms(Json& props, const Json& offer) {
    copy_last_segment(props, "availability", json_member(offer, "availability"));
    copy_last_segment(props, "item_condition", json_member(offer, "itemCondition"));
    copy_last_segment(props, "price_valid_until", json_member(offer, "priceValidUntil"));
    const Json* seller = json_member(offer, "seller");
    if (seller != nullptr && seller->is_object()) {
        if (const std::string* name = json_string(json_member(*seller, "name"))) props["seller_name"] = *name;
    }
}

// "review_count" (reviewCount, else ratingCount) and "rating_value" of a rating object.
void add_rating_counts(Json& props, const Json& rating) {
    const Json* count = json_member(rating, "reviewCount");
    copy_if_present(props, "review_count", count != nullptr ? count : json_member(rating, "ratingCount"));
    copy_if_present(props, "rating_value", json_member(rating, "ratingValue"));
}

std::string product_props(const Json& product, const PriceScale& scale) {
    const Json* offer = reference_offer(product);
    Json props = platform_json::normalized_price_map(product, member_of(offer, "price"), scale, std::nullopt);
    if (offer != nullptr && offer->is_object()) add_offer_terms(props, *offer);
    const Json* rating = json_member(product, "aggregateRating");
    if (rating != nullptr && rating->is_object()) add_rating_counts(props, *rating);
    return to_json_text(props);
}

void ingest_offer(std::uint32_t source, core::GraphBuilder& builder, const Json& offer, const std::string& offer_id) {
    builder.upsert_node(NodeKind::Offer, offer_id, text_or_empty(json_member(offer, "price")), to_json_text(offer));
    builder.add_edge(source, RelType::Offers, offer_id);
}

void ingest_offers(std::uint32_t source, core::GraphBuilder& builder, const Json& product, const std::string& id) {
    const Json* offers = json_member(product, "offers");
    if (offers == nullptr) return;
    if (!offers->is_array()) {
        ingest_offer(source, builder, *offers, id + "#offer");
        return;
    }
    for (std::size_t i = 0; i < offers->size(); ++i) {
        ingest_offer(source, builder, (*offers)[i], id + "#offer" + std::to_string(i));
    }
}

void ingest_rating(std::uint32_t source, core::GraphBuilder& builder, const Json& product, const std::string& id) {
    const Json* rating = json_member(product, "aggregateRating");
    if (rating == nullptr) return;
    Json props = rating->is_object() ? *rating : Json::object();
    add_rating_counts(props, *rating);
    const std::string rating_id = id + "#rating";
    builder.upsert_node(NodeKind::AggregateRating, rating_id, text_or_empty(json_member(*rating, "ratingValue")),
                        to_json_text(props));
    builder.add_edge(source, RelType::AggregateRating, rating_id);
}

// The name of a brand, manufacturer or author: an object's "name" string, or a plain string.
const std::string* entity_name(const Json& entity) {
    return entity.is_object() ? json_string(json_member(entity, "name")) : json_string(&entity);
}

void ingest_author(std::uint32_t review_index, core::GraphBuilder& builder, const Json& review) {
    const Json* author = json_member(review, "author");
    if (author == nullptr) return;
    const std::string* name = entity_name(*author);
    if (name == nullptr || name->empty()) return;
    builder.upsert_node(NodeKind::Person, *name, *name, to_json_text(*author));
    builder.add_edge(review_index, RelType::Author, *name);
}

void ingest_review(std::uint32_t source, core::GraphBuilder& builder, const Json& review, const std::string& review_id) {
    Json props = review.is_object() ? review : Json::object();
    copy_if_present(props, "rating_value", member_of(json_member(review, "reviewRating"), "ratingValue"));
    copy_if_present(props, "date", json_member(review, "datePublished"));
    const std::uint32_t review_index = builder.upsert_node(
        NodeKind::Review, review_id, json_string_or_empty(json_member(review, "reviewBody")), to_json_text(props));
    builder.add_edge(source, RelType::Review, review_id);
    ingest_author(review_index, builder, review);
}

void ingest_reviews(std::uint32_t source, core::GraphBuilder& builder, const Json& product, const std::string& id) {
    const Json* reviews = json_member(product, "review");
    if (reviews == nullptr) return;
    if (!reviews->is_array()) {
        ingest_review(source, builder, *reviews, id + "#review0");
        return;
    }
    for (std::size_t i = 0; i < reviews->size(); ++i) {
        ingest_review(source, builder, (*reviews)[i], id + "#review" + std::to_string(i));
    }
}

}  // namespace

void gather(const dom::Document& document, std::vector<Json>& out) {
    for (const dom::Element& script : document.select(dom::Selector::JsonLd)) {
        if (std::optional<Json> parsed = parse_json(script.text())) collect_objects(std::move(*parsed), out);
    }
}

// Recursion is bounded by the parser's nesting limit.
void collect_objects(Json value, std::vector<Json>& out) {
    if (value.is_array()) {
        for (Json& element : value) collect_objects(std::move(element), out);
        return;
    }
    if (!value.is_object()) return;
    if (std::optional<Json> graph = take_member(value, "@graph")) {
        collect_objects(std::move(*graph), out);
        return;
    }
    std::optional<Json> list = take_member(value, "itemListElement");
    if (!list) {
        out.push_back(std::move(value));
        return;
    }
    if (!list->is_array()) {
        collect_objects(std::move(*list), out);
        return;
    }
    for (Json& element : *list) {
        std::optional<Json> item = element.is_object() ? take_member(element, "item") : std::nullopt;
        collect_objects(item ? std::move(*item) : std::move(element), out);
    }
}

void ingest_jsonld_product(core::GraphBuilder& builder, const Json& object, const PriceScale& scale) {
    if (!is_product(object)) return;
    const std::string name = json_string_or_empty(json_member(object, "name"));
    const std::string id = product_id(object, name);
    const std::uint32_t product_index = builder.upsert_node(NodeKind::Product, id, name, product_props(object, scale));
    ingest_named_entity(builder, object, "brand", NodeKind::Brand, RelType::Brand, product_index);
    ingest_named_entity(builder, object, "manufacturer", NodeKind::Organization, RelType::Manufacturer, product_index);
    ingest_offers(product_index, builder, object, id);
    ingest_rating(product_index, builder, object, id);
    ingest_reviews(product_index, builder, object, id);
}

void ingest_named_entity(core::GraphBuilder& builder, const Json& object, std::string_view key, core::NodeKind kind,
                         core::RelType rel, std::uint32_t source) {
    const Json* entity = json_member(object, key);
    if (entity == nullptr) return;
    const std::string* name = entity_name(*entity);
    if (name == nullptr || name->empty()) return;
    builder.upsert_node(kind, *name, *name, to_json_text(*entity));
    builder.add_edge(source, rel, *name);
}

}  // namespace kuv::extract::jsonld
