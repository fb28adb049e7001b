// Replays, through the same functions the fuzzers call, every stored regression input, inputs
// too large to store and every target's built-in seeds.
#include "fuzz_target.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace kuv::fuzz {
namespace {

namespace fs = std::filesystem;

struct Replay {
    std::string target;
    std::string label;  // what the input is, for the test name
    std::string input;
    std::optional<std::string> expected = {};  // what the target's describe must give
};

// Test names say which input failed; the bytes themselves are not worth printing.
void PrintTo(const Replay& replay, std::ostream* out) { *out << replay.target << "/" << replay.label; }

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every input file under <folder>/<target>/, in name order, with its expectation when it has
// one. A folder that names no target gives replays that fail, so no input is silently skipped.
std::vector<Replay> stored(const fs::path& folder) {
    std::vector<fs::path> files;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file() && entry.path().extension() != ".expected") files.push_back(entry.path());
    }
    std::ranges::sort(files);
    std::vector<Replay> replays;
    for (const fs::path& file : files) {
        fs::path expected = file;
        expected += ".expected";
        replays.push_back({file.parent_path().filename(), file.filename(), read_file(file),
                           fs::exists(expected) ? std::optional(read_file(expected)) : std::nullopt});
    }
    return replays;
}

std::string repeated(std::string_view text, std::size_t times) {
    std::string out;
    out.reserve(text.size() * times);
    for (std::size_t i = 0; i < times; ++i) out += text;
    return out;
}

// Inputs too large to keep as files, built at run time.
std::vector<Replay> generated() {
    return {
        // Spans, since nested divs are quadratic in the HTML parser itself.
        {"extract_page", "nested_microdata_scopes",
         repeated(R"(<span itemscope itemtype="https://schema.org/Product"><span itemprop="name">n</span>)", 10000) +
             repeated("</span>", 10000)},
        {"extract_page", "deep_elements", R"(<p itemscope itemtype="https://schema.org/Product">)" +
                                              repeated("<span>", 100000) + R"(<b itemprop="name">n</b> $25 $25)"},
        {"json", "deepest_arrays", repeated("[", 127) + repeated("]", 127)},
        {"json", "too_deep_arrays", repeated("[", 100000) + repeated("]", 100000)},
    };
}

std::vector<Replay> seeds() {
    std::vector<Replay> replays;
    for (const Target* target : targets()) {
        const std::vector<std::string> inputs = target->seeds();
        for (std::size_t i = 0; i < inputs.size(); ++i) {
            replays.push_back({std::string(target->name), "seed" + std::to_string(i), inputs[i]});
        }
    }
    return replays;
}

std::string test_name(const ::testing::TestParamInfo<Replay>& info) {
    std::string name = info.param.target + "_" + info.param.label;
    std::ranges::replace_if(name, [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
    return name;
}

class FuzzReplay : public ::testing::TestWithParam<Replay> {};

// Far above what any input needs, even under the sanitizers: only a hang or a quadratic
// blow-up on a large input gets near it.
constexpr std::chrono::seconds kTimeBudget{10};

void replay(const Replay& replay) {
    const Target* target = find_target(replay.target);
    ASSERT_NE(target, nullptr) << "no fuzz target named " << replay.target;
    const auto start = std::chrono::steady_clock::now();
    try {
        target->run(replay.input);
    } catch (const std::exception& failure) {
        FAIL() << replay.target << " on " << replay.label << ": " << failure.what();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, kTimeBudget) << replay.label;
    if (replay.expected) {
        ASSERT_NE(target->describe, nullptr) << replay.target << " inputs carry no expectation";
        EXPECT_EQ(target->describe(replay.input), *replay.expected) << replay.label;
    }
}

TEST_P(FuzzReplay, RunsCleanly) { replay(GetParam()); }

const fs::path kInputs = KUV_FUZZ_INPUTS_DIR;

INSTANTIATE_TEST_SUITE_P(Regression, FuzzReplay, ::testing::ValuesIn(stored(kInputs / "regressions")), test_name);
INSTANTIATE_TEST_SUITE_P(Generated, FuzzReplay, ::testing::ValuesIn(generated()), test_name);
INSTANTIATE_TEST_SUITE_P(Seed, FuzzReplay, ::testing::ValuesIn(seeds()), test_name);

}  // namespace
}  // namespace kuv::fuzz
