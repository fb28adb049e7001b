#include "core/schema.hpp"

#include <array>

namespace kuv::core {
namespace {

constexpr std::array<std::string_view, 9> kNodeKindLabels{
    "Product", "Offer", "Brand", "Organization", "Review", "AggregateRating", "Category", "Person", "Variant",
};
constexpr std::array<std::string_view, 10> kRelTypeLabels{
    "Offers", "Brand", "Manufacturer", "Review", "AggregateRating",
    "IsVariantOf", "Category", "Author", "HasVariant", "BroaderCategory",
};

template <class Enum, std::size_t N>
std::optional<Enum> from_label(const std::array<std::string_view, N>& labels, std::string_view label) {
    for (std::size_t code = 0; code < N; ++code) {
        if (labels[code] == label) return Enum(static_cast<std::uint8_t>(code));
    }
    return std::nullopt;
}

}  // namespace

std::optional<NodeKind> node_kind_from_label(std::string_view label) {
    return from_label<NodeKind>(kNodeKindLabels, label);
}

std::optional<RelType> rel_type_from_label(std::string_view label) {
    return from_label<RelType>(kRelTypeLabels, label);
}

std::string_view label(NodeKind kind) { return kNodeKindLabels[static_cast<std::uint8_t>(kind)]; }

std::string_view node_kind_label(std::uint8_t code) { return kNodeKindLabels[code]; }

}  // namespace kuv::core
