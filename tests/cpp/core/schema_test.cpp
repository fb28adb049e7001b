#include "core/schema.hpp"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace kuv::core {
namespace {

TEST(Schema, LabelsMapToTheirCodesExactly) {
    for (std::uint8_t code = 0; code <= kMaxNodeKindCode; ++code) {
        EXPECT_EQ(label(NodeKind(code)), node_kind_label(code));
        EXPECT_EQ(node_kind_from_label(node_kind_label(code)), NodeKind(code)) << int(code);
    }
    const char* const relations[] = {"Offers", "Brand", "Manufacturer", "Review", "AggregateRating",
                                     "IsVariantOf", "Category", "Author", "HasVariant", "BroaderCategory"};
    for (std::uint8_t code = 0; code <= kMaxRelTypeCode; ++code) EXPECT_EQ(rel_type_from_label(relations[code]), RelType(code));
    const auto code_of = [](auto found) { return found ? int(*found) : -1; };
    const std::tuple<std::string, int, int> cases[] = {  // label, node kind code, relation type code (-1: none)
        {"Brand", 2, 1}, {"Category", 6, 6}, {"Review", 4, 3}, {"Offer", 1, -1}, {"Offers", -1, 0}, {"Organisation", -1, -1},
        {"product", -1, -1}, {"PRODUCT", -1, -1}, {" Product", -1, -1}, {"Product ", -1, -1}, {"", -1, -1}, {"hasVariant", -1, -1},
    };
    for (const auto& [text, kind, rel] : cases) {
        EXPECT_EQ(code_of(node_kind_from_label(text)), kind) << text;
        EXPECT_EQ(code_of(rel_type_from_label(text)), rel) << text;
    }
}

}  // namespace
}  // namespace kuv::core
