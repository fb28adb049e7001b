// Query benchmark on generated shop graphs built directly through GraphBuilder.
//
//   cmake -S . -B build/bench -G Ninja -DKUV_BENCH=ON -DKUV_MODULE=OFF
//   cmake --build build/bench --target query_bench && build/bench/query_bench [products...]
//
// For each size: open + validate the file, then each query (parse + execute) five times; the
// median time is printed with the row count. The queries are those of query_bench.py.
#include "core/builder.hpp"
#include "core/store.hpp"
#include "cypher/executor.hpp"
#include "cypher/parser.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using kuv::core::NodeKind;
using kuv::core::RelType;

constexpr int kBrands = 1000;
constexpr int kRuns = 5;

std::string price_props(int cents) {
    const std::string price = std::to_string(cents / 100) + "." + (cents % 100 < 10 ? "0" : "") + std::to_string(cents % 100);
    return R"("currency":"EUR","price":")" + price + R"(","price_cents":)" + std::to_string(cents) +
           R"(,"price_confident":true,"price_scale":2,"price_score":3)";
}

// Each product has one offer and a brand; every fourth product also has a review.
kuv::core::Graph shop_graph(int products) {
    kuv::core::GraphBuilder builder;
    for (int b = 0; b < kBrands; ++b) {
        builder.upsert_node(NodeKind::Brand, "brand-" + std::to_string(b), "Brand " + std::to_string(b), "{}");
    }
    std::uint64_t seed = 42;
    for (int i = 0; i < products; ++i) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        const int cents = 100 + static_cast<int>((seed >> 33) % 99900);
        const std::string n = std::to_string(i);
        const std::string url = "https://shop.example/p/" + n;
        const std::uint32_t product = builder.upsert_node(
            NodeKind::Product, url, "Product " + n,
            R"({"sku":"SKU-)" + n + R"(","url":")" + url + R"(",)" + price_props(cents) + "}");
        builder.upsert_node(NodeKind::Offer, url + "#offer", "Offer " + n,
                            R"({"availability":"InStock",)" + price_props(cents) + "}");
        builder.add_edge(product, RelType::Offers, url + "#offer");
        builder.add_edge(product, RelType::Brand, "brand-" + std::to_string((seed >> 20) % kBrands));
        if (i % 4 == 0) {
            builder.upsert_node(NodeKind::Review, url + "#review", "Review " + n,
                                R"({"date":"2024-01-01","rating_value":)" + std::to_string(1 + i % 5) + "}");
            builder.add_edge(product, RelType::Review, url + "#review");
        }
    }
    return std::move(builder).build();
}

double millis_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Timed {
    double median_ms;
    std::size_t rows;
};

template <class Work>
Timed median_of(Work work) {
    std::vector<double> times;
    std::size_t rows = 0;
    for (int run = 0; run < kRuns; ++run) {
        const auto start = Clock::now();
        rows = work();
        times.push_back(millis_since(start));
    }
    std::nth_element(times.begin(), times.begin() + kRuns / 2, times.end());
    return {times[kRuns / 2], rows};
}

void bench_size(int products, const std::string& path) {
    auto start = Clock::now();
    const std::uint64_t bytes = kuv::core::save(shop_graph(products), path);
    std::printf("\n%d products: built and saved %.1f MB in %.0f ms\n", products, bytes / 1e6, millis_since(start));

    const Timed open = median_of([&] { return std::size_t(kuv::core::LoadedGraph::open(path).node_count()); });
    std::printf("  %-60s %10.2f ms  (%zu nodes)\n", "open + validate", open.median_ms, open.rows);

    const auto graph = kuv::core::LoadedGraph::open(path);
    const char* const queries[] = {
        "MATCH (p:Product) WHERE p.price_cents > 90000 RETURN p.name",
        "MATCH (p:Product)-[:Brand]->(b:Brand) RETURN b.name, count(*), avg(p.price_cents)",
        "MATCH (p:Product)-[:Review]->(r:Review) WHERE r.rating_value >= 4 RETURN count(*)",
        "MATCH (p:Product) RETURN p.name, p.price_cents ORDER BY p.price_cents DESC LIMIT 10",
        "MATCH (p:Product) RETURN p.name, p.sku LIMIT 10",
    };
    for (const char* text : queries) {
        const Timed timed = median_of([&] {
            auto parsed = kuv::cypher::parse(text);
            return kuv::cypher::execute(graph, std::get<kuv::cypher::Query>(parsed)).rows.size();
        });
        std::printf("  %-60.60s %10.2f ms  (%zu rows)\n", text, timed.median_ms, timed.rows);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> sizes{100000, 1000000};
    if (argc > 1) {
        sizes.clear();
        for (int i = 1; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
    }
    const auto dir = std::filesystem::temp_directory_path() / "kuv_query_bench";
    std::filesystem::create_directories(dir);
    for (int products : sizes) bench_size(products, (dir / ("shop-" + std::to_string(products) + ".bin")).string());
    std::filesystem::remove_all(dir);
    return 0;
}
