#pragma once
// Helpers shared by the graph file tests: a scratch directory, whole-file reads and writes, a
// small sample graph, and the message of a call that fails.
#include "core/builder.hpp"
#include "core/error.hpp"
#include "core/graph.hpp"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>

namespace kuv::core::test {

// Three nodes with two relations from the first: out_offsets [0, 2, 2, 2], in_offsets [0, 0, 1, 2].
inline Graph sample_graph() {
    GraphBuilder builder;
    builder.add_edge(builder.upsert_node(NodeKind::Product, "p1", "Phone", "{\"url\":\"https://shop/p1\"}"), RelType::Offers, "o1");
    builder.add_edge(0, RelType::Brand, "b1");
    builder.upsert_node(NodeKind::Offer, "o1", "", "{\"price\":\"9.99\"}");
    builder.upsert_node(NodeKind::Brand, "b1", "Acme", "{}");
    return std::move(builder).build();
}

struct TempDir {
    std::string path = (std::filesystem::temp_directory_path() / "kuv-store-XXXXXX").string();
    TempDir() { mkdtemp(path.data()); }
    ~TempDir() { std::error_code ignored; std::filesystem::remove_all(path, ignored); }
    std::string operator/(std::string_view name) const { return path + "/" + std::string(name); }
};

inline std::string read_file(const std::string& path) {
    return {std::istreambuf_iterator<char>(std::ifstream(path, std::ios::binary).rdbuf()), {}};
}
inline void write_file(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }
template <class Failure = Error, class Call>
std::string error_of(Call call) try { call(); return "no error"; } catch (const Failure& error) { return error.what(); }

}  // namespace kuv::core::test
