#pragma once
// Page price evidence (the amounts a page shows next to currency symbols, and its currency) and
// the verdict that normalises one raw price against it.
#include "core/json.hpp"
#include "extract/decimal.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>

namespace kuv::extract {

// Hashes amounts under a per-thread random key, so that a page cannot pick amounts that all
// land in one bucket and make gathering its evidence quadratic.
class AmountHash {
public:
    AmountHash();
    std::size_t operator()(std::uint64_t amount) const noexcept;

private:
    std::uint64_t key_;
};

using AmountSet = std::unordered_set<std::uint64_t, AmountHash>;

struct PriceVerdict {
    std::string price;          // normalised amount as text
    std::string_view currency;  // one of the fixed codes, or empty
    std::int64_t price_cents = 0;
    std::int32_t score = 0;     // 0, 2 or 3
    std::uint8_t price_scale = 2;

    // Writes "price", "price_cents", "price_scale", "currency" (when known), "price_confident",
    // "price_score" into `props` (an object, or null which becomes one), replacing members of
    // the same names and keeping all others.
    void write_into(Json& props) const;
};

struct PriceScale {
    AmountSet seen;             // whole amounts shown next to a currency symbol
    AmountSet repeated;         // those of `seen` shown at least twice
    std::string_view currency;  // points at a static code ("USD"...), empty when unknown
    bool has_text_prices = false;

    // Gathers the evidence of one raw page text in time linear in its length; never fails.
    static PriceScale from_html(std::string_view html);

    // Judges one raw price (a JSON string or number; a null pointer or any other value gives
    // nullopt, as does a text that does not parse exactly) against the optional reference price
    // and this page's evidence.
    std::optional<PriceVerdict> verdict(const Json* raw, const std::optional<Decimal>& reference) const;
};

// Whether the bytes at `pos` (a '<') open a block named `tag` (lower-case ASCII, "script" or
// "style") whose content is not visible text; if so, the index just past the block.
std::pair<bool, std::size_t> skip_block(std::string_view html, std::size_t pos, std::string_view tag);

// Rounds half-to-even to a whole number; nullopt when negative or above u64.
std::optional<std::uint64_t> decimal_to_u64_round(const Decimal& value);

}  // namespace kuv::extract
