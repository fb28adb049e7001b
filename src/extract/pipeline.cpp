#include "extract/pipeline.hpp"

#include "core/debug_text.hpp"
#include "core/mapped_file.hpp"
#include "core/os_error.hpp"
#include "extract/dom.hpp"
#include "extract/dom_attr.hpp"
#include "extract/jsonld.hpp"
#include "extract/next_data.hpp"
#include "extract/platform_json.hpp"
#include "extract/worker_pool.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace kuv::extract {
namespace {

template <class... Handlers>
struct Overloaded : Handlers... {
    using Handlers::operator()...;
};

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

void write_stderr(std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = ::write(STDERR_FILENO, text.data(), text.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        text.remove_prefix(static_cast<std::size_t>(written));
    }
}

void warn_skip(const std::string& path, int errno_value) {
    write_stderr("kuv: skip " + debug_path(path) + ": " + os_error_text(errno_value) + "\n");
}

// Opening a named pipe for reading would wait for a writer, possibly forever; it is skipped with
// the error that mapping any other non-regular file gives.
bool is_named_pipe(const std::string& path) {
    struct stat status {};
    return path.find('\0') == std::string::npos && ::stat(path.c_str(), &status) == 0 && S_ISFIFO(status.st_mode);
}

void ingest_file(core::GraphBuilder& builder, const std::string& path) {
    if (is_named_pipe(path)) {
        warn_skip(path, ENODEV);
        return;
    }
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

struct Utf8Step {
    std::size_t length;  // of the well-formed sequence, or of the maximal invalid prefix
    bool valid;
};

// The sequence starting at `pos`, by the ranges of well-formed UTF-8 (no overlong forms, no
// surrogates, nothing above U+10FFFF).
Utf8Step utf8_step(std::string_view bytes, std::size_t pos) {
    const auto lead = static_cast<unsigned char>(bytes[pos]);
    if (lead < 0x80) return {1, true};
    std::size_t continuation_count = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        continuation_count = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        continuation_count = 2;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        continuation_count = 3;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return {1, false};
    }
    std::size_t length = 1;
    for (std::size_t k = 0; k < continuation_count; ++k, ++length) {
        if (pos + length >= bytes.size()) return {length, false};
        const auto next = static_cast<unsigned char>(bytes[pos + length]);
        if (next < low || next > high) return {length, false};
        low = 0x80;
        high = 0xBF;
    }
    return {length, true};
}

}  // namespace

std::string_view decode_utf8_lossy(std::string_view bytes, std::string& buffer) {
    static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
    std::size_t pos = 0;
    std::size_t copied = 0;  // bytes[0, copied) are already in `buffer`
    bool copying = false;
    while (pos < bytes.size()) {
        const Utf8Step step = utf8_step(bytes, pos);
        if (!step.valid) {
            if (!copying) {
                buffer.clear();
                buffer.reserve(bytes.size() + kReplacement.size());
                copying = true;
            }
            buffer.append(bytes.substr(copied, pos - copied));
            buffer.append(kReplacement);
            copied = pos + step.length;
        }
        pos += step.length;
    }
    if (!copying) return bytes;
    buffer.append(bytes.substr(copied));
    return buffer;
}

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

void ingest_pages_into(core::GraphBuilder& builder, const std::vector<std::string>& pages) {
    std::vector<std::pair<PageExtract, PriceScale>> results(pages.size());
    WorkerPool::shared().run(pages.size(), [&](std::size_t i) { results[i] = extract_page(pages[i]); });
    for (const auto& [extract, scale] : results) ingest_into(builder, extract, scale);
}

core::GraphBuilder build_from_files(const std::vector<std::string>& paths) {
    core::GraphBuilder builder;
    for (const std::string& path : paths) ingest_file(builder, path);
    return builder;
}

}  // namespace kuv::extract
