#include "extract/pipeline.hpp"

#include "core/debug_text.hpp"
#include "core/interrupt.hpp"
#include "core/mapped_file.hpp"
#include "core/os_error.hpp"
#include "core/stderr.hpp"
#include "core/utf8.hpp"
#include "extract/dom.hpp"
#include "extract/dom_attr.hpp"
#include "extract/jsonld.hpp"
#include "extract/next_data.hpp"
#include "extract/platform_json.hpp"

namespace kuv::extract {
namespace {

template <class... Handlers>
struct Overloaded : Handlers... {
    using Handlers::operator()...;
};
// Spelled out for compilers without class template argument deduction for aggregates.
template <class... Handlers>
Overloaded(Handlers...) -> Overloaded<Handlers...>;

// The first source, in priority order, that yields anything. The DOM is built only when the
// three text-scanning sources found nothing.
PageExtract find_products(std::string_view html) {
    if (auto products = platform_json::find_products_array(html); products && !products->empty()) {
        return PlatformProducts{std::move(*products)};
    }
    if (auto products = dom_attr::find_ga_products(html); !products.empty()) {
        return GaProducts{std::move(products)};
    }
    if (const auto data = next_data::find_next_data(html)) {
        std::vector<Json> products;
        next_data::walk(*data, products);
        if (!products.empty()) return NextDataProducts{std::move(products)};
    }
    const dom::Document document(html);
    if (auto records = microdata::extract_from_dom(document); !records.empty()) {
        return MicrodataProducts{std::move(records)};
    }
    std::vector<Json> objects;
    jsonld::gather(document, objects);
    if (!objects.empty()) return JsonLdObjects{std::move(objects)};
    return NoProducts{};
}

template <class Ingest>
void ingest_each(core::GraphBuilder& builder, const std::vector<Json>& values, const PriceScale& scale, Ingest ingest) {
    for (const Json& value : values) ingest(builder, value, scale);
}

void warn_skip(const std::string& path, int errno_value) {
    write_stderr("kuv: skip " + debug_path(path) + ": " + os_error_text(errno_value) + "\n");
}

void ingest_file(core::GraphBuilder& builder, const std::string& path) {
    core::MappedFile file;
    core::MappedFile::Failure failure{};
    if (!core::MappedFile::open(path, file, failure)) {
        warn_skip(path, failure.errno_value);
        return;
    }
    std::string decoded;
    const auto [extract, scale] = extract_page(decode_utf8_lossy(file.bytes(), decoded));
    ingest_into(builder, extract, scale);
}

}  // namespace

std::pair<PageExtract, PriceScale> extract_page(std::string_view html) {
    PageExtract extract = find_products(html);
    if (std::holds_alternative<NoProducts>(extract)) return {std::move(extract), PriceScale{}};
    return {std::move(extract), PriceScale::from_html(html)};
}

void ingest_into(core::GraphBuilder& builder, const PageExtract& page, const PriceScale& scale) {
    std::visit(Overloaded{
                   [&](const PlatformProducts& p) { ingest_each(builder, p.values, scale, platform_json::ingest_product); },
                   [&](const GaProducts& p) { ingest_each(builder, p.values, scale, dom_attr::ingest_ga_product); },
                   [&](const NextDataProducts& p) { ingest_each(builder, p.values, scale, next_data::ingest_next_product); },
                   [&](const MicrodataProducts& p) { microdata::ingest_microdata(builder, p.records, scale); },
                   [&](const JsonLdObjects& p) { ingest_each(builder, p.values, scale, jsonld::ingest_jsonld_product); },
                   [](const NoProducts&) {},
               },
               page);
}

core::GraphBuilder build_from_files(const std::vector<std::string>& paths) {
    core::GraphBuilder builder;
    for (const std::string& path : paths) {
        poll_interrupt();
        ingest_file(builder, path);
    }
    return builder;
}

}  // namespace kuv::extract
