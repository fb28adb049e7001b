#pragma once
// The JSON layer of the whole system: one strict parser and one compact printer.
//
// Values are nlohmann::json trees whose objects are std::map, so members are kept in ascending
// byte order of their keys. Numbers: non-negative integers that fit are unsigned 64-bit,
// negative ones that fit are signed 64-bit, everything else (also "-0") is a double.
#include <nlohmann/json.hpp>

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kuv {

using Json = nlohmann::json;

// Parses exactly one JSON value surrounded only by space, tab, LF or CR. Fails (nullopt) on any
// syntax error, a leading byte-order mark, more than 127 nested containers, a float out of the
// double range, a lone surrogate escape or invalid UTF-8; a float too small for a double reads
// as zero. The last of duplicate keys wins. Never recurses on the input's depth.
std::optional<Json> parse_json(std::string_view text);

// Members picked by name from the top-level object of a JSON text.
struct PickedMembers {
    bool is_object = false;  // whether the text's value is an object
    // Per requested name: the value of the last member of that name, or nullopt without one.
    std::vector<std::optional<Json>> values;
};

// Accepts and rejects exactly the texts parse_json does, with the same values, but builds only
// the values of the top-level members named in `names`: everything else is checked, not built.
// For reading a few members of a large document.
std::optional<PickedMembers> pick_json_members(std::string_view text, std::span<const std::string> names);

// The member `key` of `value`; nullptr when `value` is not an object or has no such member.
const Json* json_member(const Json& value, std::string_view key);
// The text of `value` when it is a JSON string; nullptr otherwise (also for a nullptr value).
const std::string* json_string(const Json* value);
// The text of `value` when it is a JSON string, else the empty string.
std::string json_string_or_empty(const Json* value);

// The single compact printer: no white space, members in key order, escapes \" \\ \b \f \n \r \t,
// other bytes below 0x20 as \u00xx, everything else raw; floats as shortest round-trip digits
// ("100.0", "0.00001", "1e16", "1.5e-7"). Appends to `out`.
void write_json(std::string& out, const Json& value);
std::string to_json_text(const Json& value);

// Prints a double the way the JSON printer does (exposed for the price verdict, which parses
// the printed text of JSON numbers). A tie between two shortest candidates takes the even
// digit. NaN and infinities print as "null".
void write_json_float(std::string& out, double value);

// How a tie between two equally near shortest digit strings is broken.
enum class FloatTie { to_even, away_from_zero };

// The one shortest-digit float writer behind the JSON printer and the debug text: a finite value
// as the shortest digits that read back as the same double, laid out plainly ("100.0", "0.001")
// when it is zero or 10^min_plain_exponent <= abs < 1e16, else in exponent form ("1e16",
// "1.5e-7").
void write_shortest_float(std::string& out, double value, int min_plain_exponent, FloatTie tie);

}  // namespace kuv
