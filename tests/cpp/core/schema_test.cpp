#include "core/schema.hpp"

#include <gtest/gtest.h>

#include <string>

namespace kuv::core {
namespace {

TEST(Schema, EveryNodeLabelMapsBackToItsCode) {
    for (std::uint8_t code = 0; code <= kMaxNodeKindCode; ++code) {
        auto kind = NodeKind(code);
        EXPECT_EQ(node_kind_from_label(label(kind)), kind) << int(code);
        EXPECT_EQ(node_kind_label(code), label(kind));
    }
}

TEST(Schema, LabelsAreMatchedExactly) {
    struct Case { std::string label; std::optional<NodeKind> kind; std::optional<RelType> rel; };
    const Case cases[] = {
        {"Product", NodeKind::Product, std::nullopt},
        {"product", std::nullopt, std::nullopt},
        {"PRODUCT", std::nullopt, std::nullopt},
        {" Product", std::nullopt, std::nullopt},
        {"", std::nullopt, std::nullopt},
        {"Brand", NodeKind::Brand, RelType::Brand},
        {"Offer", NodeKind::Offer, std::nullopt},
        {"Offers", std::nullopt, RelType::Offers},
        {"Organization", NodeKind::Organization, std::nullopt},
        {"Organisation", std::nullopt, std::nullopt},
        {"HasVariant", std::nullopt, RelType::HasVariant},
        {"hasVariant", std::nullopt, std::nullopt},
        {"BroaderCategory", std::nullopt, RelType::BroaderCategory},
        {"Person", NodeKind::Person, std::nullopt},
        {"Category", NodeKind::Category, RelType::Category},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(node_kind_from_label(c.label), c.kind) << c.label;
        EXPECT_EQ(rel_type_from_label(c.label), c.rel) << c.label;
    }
    EXPECT_EQ(static_cast<int>(*rel_type_from_label("Brand")), 1);
    EXPECT_EQ(static_cast<int>(*node_kind_from_label("Brand")), 2);
    EXPECT_EQ(static_cast<int>(*rel_type_from_label("BroaderCategory")), 9);
}

}  // namespace
}  // namespace kuv::core
