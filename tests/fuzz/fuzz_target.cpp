#include "fuzz_target.hpp"

#include <algorithm>
#include <array>

namespace kuv::fuzz {

std::span<const Target* const> targets() {
    static constexpr std::array<const Target*, 6> kTargets{&kExtractPage, &kJson,  &kQueryText,
                                                           &kGraphFile,   &kPrice, &kBuilder};
    return kTargets;
}

const Target* find_target(std::string_view name) {
    const auto all = targets();
    const auto found = std::ranges::find(all, name, &Target::name);
    return found == all.end() ? nullptr : *found;
}

}  // namespace kuv::fuzz
