#include "graph_checks.hpp"

#include "core/builder.hpp"
#include "core/schema.hpp"
#include "core/utf8.hpp"
#include "cypher/executor.hpp"
#include "fuzz_target.hpp"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <utility>

namespace kuv::fuzz {

void check_reads_back(const core::Graph& graph) {
    const std::string image = core::serialize(graph);
    require(core::LoadedGraph::from_bytes(image).to_graph() == graph, "a saved graph reads back unchanged");
}

void check_thaw_keeps(const core::Graph& graph) {
    const core::Graph again = core::GraphBuilder::from_graph(graph).build();
    require(again.nodes == graph.nodes && again.string_pool == graph.string_pool &&
                again.out_edges == graph.out_edges && again.out_offsets == graph.out_offsets,
            "a thawed and refrozen graph keeps its nodes, pool and outgoing runs");
}

void add_end_keys(std::vector<std::string>& keys, const Json& value) {
    if (!value.is_object() || value.empty()) return;
    for (const std::string& key : {value.begin().key(), std::prev(value.end()).key()}) {
        if (std::ranges::find(keys, key) == keys.end()) keys.push_back(key);
    }
}

namespace {

using cypher::Value;

bool all_digits(std::string_view text) {
    return !text.empty() && std::ranges::all_of(text, [](char c) { return c >= '0' && c <= '9'; });
}

// -?(0|[1-9][0-9]*)(\.[0-9]+)?
bool plain_decimal(std::string_view text) {
    if (text.starts_with('-')) text.remove_prefix(1);
    const std::size_t dot = text.find('.');
    const std::string_view whole = text.substr(0, dot);
    if (!all_digits(whole) || (whole.size() > 1 && whole.front() == '0')) return false;
    return dot == std::string_view::npos || all_digits(text.substr(dot + 1));
}

// A string member: numbers written as plain decimals read as numbers, except under "price".
Value string_read(const std::string& text, std::string_view key) {
    if (key == "price" || !plain_decimal(text)) return text;
    std::int64_t integer = 0;
    const char* end = text.data() + text.size();
    if (const auto [stop, ec] = std::from_chars(text.data(), end, integer); ec == std::errc{} && stop == end) return integer;
    return std::strtod(text.c_str(), nullptr);  // nearest double, infinite past the range
}

Value member_read(const Json& member, std::string_view key) {
    switch (member.type()) {
        case Json::value_t::boolean: return member.get<bool>();
        case Json::value_t::number_integer: return member.get<std::int64_t>();
        case Json::value_t::number_unsigned: {
            const auto u = member.get<std::uint64_t>();
            if (u <= std::uint64_t(std::numeric_limits<std::int64_t>::max())) return std::int64_t(u);
            return double(u);
        }
        case Json::value_t::number_float: return member.get<double>();
        case Json::value_t::string: return string_read(member.get<std::string>(), key);
        default: return cypher::Null{};  // null, array, object
    }
}

Value expected_read(const core::LoadedGraph& graph, std::uint32_t node, const std::string& key) {
    if (key == "name") {
        const std::string_view name = graph.bytes_of(graph.name(node));
        return std::string(is_utf8(name) ? name : std::string_view{});
    }
    if (key == "kind") return std::string(core::label(graph.kind(node)));
    const std::optional<Json> props = parse_json(graph.bytes_of(graph.props(node)));
    const Json* member = props ? json_member(*props, key) : nullptr;
    return member ? member_read(*member, key) : cypher::Null{};
}

// MATCH (n) RETURN n, n.k1, n.k2, ...
cypher::Query reads_of(std::span<const std::string> keys) {
    cypher::Query query;
    cypher::NodePat pattern;
    pattern.var = "n";
    query.pattern.nodes.push_back(std::move(pattern));
    cypher::ReturnItem node;
    node.var = "n";
    query.returns.push_back(node);
    for (const std::string& key : keys) {
        cypher::ReturnItem read = node;
        read.prop = key;
        query.returns.push_back(std::move(read));
    }
    return query;
}

}  // namespace

void check_property_reads(const core::LoadedGraph& graph, std::span<const std::string> keys) {
    const cypher::QueryResult result = cypher::execute(graph, reads_of(keys));
    require(result.rows.size() == graph.node_count(), "a bare node pattern matches every node once");
    for (const cypher::Row& row : result.rows) {
        const std::uint32_t node = std::get<cypher::NodeRef>(row.front()).idx;
        cypher::Row expected{row.front()};
        for (const std::string& key : keys) expected.push_back(expected_read(graph, node, key));
        require(cypher::debug_row(row) == cypher::debug_row(expected),
                "property reads equal the parsed props: " + cypher::debug_row(row) + " vs " + cypher::debug_row(expected));
    }
}

}  // namespace kuv::fuzz
