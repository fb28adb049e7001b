#include "cypher/matcher.hpp"

namespace kuv::cypher {

std::optional<std::size_t> position_of(const Pattern& pattern, std::string_view var) {
    for (std::size_t k = 0; k < pattern.nodes.size(); ++k) {
        if (pattern.nodes[k].var == var) return k;
    }
    return std::nullopt;
}

NodeFilter::NodeFilter(const NodePat& pattern, const PropertyReader& reader) {
    for (core::NodeKind kind : pattern.labels) kinds_ |= std::uint32_t(1) << static_cast<unsigned>(kind);
    if (pattern.labels.empty()) kinds_ = ~std::uint32_t(0);
    for (const auto& [key, literal] : pattern.props) props_.emplace_back(reader.key(key), scalar_of(literal));
}

PathMatcher::PathMatcher(const Pattern& pattern, const PropertyReader& reader) {
    for (const NodePat& node : pattern.nodes) nodes_.emplace_back(node, reader);
    for (const RelPat& rel : pattern.rels) {
        std::uint32_t types = rel.types.empty() ? ~std::uint32_t(0) : 0;
        for (core::RelType type : rel.types) types |= std::uint32_t(1) << static_cast<unsigned>(type);
        rels_.push_back({types, rel.direction == Direction::Outgoing});
    }
}

}  // namespace kuv::cypher
