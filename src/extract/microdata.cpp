#include "extract/microdata.hpp"

#include "core/json.hpp"
#include "core/white_space.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>

namespace kuv::extract::microdata {

namespace {

using dom::Document;
using dom::Element;
using dom::Selector;

constexpr std::string_view kSchemeSeparator = "://";

// The selectors whose values records read, in the order of their slots below.
constexpr std::array kFields = {Selector::Name, Selector::Price, Selector::Currency, Selector::Image, Selector::Url,
                                Selector::OgUrl};

constexpr std::size_t field_slot(Selector field) {
    return static_cast<std::size_t>(std::find(kFields.begin(), kFields.end(), field) - kFields.begin());
}

constexpr std::uint8_t bit(std::size_t slot) { return static_cast<std::uint8_t>(1U << slot); }
constexpr std::uint8_t kScopeBit = bit(kFields.size());
constexpr std::uint8_t kFieldBits = kScopeBit - 1;

// An element that opens a product scope or matches a field selector, with its place in tree
// order: its descendants are exactly the nodes at positions begin + 1 up to end - 1.
struct Marked {
    Element element;
    std::size_t begin;
    std::size_t end = 0;
    std::uint8_t bits;                            // kScopeBit and the field slots it matches
    std::optional<std::string> attribute_value;  // content, else src, else href, as written
};

// A text node below some field element, with its position.
struct TextRun {
    std::size_t position;
    std::string text;
};

std::optional<std::string> attribute_value(const Element& element) {
    for (const std::string_view attribute : {"content", "src", "href"}) {
        if (auto value = element.attr(attribute)) return value;
    }
    return std::nullopt;
}

// The page's scopes and field elements laid out in tree order, gathered in one walk, so that
// "the first element below this scope that matches and has a value" is a binary search: every
// lookup is cheap however deeply scopes and fields nest.
class ItemIndex final : public dom::TreeVisitor {
public:
    explicit ItemIndex(const Document& document) {
        document.walk(*this);
        for (std::size_t i = 0; i < marked_.size(); ++i) {
            for (std::size_t slot = 0; slot < kFields.size(); ++slot) {
                if ((marked_[i].bits & bit(slot)) != 0 && has_value(marked_[i])) valued_[slot].push_back(i);
            }
        }
    }

    // The value of the first element matching `field`, with a value, that begins at a position
    // in [from, to).
    std::optional<std::string> first_value(Selector field, std::size_t from, std::size_t to) const {
        const std::vector<std::size_t>& candidates = valued_[field_slot(field)];
        const auto found = std::partition_point(candidates.begin(), candidates.end(),
                                                [&](std::size_t i) { return marked_[i].begin < from; });
        if (found == candidates.end() || marked_[*found].begin >= to) return std::nullopt;
        return value(marked_[*found]);
    }

    template <typename Visit>
    void for_each_scope(Visit&& visit) const {
        for (const Marked& marked : marked_) {
            if ((marked.bits & kScopeBit) != 0) visit(marked.begin, marked.end);
        }
    }

private:
    void open(Element element) override {
        const std::size_t position = next_position_++;
        std::uint8_t bits = element.matches(Selector::ProductScope) ? kScopeBit : 0;
        for (std::size_t slot = 0; slot < kFields.size(); ++slot) {
            if (element.matches(kFields[slot])) bits |= bit(slot);
        }
        if (bits == 0) return;
        const bool is_field = (bits & kFieldBits) != 0;
        marked_.push_back({element, position, 0, bits, is_field ? attribute_value(element) : std::nullopt});
        open_marked_.push_back(marked_.size() - 1);
        if (is_field) ++open_fields_;
    }

    void close(Element element) override {
        if (open_marked_.empty()) return;
        Marked& innermost = marked_[open_marked_.back()];
        if (innermost.element.handle() != element.handle()) return;
        innermost.end = next_position_;
        if ((innermost.bits & kFieldBits) != 0) --open_fields_;
        open_marked_.pop_back();
    }

    // Only text that some field element can read is kept.
    void text(std::string_view text) override {
        const std::size_t position = next_position_++;
        if (open_fields_ == 0) return;
        runs_.push_back({position, std::string{text}});
        if (!trim_white_space(text).empty()) non_blank_runs_.push_back(position);
    }

    // Whether a position in `positions` (sorted) lies below `marked`.
    static bool has_position_below(const std::vector<std::size_t>& positions, const Marked& marked) {
        const auto found = std::upper_bound(positions.begin(), positions.end(), marked.begin);
        return found != positions.end() && *found < marked.end;
    }

    // An element's value is its content, src or href attribute as written (an empty one
    // counts), else its text trimmed of White_Space when that is not empty.
    bool has_value(const Marked& marked) const {
        return marked.attribute_value.has_value() || has_position_below(non_blank_runs_, marked);
    }

    std::string value(const Marked& marked) const {
        if (marked.attribute_value) return *marked.attribute_value;
        std::string text;
        const auto first = std::partition_point(runs_.begin(), runs_.end(),
                                                [&](const TextRun& run) { return run.position <= marked.begin; });
        for (auto run = first; run != runs_.end() && run->position < marked.end; ++run) text += run->text;
        return std::string{trim_white_space(text)};
    }

    std::size_t next_position_ = 0;
    std::vector<Marked> marked_;            // in tree order
    std::vector<std::size_t> open_marked_;  // indices into marked_ of the elements open now
    std::size_t open_fields_ = 0;           // how many of them are field elements
    std::vector<TextRun> runs_;             // in tree order
    std::vector<std::size_t> non_blank_runs_;
    std::array<std::vector<std::size_t>, kFields.size()> valued_;  // per field: marked_ indices with a value
};

constexpr std::size_t kWholePage = std::numeric_limits<std::size_t>::max();

std::optional<std::string> absolute(std::optional<std::string> url, const std::optional<std::string>& base) {
    if (url) return absolutize(*url, base);
    return url;
}

// A scope's fields are looked up among its descendants only, not the scope element itself.
std::optional<MicrodataProduct> scope_record(const ItemIndex& index, std::size_t begin, std::size_t end,
                                             const std::optional<std::string>& base) {
    auto name = index.first_value(Selector::Name, begin + 1, end);
    if (!name) return std::nullopt;
    MicrodataProduct record{.name = std::move(*name),
                            .price = index.first_value(Selector::Price, begin + 1, end),
                            .currency = index.first_value(Selector::Currency, begin + 1, end),
                            .image = absolute(index.first_value(Selector::Image, begin + 1, end), base),
                            .url = absolute(index.first_value(Selector::Url, begin + 1, end), base)};
    if (!record.url) record.url = base;
    return record;
}

std::optional<MicrodataProduct> page_record(const ItemIndex& index, const std::optional<std::string>& base) {
    auto name = index.first_value(Selector::Name, 0, kWholePage);
    if (!name) return std::nullopt;
    return MicrodataProduct{.name = std::move(*name),
                            .price = index.first_value(Selector::Price, 0, kWholePage),
                            .currency = index.first_value(Selector::Currency, 0, kWholePage),
                            .image = absolute(index.first_value(Selector::Image, 0, kWholePage), base),
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
    const ItemIndex index(document);
    const std::optional<std::string> base = index.first_value(Selector::OgUrl, 0, kWholePage);
    std::vector<MicrodataProduct> records;
    index.for_each_scope([&](std::size_t begin, std::size_t end) {
        if (auto record = scope_record(index, begin, end, base)) records.push_back(std::move(*record));
    });
    if (records.empty()) {
        if (auto record = page_record(index, base)) records.push_back(std::move(*record));
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
