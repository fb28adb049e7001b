#include "extract/microdata.hpp"

#include "core/json.hpp"
#include "core/white_space.hpp"

#include <unordered_set>

namespace kuv::extract::microdata {

namespace {

using dom::Document;
using dom::Element;
using dom::Selector;

constexpr std::string_view kSchemeSeparator = "://";

std::optional<std::string> attribute_value(const Element& element) {
    for (const std::string_view attribute : {"content", "src", "href"}) {
        if (const auto value = element.attr(attribute)) return std::string{*value};
    }
    return std::nullopt;
}

std::optional<std::string> text_value(const Element& element) {
    const std::string text = element.text();
    const std::string_view trimmed = trim_white_space(text);
    if (trimmed.empty()) return std::nullopt;
    return std::string{trimmed};
}

// The value of the first candidate that has one. An element's value is its content, src or href
// attribute as written (an empty one counts), else its trimmed text when that is not empty.
// Candidates inside an element whose text is blank have blank text too, so their text is never
// gathered again: nested candidates then cost one walk of the outermost one.
std::optional<std::string> first_value(const Document& document, const std::vector<Element>& candidates,
                                       Selector selector) {
    std::unordered_set<const void*> known_blank;
    for (const Element& element : candidates) {
        if (auto value = attribute_value(element)) return value;
        if (known_blank.contains(element.handle())) continue;
        if (auto value = text_value(element)) return value;
        for (const Element& inner : document.select_within(element, selector)) known_blank.insert(inner.handle());
    }
    return std::nullopt;
}

// Looks fields up in the whole document or among the descendants of one scope element.
class FieldFinder {
public:
    FieldFinder(const Document& document, std::optional<Element> scope) : document_(document), scope_(scope) {}

    std::optional<std::string> value(Selector selector) const {
        return first_value(document_,
                           scope_ ? document_.select_within(*scope_, selector) : document_.select(selector), selector);
    }

    std::optional<std::string> absolute_value(Selector selector, const std::optional<std::string>& base) const {
        auto found = value(selector);
        if (found) return absolutize(*found, base);
        return found;
    }

private:
    const Document& document_;
    std::optional<Element> scope_;
};

std::optional<MicrodataProduct> scope_record(const Document& document, Element scope,
                                             const std::optional<std::string>& base) {
    const FieldFinder find{document, scope};
    auto name = find.value(Selector::Name);
    if (!name) return std::nullopt;
    MicrodataProduct record{.name = std::move(*name),
                            .price = find.value(Selector::Price),
                            .currency = find.value(Selector::Currency),
                            .image = find.absolute_value(Selector::Image, base),
                            .url = find.absolute_value(Selector::Url, base)};
    if (!record.url) record.url = base;
    return record;
}

std::optional<MicrodataProduct> page_record(const Document& document, const std::optional<std::string>& base) {
    const FieldFinder find{document, std::nullopt};
    auto name = find.value(Selector::Name);
    if (!name) return std::nullopt;
    return MicrodataProduct{.name = std::move(*name),
                            .price = find.value(Selector::Price),
                            .currency = find.value(Selector::Currency),
                            .image = find.absolute_value(Selector::Image, base),
                            .url = base};
}

std::string with_scheme(std::string_view scheme, std::string_view rest) {
    std::string result{scheme};
    result += kSchemeSeparator;
    result += rest;
    return result;
}

// "//host/path": the base's scheme, or https when the base has none.
std::string absolutize_scheme_relative(std::string_view url, std::string_view base) {
    const std::size_t separator = base.find(kSchemeSeparator);
    const std::string_view scheme = separator == std::string_view::npos ? "https" : base.substr(0, separator);
    return with_scheme(scheme, url.substr(2));
}

// "/path": the base's scheme and host, when the base has both.
std::string absolutize_root_relative(std::string_view url, std::string_view base) {
    const std::size_t separator = base.find(kSchemeSeparator);
    if (separator == std::string_view::npos) return std::string{url};
    const std::string_view after_scheme = base.substr(separator + kSchemeSeparator.size());
    const std::string_view host = after_scheme.substr(0, after_scheme.find('/'));
    if (host.empty()) return std::string{url};
    std::string result = with_scheme(base.substr(0, separator), host);
    result += url;
    return result;
}

void insert_if_present(Json& props, const char* key, const std::optional<std::string>& value) {
    if (value) props[key] = *value;
}

void ingest_record(core::GraphBuilder& builder, const MicrodataProduct& record, const PriceScale& scale) {
    Json props = Json::object();
    insert_if_present(props, "url", record.url);
    const Json raw_price = record.price ? Json(*record.price) : Json();
    if (const auto verdict = scale.verdict(record.price ? &raw_price : nullptr, std::nullopt)) {
        verdict->write_into(props);
    }
    // The record's own currency text wins over the page currency the verdict wrote.
    insert_if_present(props, "currency", record.currency);
    insert_if_present(props, "image", record.image);
    const std::string& id = record.url ? *record.url : record.name;
    builder.upsert_node(core::NodeKind::Product, id, record.name, to_json_text(props));
}

}  // namespace

std::vector<MicrodataProduct> extract_from_dom(const Document& document) {
    const std::optional<std::string> base = FieldFinder{document, std::nullopt}.value(Selector::OgUrl);
    std::vector<MicrodataProduct> records;
    for (const Element& scope : document.select(Selector::ProductScope)) {
        if (auto record = scope_record(document, scope, base)) records.push_back(std::move(*record));
    }
    if (records.empty()) {
        if (auto record = page_record(document, base)) records.push_back(std::move(*record));
    }
    return records;
}

std::string absolutize(std::string_view url, const std::optional<std::string>& base) {
    if (url.starts_with("http") || !base) return std::string{url};
    if (url.empty()) return {};
    if (url.starts_with("//")) return absolutize_scheme_relative(url, *base);
    if (url.starts_with('/')) return absolutize_root_relative(url, *base);
    return std::string{url};
}

void ingest_microdata(core::GraphBuilder& builder, const std::vector<MicrodataProduct>& records,
                      const PriceScale& scale) {
    for (const MicrodataProduct& record : records) ingest_record(builder, record, scale);
}

}  // namespace kuv::extract::microdata
