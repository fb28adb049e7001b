#include "core/text_table.hpp"

#include <cstring>
#include <random>

namespace kuv::core {
namespace {

std::uint64_t hash_seed() {
    static const std::uint64_t seed = [] {
        std::random_device device;
        return (std::uint64_t{device()} << 32) ^ device();
    }();
    return seed;
}

std::uint64_t fold_multiply(std::uint64_t a, std::uint64_t b) {
    const auto product = static_cast<unsigned __int128>(a) * b;
    return static_cast<std::uint64_t>(product) ^ static_cast<std::uint64_t>(product >> 64);
}

}  // namespace

// Folds each 8-byte word into the state with a 128-bit multiply, then the state's halves.
TextHash hash_text(std::string_view text) {
    constexpr std::uint64_t kMultiplier = 0x9e3779b97f4a7c15;
    std::uint64_t state = hash_seed() ^ text.size();
    std::uint64_t word = 0;
    for (; text.size() >= sizeof word; text.remove_prefix(sizeof word)) {
        std::memcpy(&word, text.data(), sizeof word);
        state = fold_multiply(state ^ word, kMultiplier);
    }
    word = 0;
    if (!text.empty()) std::memcpy(&word, text.data(), text.size());
    state = fold_multiply(state ^ word, kMultiplier);
    return std::max<TextHash>(static_cast<TextHash>(state ^ (state >> 32)), 1);
}

}  // namespace kuv::core
