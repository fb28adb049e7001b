// Microdata extraction time against the number of product scopes, flat and nested, on one core:
// the time per scope should stay flat as the count doubles. Parsing is timed apart.
//
//   microdata_bench [largest scope count, default 160000]
#include "extract/dom.hpp"
#include "extract/microdata.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

// Scopes that each carry a name and a price; nested ones stay open, so each holds all later ones.
// Spans keep MyHTML's own tree building linear at any depth.
std::string scopes_page(std::size_t count, bool nested) {
    std::string html = "<html><body>";
    for (std::size_t i = 0; i < count; ++i) {
        const std::string n = std::to_string(i);
        html += R"(<span itemscope itemtype="https://schema.org/Product"><span itemprop="name">Item )" + n +
                R"(</span><span itemprop="price">)" + n + ".99</span>";
        if (!nested) html += "</span>";
    }
    return html;
}

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

void measure(std::size_t count, bool nested) {
    const std::string html = scopes_page(count, nested);
    const Clock::time_point parse_start = Clock::now();
    const kuv::extract::dom::Document document{html};
    const double parse = seconds_since(parse_start);
    const Clock::time_point extract_start = Clock::now();
    const std::size_t records = kuv::extract::microdata::extract_from_dom(document).size();
    const double extract = seconds_since(extract_start);
    std::printf("%-6s %8zu scopes %8zu records  parse %8.1f ms  extract %8.1f ms  %7.0f ns/scope\n",
                nested ? "nested" : "flat", count, records, parse * 1e3, extract * 1e3, extract * 1e9 / double(count));
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t largest = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 160'000;
    for (const bool nested : {false, true}) {
        for (std::size_t count = largest / 16; count <= largest && count > 0; count *= 2) measure(count, nested);
    }
}
