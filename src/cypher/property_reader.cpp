#include "cypher/property_reader.hpp"

#include "core/error.hpp"
#include "core/json.hpp"
#include "core/utf8.hpp"

#include <unicode/locid.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <charconv>
#include <limits>

namespace kuv::cypher {
namespace {

bool is_ascii_digits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Plain decimal numbers without "+", spaces, exponent or leading zeros ("0.5" and "-0" qualify).
bool is_numeric_looking(std::string_view s) {
    std::string_view unsigned_part = s.starts_with('-') ? s.substr(1) : s;
    std::string_view integer_part = unsigned_part;
    if (const auto dot = unsigned_part.find('.'); dot != std::string_view::npos) {
        if (!is_ascii_digits(unsigned_part.substr(dot + 1))) return false;
        integer_part = unsigned_part.substr(0, dot);
    }
    return is_ascii_digits(integer_part) && (integer_part.size() == 1 || integer_part[0] != '0');
}

// `text` is numeric-looking: an Int when it is an i64, else the nearest Float.
Scalar number_from_text(std::string_view text) {
    const char* first = text.data();
    const char* last = first + text.size();
    std::int64_t integer = 0;
    if (auto [end, ec] = std::from_chars(first, last, integer); ec == std::errc{} && end == last) {
        return Scalar::of_int(integer);
    }
    double real = 0;
    const auto [end, ec] = std::from_chars(first, last, real, std::chars_format::fixed);
    if (ec == std::errc::result_out_of_range) {
        // Without an exponent only a huge integer part overflows; anything else underflows.
        const bool negative = text.starts_with('-');
        const bool huge = text[negative ? 1 : 0] != '0';
        const double magnitude = huge ? std::numeric_limits<double>::infinity() : 0.0;
        return Scalar::of_float(negative ? -magnitude : magnitude);
    }
    return Scalar::of_float(real);
}

// A JSON number token as the JSON layer reads it: integers that fit i64 are Int, larger
// non-negative integers and everything else Float.
Scalar number_from_token(std::string_view token) {
    const bool negative = token.front() == '-';
    const std::string_view digits = token.substr(negative ? 1 : 0);
    // Short plain integers: u64 or i64 in the JSON layer, an Int here ("-0" is a float there).
    if (digits.size() <= 18 && is_ascii_digits(digits) && !(negative && digits == "0")) {
        std::int64_t magnitude = 0;
        std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
        return Scalar::of_int(negative ? -magnitude : magnitude);
    }
    const std::optional<Json> number = parse_json(token);
    if (!number) return {};  // cannot happen: the scan accepted the token
    switch (number->type()) {
        case Json::value_t::number_integer: return Scalar::of_int(number->get<std::int64_t>());
        case Json::value_t::number_unsigned: {
            const auto u = number->get<std::uint64_t>();
            if (u <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
                return Scalar::of_int(static_cast<std::int64_t>(u));
            }
            return Scalar::of_float(static_cast<double>(u));
        }
        case Json::value_t::number_float: return Scalar::of_float(number->get<double>());
        default: return {};
    }
}

bool is_ascii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

PropertyReader::PropertyReader(const core::LoadedGraph& graph, std::vector<std::string> props_keys)
    : graph_(graph),
      scanner_(std::move(props_keys)),
      key_count_(scanner_.names().size()),
      ordinal_plus_one_(graph.node_count()),
      found_(key_count_),
      name_state_(graph.node_count()) {}

PropKey PropertyReader::key(std::string_view name) const {
    if (name == "name") return {PropKey::kName};
    if (name == "kind") return {PropKey::kKind};
    const auto& names = scanner_.names();
    const auto found = std::find(names.begin(), names.end(), name);
    if (found == names.end()) throw Fatal("property key read without being collected from the query");
    return {static_cast<std::uint32_t>(found - names.begin())};
}

std::string_view PropertyReader::name(std::uint32_t node) {
    const std::string_view bytes = graph_.bytes_of(graph_.name(node));
    std::uint8_t& state = name_state_[node];
    if (state == 0) state = is_utf8(bytes) ? 1 : 2;
    return state == 1 ? bytes : std::string_view{};
}

std::size_t PropertyReader::members_of(std::uint32_t node) {
    std::uint32_t& ordinal = ordinal_plus_one_[node];
    if (ordinal == 0) {
        ordinal = ++scanned_;
        append_members(node);
    }
    return std::size_t(ordinal - 1) * key_count_;
}

// A props text that is not a JSON object reads as no properties at all.
void PropertyReader::append_members(std::uint32_t node) {
    if (key_count_ == 0) return;
    const bool is_object = scanner_.scan(graph_.bytes_of(graph_.props(node)), found_);
    for (std::size_t i = 0; i < key_count_; ++i) {
        values_.push_back(is_object ? decode(found_[i], scanner_.names()[i]) : Scalar{});
    }
}

Scalar PropertyReader::decode(const MemberToken& token, const std::string& key) {
    switch (token.kind) {
        case MemberToken::Kind::True: return Scalar::of_bool(true);
        case MemberToken::Kind::False: return Scalar::of_bool(false);
        case MemberToken::Kind::Number: return number_from_token(token.text);
        case MemberToken::Kind::String: break;
        default: return {};  // missing, null, array or object
    }
    std::string_view text = token.text.substr(1, token.text.size() - 2);
    if (token.escaped) {
        const std::optional<Json> decoded = parse_json(token.text);
        text = decoded_.emplace_back(decoded ? decoded->get<std::string>() : std::string());
    }
    // Prices keep the exact text extraction wrote.
    if (key != "price" && is_numeric_looking(text)) return number_from_text(text);
    return Scalar::of_str(text);
}

std::string_view PropertyReader::lowered(std::uint32_t node, PropKey key, std::string_view text) {
    if (text.size() < kKeptLoweredSize) {
        lowered_scratch_.clear();
        append_lower_case(lowered_scratch_, text);
        return lowered_scratch_;
    }
    auto [entry, inserted] = lowered_.try_emplace((std::uint64_t(node) << 32) | key.index);
    if (inserted) append_lower_case(entry->second, text);
    return entry->second;
}

Value PropertyReader::to_value(const Scalar& scalar) {
    switch (scalar.kind) {
        case Scalar::Kind::Null: return Null{};
        case Scalar::Kind::Bool: return scalar.boolean;
        case Scalar::Kind::Int: return scalar.integer;
        case Scalar::Kind::Float: return scalar.real;
        case Scalar::Kind::Str: return std::string(scalar.text);
        case Scalar::Kind::Node: break;
    }
    return NodeRef{scalar.node, std::string(core::label(graph_.kind(scalar.node))), std::string(name(scalar.node))};
}

// ICU takes 32-bit lengths, so text beyond that is mapped in pieces cut before a UTF-8 lead byte.
void append_lower_case(std::string& out, std::string_view text) {
    if (is_ascii(text)) {
        const std::size_t start = out.size();
        out += text;
        for (std::size_t i = start; i < out.size(); ++i) {
            if (out[i] >= 'A' && out[i] <= 'Z') out[i] = char(out[i] - 'A' + 'a');
        }
        return;
    }
    constexpr std::size_t kMaxPiece = std::numeric_limits<std::int32_t>::max();
    while (!text.empty()) {
        std::size_t piece = std::min(text.size(), kMaxPiece);
        while (piece < text.size() && piece > 1 && U8_IS_TRAIL(static_cast<std::uint8_t>(text[piece]))) --piece;
        icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<std::int32_t>(piece)))
            .toLower(icu::Locale::getRoot())
            .toUTF8String(out);
        text.remove_prefix(piece);
    }
}

std::string lower_case(std::string_view text) {
    std::string out;
    append_lower_case(out, text);
    return out;
}

}  // namespace kuv::cypher
