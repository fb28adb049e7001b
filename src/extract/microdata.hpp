#pragma once
// Products from HTML microdata (itemscope/itemprop).
#include "core/builder.hpp"
#include "extract/dom.hpp"
#include "extract/price.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kuv::extract::microdata {

struct MicrodataProduct {
    std::string name = {};
    std::optional<std::string> price = std::nullopt;
    std::optional<std::string> currency = std::nullopt;
    std::optional<std::string> image = std::nullopt;
    std::optional<std::string> url = std::nullopt;
    friend bool operator==(const MicrodataProduct&, const MicrodataProduct&) = default;
};

std::vector<MicrodataProduct> extract_from_dom(const dom::Document& document);
std::string absolutize(std::string_view url, const std::optional<std::string>& base);
void ingest_microdata(core::GraphBuilder& builder, const std::vector<MicrodataProduct>& records,
                      const PriceScale& scale);

}  // namespace kuv::extract::microdata
