#include "extract/pipeline.hpp"

#include "graph_snapshot.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace kuv::extract {
namespace {

std::string jsonld_page(const std::string& sku, const std::string& name) {
    return R"(<html><head><script type="application/ld+json">{"@type":"Product","sku":")" + sku +
           R"(","name":")" + name + R"(","offers":{"price":"5.00"}}</script></head><body>$5.00</body></html>)";
}

std::string platform_page() {
    return R"(<script>var s = {"products":[{"handle":"mug","title":"Mug","price":"12.00"}]};</script>)"
           R"(<script type="application/ld+json">{"@type":"Product","sku":"ld","name":"LD"}</script>)";
}

std::vector<std::string> names_of(core::GraphBuilder&& builder, const std::string& kind = "Product") {
    std::vector<std::string> names;
    for (const auto& node : testing::snapshot(std::move(builder)).nodes) {
        if (node.kind == kind) names.push_back(node.name);
    }
    return names;
}

TEST(DecodeUtf8Lossy, ValidTextIsReadInPlace) {
    const std::string text = "plain ascii, caf\xC3\xA9, \xF0\x9F\x98\x80";
    std::string buffer;
    const std::string_view decoded = decode_utf8_lossy(text, buffer);
    EXPECT_EQ(decoded.data(), text.data());
    EXPECT_EQ(decoded.size(), text.size());
}

TEST(DecodeUtf8Lossy, EachMaximalInvalidSubsequenceBecomesOneReplacement) {
    const std::string r = "\xEF\xBF\xBD";
    struct Case { std::string input; std::string expected; };
    const Case cases[] = {
        {"\xFF", r},
        {"a\x80" "b", "a" + r + "b"},
        {"\xE2\x82", r},                        // truncated three-byte sequence
        {"\xE2\x82" "x", r + "x"},
        {"\xC0\xAF", r + r},                    // overlong lead
        {"\xED\xA0\x80", r + r + r},            // surrogate
        {"\xF0\x80\x80", r + r + r},            // overlong four-byte
        {"\xF4\x90\x80\x80", r + r + r + r},    // above U+10FFFF
        {"\xF0\x9F\x98", r},                    // truncated emoji
        {"ok\xF0\x9F\x98\x80\xFF", "ok\xF0\x9F\x98\x80" + r},
        {"", ""},
    };
    for (const auto& c : cases) {
        std::string buffer;
        EXPECT_EQ(decode_utf8_lossy(c.input, buffer), c.expected) << ::testing::PrintToString(c.input);
    }
}

TEST(ExtractPage, FirstSourceThatYieldsWins) {
    struct Case { std::string html; std::size_t variant; };
    const Case cases[] = {
        {platform_page(), 0},
        {R"(<div ga-product='{"id":"g1","name":"Ga"}'></div>)", 1},
        {R"(<div itemscope itemtype="https://schema.org/Product"><span itemprop="name">Md</span></div>)", 3},
        {jsonld_page("a", "A"), 4},
        {"<html><body>$5 nothing here</body></html>", 5},
        {"", 5},
    };
    for (const auto& c : cases) {
        const auto [extract, scale] = extract_page(c.html);
        EXPECT_EQ(extract.index(), c.variant) << c.html;
    }
}

TEST(ExtractPage, PriceEvidenceOnlyForPagesWithProducts) {
    const auto [none, empty_scale] = extract_page("<p>$19.99 and $19.99</p>");
    EXPECT_TRUE(std::holds_alternative<NoProducts>(none));
    EXPECT_TRUE(empty_scale.seen.empty());
    EXPECT_FALSE(empty_scale.has_text_prices);
    const auto [found, scale] = extract_page(jsonld_page("a", "A") + "<p>$19.99</p>");
    EXPECT_TRUE(std::holds_alternative<JsonLdObjects>(found));
    EXPECT_TRUE(scale.seen.contains(19));
}

TEST(IngestPagesInto, ResultsAreIngestedInInputOrder) {
    std::vector<std::string> pages;
    std::vector<std::string> expected;
    for (int i = 0; i < 500; ++i) {
        pages.push_back(jsonld_page("sku" + std::to_string(i), "Item " + std::to_string(i)));
        expected.push_back("Item " + std::to_string(i));
    }
    core::GraphBuilder builder;
    ingest_pages_into(builder, pages);
    EXPECT_EQ(names_of(std::move(builder)), expected);
}

TEST(IngestPagesInto, LaterPageOverwritesSameId) {
    core::GraphBuilder builder;
    ingest_pages_into(builder, {jsonld_page("same", "First"), jsonld_page("other", "Other"), jsonld_page("same", "Second")});
    EXPECT_EQ(names_of(std::move(builder)), (std::vector<std::string>{"Second", "Other"}));
}

TEST(IngestPagesInto, EmptyBatchLeavesBuilderUnchanged) {
    core::GraphBuilder builder;
    ingest_pages_into(builder, {jsonld_page("a", "A")});
    ingest_pages_into(builder, {});
    EXPECT_EQ(builder.node_count(), 2u);  // the product and its offer
}

TEST(IngestPagesInto, PlatformArrayAloneIsIngested) {
    core::GraphBuilder builder;
    ingest_pages_into(builder, {platform_page()});
    EXPECT_EQ(names_of(std::move(builder)), (std::vector<std::string>{"Mug"}));
}

class BuildFromFiles : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("kuv_pipeline_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string write(const std::string& name, const std::string& bytes) {
        const auto path = dir_ / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path.string();
    }
    std::filesystem::path dir_;
};

TEST_F(BuildFromFiles, SkipsUnreadableFilesWithOneWarningEach) {
    const std::string first = write("a.html", jsonld_page("a", "A"));
    const std::string missing = (dir_ / "missing.html").string();
    const std::string empty = write("empty.html", "");
    const std::string last = write("b.html", jsonld_page("b", "B"));
    ::testing::internal::CaptureStderr();
    core::GraphBuilder builder = build_from_files({first, missing, empty, last, dir_.string()});
    const std::string warnings = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(names_of(std::move(builder)), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(warnings, "kuv: skip \"" + missing + "\": No such file or directory (os error 2)\n" +
                            "kuv: skip \"" + dir_.string() + "\": No such device (os error 19)\n");
}

TEST_F(BuildFromFiles, NamedPipeIsSkippedWithoutWaitingForAWriter) {
    const std::string pipe = (dir_ / "pipe.html").string();
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const std::string page = write("a.html", jsonld_page("a", "A"));
    ::testing::internal::CaptureStderr();
    core::GraphBuilder builder = build_from_files({pipe, page});
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "kuv: skip \"" + pipe + "\": No such device (os error 19)\n");
    EXPECT_EQ(names_of(std::move(builder)), (std::vector<std::string>{"A"}));
}

TEST_F(BuildFromFiles, InvalidUtf8IsReplaced) {
    const std::string path = write("bad.html", jsonld_page("x", "Bad \xFF byte"));
    EXPECT_EQ(names_of(build_from_files({path})), (std::vector<std::string>{"Bad \xEF\xBF\xBD byte"}));
}

TEST_F(BuildFromFiles, EmptyListGivesEmptyBuilder) {
    EXPECT_EQ(build_from_files({}).node_count(), 0u);
}

}  // namespace
}  // namespace kuv::extract
