#pragma once
// Page price evidence (the amounts a page shows next to currency symbols, and its currency) and
// the verdict that normalises one raw price against it.
#include "core/json.hpp"
#include "extract/decimal.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>

namespace kuv::extract {

struct PriceVerdict {
    std::string price;          // normalised amount as text
    std::string_view currency;  // one of the fixed codes, or empty
    std::int64_t price_cents = 0;
    std::int32_t score = 0;     // 0, 2 or 3
    std::uint8_t price_scale = 2;

    // Writes "price", "price_cents", "price_scale", "currency" (when known), "price_confident",
    // "price_score" into `props` (an object), replacing members of the same names.
    void write_into(Json& props) const;
};

struct PriceScale {
    std::unordered_set<std::uint64_t> seen;
    std::unordered_set<std::uint64_t> repeated;
    std::string_view currency;  // points at a static code ("USD"...), empty when unknown
    bool has_text_prices = false;

    static PriceScale from_html(std::string_view html);

    // Judges one raw price (a JSON string or number; anything else gives nullopt) against the
    // optional reference price and this page's evidence.
    std::optional<PriceVerdict> verdict(const Json* raw, const std::optional<Decimal>& reference) const;
};

// Whether the bytes at `pos` (a '<') open a script/style block named `tag`; if so, its end.
std::pair<bool, std::size_t> skip_block(std::string_view html, std::size_t pos, std::string_view tag);

// Rounds half-to-even to a whole number; nullopt when negative or above u64.
std::optional<std::uint64_t> decimal_to_u64_round(const Decimal& value);

}  // namespace kuv::extract
