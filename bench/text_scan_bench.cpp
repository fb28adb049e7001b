// Single-core throughput of the per-page passes over raw text that run before (or instead of)
// HTML parsing: lossy UTF-8 decoding, the three text sources and the price evidence.
//
//   text_scan_bench [folder ...]
// Every .html and .htm file of the folders (default ../shared/corpus/schema-samples) is read
// into memory once; each pass then runs over all pages, best of several rounds.
#include "core/utf8.hpp"
#include "extract/dom_attr.hpp"
#include "extract/next_data.hpp"
#include "extract/platform_json.hpp"
#include "extract/price.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRounds = 7;

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> pages_in(const std::filesystem::path& folder) {
    std::vector<std::string> pages;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const auto extension = entry.path().extension();
        if (extension == ".html" || extension == ".htm") pages.push_back(read_file(entry.path()));
    }
    return pages;
}

// Printed at the end, so the optimiser cannot drop the passes' results.
std::size_t sink = 0;

struct Pass {
    const char* name;
    std::function<void(const std::string&)> run;
};

const std::vector<Pass>& passes() {
    using namespace kuv::extract;
    static const std::vector<Pass> all = {
        {"decode_utf8_lossy",
         [](const std::string& page) {
             std::string buffer;
             sink += kuv::decode_utf8_lossy(page, buffer).size();
         }},
        {"find_products_array",
         [](const std::string& page) { sink += platform_json::find_products_array(page).has_value(); }},
        {"find_ga_products", [](const std::string& page) { sink += dom_attr::find_ga_products(page).size(); }},
        {"find_next_data", [](const std::string& page) { sink += next_data::find_next_data(page).has_value(); }},
        {"PriceScale::from_html", [](const std::string& page) { sink += PriceScale::from_html(page).seen.size(); }},
    };
    return all;
}

double best_seconds(const std::vector<std::string>& pages, const Pass& pass) {
    double best = 1e300;
    for (int round = 0; round < kRounds; ++round) {
        const auto start = Clock::now();
        for (const auto& page : pages) pass.run(page);
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return best;
}

void report(const std::string& label, const std::vector<std::string>& pages) {
    std::size_t bytes = 0;
    for (const auto& page : pages) bytes += page.size();
    const double megabytes = static_cast<double>(bytes) / 1e6;
    std::printf("%s: %zu pages, %.1f MB\n", label.c_str(), pages.size(), megabytes);
    if (pages.empty()) return;
    double total = 0;
    for (const Pass& pass : passes()) {
        const double seconds = best_seconds(pages, pass);
        total += seconds;
        std::printf("  %-22s %8.1f MB/s\n", pass.name, megabytes / seconds);
    }
    std::printf("  %-22s %8.1f MB/s\n", "all passes", megabytes / total);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> folders(argv + 1, argv + argc);
    if (folders.empty()) folders.push_back("../shared/corpus/schema-samples");
    for (const auto& folder : folders) report(folder, pages_in(folder));
    std::printf("(checksum %zu)\n", sink);
    return 0;
}
