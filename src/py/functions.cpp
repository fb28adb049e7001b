#include "py/functions.hpp"

#include "core/builder.hpp"
#include "core/error.hpp"
#include "core/store.hpp"
#include "cypher/executor.hpp"
#include "cypher/parser.hpp"
#include "extract/page_stream.hpp"
#include "extract/pipeline.hpp"
#include "py/binding.hpp"
#include "py/conversion.hpp"
#include "py/errors.hpp"
#include "py/paths.hpp"

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kuv::py {
namespace {

// Builds the result object for a successful outcome, or raises the failure.
template <class T, class Convert>
PyObject* finish(Outcome<T>& outcome, std::string_view function, Convert convert) {
    if (const Failure* failure = std::get_if<Failure>(&outcome)) {
        raise_failure(*failure, function);
        return nullptr;
    }
    return convert(std::get<T>(outcome));
}

PyObject* byte_count(std::uint64_t bytes) { return checked(PyLong_FromUnsignedLongLong(bytes)).release(); }

// The tail shared by all graph-building functions: freeze, create the output's parent
// directory, save. Returns the bytes written.
std::uint64_t freeze_and_save(core::GraphBuilder builder, const std::string& out_path) {
    const core::Graph graph = std::move(builder).build();
    create_parent_dirs(out_path);
    return core::save(graph, out_path);
}

// The stored graph when `existing_path` names a regular file, otherwise an empty builder.
core::GraphBuilder builder_from_existing(const std::string& existing_path) {
    if (!is_regular_file(existing_path)) return {};
    return core::GraphBuilder::from_graph(core::load_owned(existing_path));
}

// Cancels the stream's extraction when the work ends, however it ends: no worker may still be
// extracting once a call's work is over (interpreter exit relies on it, see py/shutdown.hpp).
class CancelWhenDone {
public:
    explicit CancelWhenDone(extract::PageStream& stream) : stream_(stream) {}
    ~CancelWhenDone() { stream_.cancel(); }
    CancelWhenDone(const CancelWhenDone&) = delete;
    CancelWhenDone& operator=(const CancelWhenDone&) = delete;

private:
    extract::PageStream& stream_;
};

cypher::QueryResult run_query(const std::string& graph_path, const std::string& query_text) {
    const core::LoadedGraph graph = core::LoadedGraph::open(graph_path);  // a bad file wins over a bad query
    const auto parsed = cypher::parse(query_text);
    if (const auto* message = std::get_if<std::string>(&parsed)) throw kuv::Error(*message);
    return cypher::execute(graph, std::get<cypher::Query>(parsed));
}

constexpr std::array<std::string_view, 2> kBuildGraphParameters{"pages", "out_path"};
constexpr std::array<std::string_view, 2> kBuildGraphFromDirParameters{"html_dir", "out_path"};
constexpr std::array<std::string_view, 4> kMergeGraphParameters{"existing_path", "pages", "removed_urls", "out_path"};
constexpr std::array<std::string_view, 2> kQueryParameters{"graph_path", "cypher_query"};

PyObject* build_graph(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded("build_graph", [&]() -> PyObject* {
        std::array<PyObject*, 2> bound{};
        if (!bind_arguments({"build_graph", kBuildGraphParameters}, args, kwargs, bound)) return nullptr;
        std::vector<PyRef> page_owners;
        core::GraphBuilder builder;
        extract::PageStream stream;  // pages are extracted, and absorbed, while later ones are converted
        stream.absorb_early_into(builder);
        std::string out_path;
        if (!convert_pages(bound[0], "pages", page_owners, stream) ||
            !convert_text(bound[1], "out_path", out_path)) {
            return nullptr;
        }
        auto outcome = run_without_lock([&] {
            const CancelWhenDone cancel(stream);
            stream.ingest_into(builder);
            return freeze_and_save(std::move(builder), out_path);
        });
        return finish(outcome, "build_graph", byte_count);
    });
}

PyObject* build_graph_from_dir(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded("build_graph_from_dir", [&]() -> PyObject* {
        std::array<PyObject*, 2> bound{};
        std::string html_dir;
        std::string out_path;
        if (!bind_arguments({"build_graph_from_dir", kBuildGraphFromDirParameters}, args, kwargs, bound) ||
            !convert_text(bound[0], "html_dir", html_dir) || !convert_text(bound[1], "out_path", out_path)) {
            return nullptr;
        }
        auto outcome = run_without_lock([&] {
            const std::vector<std::string> paths = list_html_files(html_dir);
            const std::uint64_t bytes = freeze_and_save(extract::build_from_files(paths), out_path);
            return std::pair<std::uint64_t, std::uint64_t>(paths.size(), bytes);
        });
        return finish(outcome, "build_graph_from_dir", [](const std::pair<std::uint64_t, std::uint64_t>& counts) {
            PyRef pages = checked(PyLong_FromUnsignedLongLong(counts.first));
            PyRef bytes = checked(PyLong_FromUnsignedLongLong(counts.second));
            PyRef pair = checked(PyTuple_New(2));
            PyTuple_SetItem(pair.get(), 0, pages.release());  // steals
            PyTuple_SetItem(pair.get(), 1, bytes.release());
            return pair.release();
        });
    });
}

PyObject* merge_graph(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded("merge_graph", [&]() -> PyObject* {
        std::array<PyObject*, 4> bound{};
        if (!bind_arguments({"merge_graph", kMergeGraphParameters}, args, kwargs, bound)) return nullptr;
        std::string existing_path;
        std::vector<PyRef> page_owners;
        extract::PageStream stream;
        Texts removed_urls;
        std::string out_path;
        if (!convert_text(bound[0], "existing_path", existing_path) ||
            !convert_pages(bound[1], "pages", page_owners, stream) ||
            !convert_texts(bound[2], "removed_urls", removed_urls) || !convert_text(bound[3], "out_path", out_path)) {
            return nullptr;
        }
        auto outcome = run_without_lock([&] {
            const CancelWhenDone cancel(stream);
            core::GraphBuilder builder = builder_from_existing(existing_path);
            stream.ingest_into(builder);
            builder.remove_nodes_by_urls(removed_urls.views());
            return freeze_and_save(std::move(builder), out_path);
        });
        return finish(outcome, "merge_graph", byte_count);
    });
}

PyObject* query(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded("query", [&]() -> PyObject* {
        std::array<PyObject*, 2> bound{};
        std::string graph_path;
        std::string cypher_query;
        if (!bind_arguments({"query", kQueryParameters}, args, kwargs, bound) ||
            !convert_text(bound[0], "graph_path", graph_path) || !convert_text(bound[1], "cypher_query", cypher_query)) {
            return nullptr;
        }
        auto outcome = run_without_lock([&] { return run_query(graph_path, cypher_query); });
        return finish(outcome, "query", rows_to_list);
    });
}

template <PyObject* (*Function)(PyObject*, PyObject*, PyObject*)>
PyCFunction entry() {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(Function));
}

constexpr const char* kBuildGraphDoc =
    "build_graph(pages, out_path)\n--\n\n"
    "Build a graph from in-memory HTML strings and serialize it to `out_path`\n"
    "(rkyv `graph.bin`). Returns the byte size written. Suited to small batches\n"
    "where holding all HTML in memory is fine.";

constexpr const char* kBuildGraphFromDirDoc =
    "build_graph_from_dir(html_dir, out_path)\n--\n\n"
    "Memory-bounded build: scan `html_dir` for `*.html`/`*.htm`, mmap each file\n"
    "one at a time, fold into the graph, and serialize to `out_path`. Peak memory\n"
    "is ~one page + the growing graph \u2014 independent of page count. This is the\n"
    "pelrin handoff path. Returns (page_count, bytes_written).";

constexpr const char* kMergeGraphDoc =
    "merge_graph(existing_path, pages, removed_urls, out_path)\n--\n\n"
    "INCREMENTAL rebuild: fold a small batch of re-crawled `pages` into the\n"
    "graph at `existing_path`, drop the products at `removed_urls`, and write the\n"
    "result to `out_path` (atomic). Returns the byte size written.\n"
    "\n"
    "This is what lets a store's graph stay current WITHOUT re-crawling every\n"
    "page: a change-detector (sitemap `lastmod` / content hash) feeds only the\n"
    "handful of changed product pages here, plus the URLs of any that went\n"
    "off-sale. A re-crawled product `upsert`s \u2014 its price/name overwrite in\n"
    "place rather than duplicating. `removed_urls` are matched against each\n"
    "product's `url` prop (the identity a caller actually holds \u2014 the internal\n"
    "node id is a source-dependent handle/sku the caller never sees).\n"
    "\n"
    "When `existing_path` is absent or empty, this behaves like a fresh\n"
    "`build_graph` from `pages` \u2014 so the caller needs no first-run/incremental\n"
    "branch. `existing_path` and `out_path` MAY be the same file (the load\n"
    "fully deserializes into memory before the atomic rewrite).";

constexpr const char* kQueryDoc =
    "query(graph_path, cypher_query)\n--\n\n"
    "Run a read-only Cypher query against a saved `graph.bin` (mmap'd zero-copy).\n"
    "Returns a list of row dicts keyed by the RETURN column names. A NodeRef\n"
    "value becomes a nested dict `{\"idx\", \"kind\", \"name\"}`.";

constexpr int kVarargsAndKeywords = METH_VARARGS | METH_KEYWORDS;

std::array<PyMethodDef, 4> records{{
    {"build_graph", entry<build_graph>(), kVarargsAndKeywords, kBuildGraphDoc},
    {"build_graph_from_dir", entry<build_graph_from_dir>(), kVarargsAndKeywords, kBuildGraphFromDirDoc},
    {"merge_graph", entry<merge_graph>(), kVarargsAndKeywords, kMergeGraphDoc},
    {"query", entry<query>(), kVarargsAndKeywords, kQueryDoc},
}};

}  // namespace

std::span<PyMethodDef> function_records() { return records; }

}  // namespace kuv::py
