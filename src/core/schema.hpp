#pragma once
// The closed vocabulary of the graph: node kinds and relation types with their fixed codes.
#include <cstdint>
#include <optional>
#include <string_view>

namespace kuv::core {

enum class NodeKind : std::uint8_t {
    Product = 0,
    Offer = 1,
    Brand = 2,
    Organization = 3,
    Review = 4,
    AggregateRating = 5,
    Category = 6,
    Person = 7,
    Variant = 8,
};
inline constexpr std::uint8_t kMaxNodeKindCode = 8;

enum class RelType : std::uint8_t {
    Offers = 0,
    Brand = 1,
    Manufacturer = 2,
    Review = 3,
    AggregateRating = 4,
    IsVariantOf = 5,
    Category = 6,
    Author = 7,
    HasVariant = 8,
    BroaderCategory = 9,
};
inline constexpr std::uint8_t kMaxRelTypeCode = 9;

// Exact, case-sensitive label lookups; nullopt for anything else.
std::optional<NodeKind> node_kind_from_label(std::string_view label);
std::optional<RelType> rel_type_from_label(std::string_view label);

// The printed form of a kind ("AggregateRating"). Relation types have no printed form.
std::string_view label(NodeKind kind);
// The label of a stored kind code (at most kMaxNodeKindCode once a file is validated).
std::string_view node_kind_label(std::uint8_t code);

}  // namespace kuv::core
