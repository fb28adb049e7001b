#include "fuzz_target.hpp"

#include <algorithm>
#include <array>

namespace kuv::fuzz {

std::span<const Target> targets() {
    static constexpr std::array<Target, 6> kTargets{{
        {"extract_page", run_extract_page, extract_page_seeds, describe_extract_page},
        {"json", run_json, json_seeds, describe_json},
        {"query_text", run_query_text, query_text_seeds, nullptr},
        {"graph_file", run_graph_file, graph_file_seeds, nullptr},
        {"price", run_price, price_seeds, nullptr},
        {"builder", run_builder, builder_seeds, nullptr},
    }};
    return kTargets;
}

const Target* find_target(std::string_view name) {
    const auto all = targets();
    const auto found = std::ranges::find(all, name, &Target::name);
    return found == all.end() ? nullptr : &*found;
}

}  // namespace kuv::fuzz
