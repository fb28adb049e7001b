// The JSON layer: a parsed value printed and parsed again is the same value, the member picker
// and a query's property reads agree with the full parser, and a double printed by the float
// writer reads back unchanged.
#include "core/json.hpp"
#include "core/store.hpp"
#include "fuzz_target.hpp"
#include "graph_checks.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

namespace kuv::fuzz {
namespace {

std::optional<std::string> printed(const std::optional<Json>& value) {
    if (!value) return std::nullopt;
    return to_json_text(*value);
}

// The names asked for, each once (callers never repeat one): a few fixed ones and, for an
// object, its first and last keys.
std::vector<std::string> names_to_pick(const std::optional<Json>& value) {
    std::vector<std::string> names{"name", "price", "@type", ""};
    if (value) add_end_keys(names, *value);
    return names;
}

void check_picker(std::string_view text, const std::optional<Json>& parsed, const std::vector<std::string>& names) {
    const std::optional<PickedMembers> picked = pick_json_members(text, names);
    require(picked.has_value() == parsed.has_value(), "the picker accepts exactly what the parser accepts");
    if (!parsed) return;
    require(picked->is_object == parsed->is_object(), "the picker sees the same kind of value");
    require(picked->values.size() == names.size(), "the picker answers every name");
    for (std::size_t i = 0; i < names.size(); ++i) {
        const Json* member = json_member(*parsed, names[i]);
        require(printed(picked->values[i]) == printed(member ? std::optional(*member) : std::nullopt),
                "a picked member equals the parsed one: " + names[i]);
    }
}

void check_reprint(const Json& value) {
    const std::string text = to_json_text(value);
    const std::optional<Json> again = parse_json(text);
    require(again && to_json_text(*again) == text, "printed JSON parses back to the same value");
}

// The first eight bytes as a double: finite ones print to text that parses to the same bits.
void check_float_round_trip(std::string_view input) {
    if (input.size() < sizeof(double)) return;
    std::uint64_t bits = 0;
    std::memcpy(&bits, input.data(), sizeof bits);
    const double value = std::bit_cast<double>(bits);
    if (!std::isfinite(value)) return;
    for (const FloatTie tie : {FloatTie::to_even, FloatTie::away_from_zero}) {
        std::string text;
        write_shortest_float(text, value, -5, tie);
        const std::optional<Json> parsed = parse_json(text);
        require(parsed && parsed->is_number_float() && std::bit_cast<std::uint64_t>(parsed->get<double>()) == bits,
                "a printed double reads back exactly as a float");
    }
}

void run(std::string_view input) {
    const std::optional<Json> parsed = parse_json(input);
    const std::vector<std::string> names = names_to_pick(parsed);
    check_picker(input, parsed, names);
    // The input as the props text of a node, read by a query.
    const std::string image = one_node_image(input);
    check_property_reads(core::LoadedGraph::from_bytes(image), names);
    if (parsed) check_reprint(*parsed);
    check_float_round_trip(input);
}

// The printed value, or "not JSON".
std::string describe(std::string_view input) { return printed(parse_json(input)).value_or("not JSON"); }

std::vector<std::string> seeds() {
    return {
        R"({"@type":"Product","name":"Caf\u00e9 \"x\"","price":"12.50","n":[1,-2,3.5,1e300,-0.0,true,null],"o":{}})",
        R"( [ {"a":1,"a":2}, "\ud83d\ude00\n\t", 18446744073709551615, -9223372036854775808, 0.000001 ] )",
        R"("lone")", "1e-400", R"([[[[[[[[[[{"deep":[]}]]]]]]]]]])",
    };
}

}  // namespace

const Target kJson{"json", run, seeds, describe};

}  // namespace kuv::fuzz
