// Single-core throughput of HTML parsing plus JSON-LD gathering, beside MyHTML's bare parse of
// the same pages.
//
//   jsonld_bench [page.html ...]
// Without arguments: a generated 10 MB shop page, then every .html file in
// ../shared/corpus/schema-samples (when that folder exists), as one batch.
#include "core/json.hpp"
#include "extract/dom.hpp"
#include "extract/jsonld.hpp"

#include <myhtml/myhtml.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::string generated_page(std::size_t target_bytes) {
    std::string html = "<!doctype html><html><head><title>Catalogue</title><style>.p{color:red}</style></head><body>";
    for (int i = 0; html.size() < target_bytes; ++i) {
        const std::string n = std::to_string(i);
        html += "<div class=\"card\" data-id=\"" + n + "\"><a href=\"/p/" + n + "\"><img src=\"/i/" + n +
                ".jpg\" alt=\"Item " + n + "\"></a><h2>Item " + n + " &amp; friends</h2><p>Only <b>$" + n +
                ".99</b> today. <!-- promo --> Free shipping.</p><ul><li>red</li><li>blue</li></ul></div>\n";
        if (i % 50 == 0) {
            html += R"(<script type="application/ld+json">{"@context":"https://schema.org","@type":"Product","sku":"S)" + n +
                    R"(","name":"Item )" + n + R"(","offers":{"@type":"Offer","price":")" + n +
                    R"(.99","priceCurrency":"USD"},"aggregateRating":{"ratingValue":4.5,"reviewCount":12}}</script>)";
        }
    }
    return html + "</body></html>";
}

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> corpus_pages() {
    std::vector<std::string> pages;
    const std::filesystem::path folder = "../shared/corpus/schema-samples";
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (entry.path().extension() == ".html") pages.push_back(read_file(entry.path()));
    }
    return pages;
}

struct TreeDeleter {
    void operator()(myhtml_tree_t* tree) const { myhtml_tree_destroy(tree); }
};
struct ParserDeleter {
    void operator()(myhtml_t* parser) const { myhtml_destroy(parser); }
};

// MyHTML on its own, configured as the DOM layer configures it.
class BareParser {
public:
    BareParser() {
        myhtml_init(parser_.get(), MyHTML_OPTIONS_PARSE_MODE_SINGLE, 1, 0);
        myhtml_tree_init(tree_.get(), parser_.get());
    }
    void parse(const std::string& html) {
        tree_->flags = static_cast<myhtml_tree_flags>(tree_->flags | MyHTML_TREE_FLAGS_SCRIPT);
        myhtml_parse(tree_.get(), MyENCODING_UTF_8, html.data(), html.size());
        myhtml_tree_clean(tree_.get());
    }

private:
    std::unique_ptr<myhtml_t, ParserDeleter> parser_{myhtml_create()};
    std::unique_ptr<myhtml_tree_t, TreeDeleter> tree_{myhtml_tree_create()};
};

std::size_t gather_objects(const std::string& html) {
    kuv::extract::dom::Document document{html};
    std::vector<kuv::Json> objects;
    kuv::extract::jsonld::gather(document, objects);
    return objects.size();
}

double seconds_for(const std::vector<std::string>& pages, const auto& pass) {
    const auto start = Clock::now();
    for (const auto& page : pages) pass(page);
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Bare and gathering passes alternate, so load from other processes hits both alike; the best
// pass of each counts.
void report(const char* label, const std::vector<std::string>& pages, int rounds) {
    if (pages.empty()) return;
    std::size_t bytes = 0;
    for (const auto& page : pages) bytes += page.size();
    BareParser bare;
    std::size_t objects = 0;
    double bare_best = 1e300;
    double gather_best = 1e300;
    for (int round = 0; round < rounds; ++round) {
        bare_best = std::min(bare_best, seconds_for(pages, [&](const std::string& page) { bare.parse(page); }));
        objects = 0;
        gather_best = std::min(gather_best, seconds_for(pages, [&](const std::string& page) { objects += gather_objects(page); }));
    }
    const double megabytes = static_cast<double>(bytes) / 1e6;
    std::printf("%-22s %6.2f MB  bare parse %6.1f MB/s  parse+gather %6.1f MB/s  gathering adds %5.1f%%  (%zu objects)\n",
                label, megabytes, megabytes / bare_best, megabytes / gather_best, (gather_best / bare_best - 1) * 100,
                objects);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) {
        for (int i = 1; i < argc; ++i) report(argv[i], {read_file(argv[i])}, 9);
        return 0;
    }
    report("generated page", {generated_page(10'000'000)}, 9);
    report("schema-samples corpus", corpus_pages(), 30);
    return 0;
}
