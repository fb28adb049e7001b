#pragma once
// One value per node of a graph, zero until set, for the length of one query. Storage comes in
// pages allocated on first touch, so a query that touches a few nodes of a big graph pays for
// those pages only.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace kuv::cypher {

template <class T>
class NodeSlots {
public:
    explicit NodeSlots(std::uint32_t node_count) : pages_((std::size_t(node_count) >> kPageBits) + 1) {}

    T& operator[](std::uint32_t node) {
        auto& page = pages_[node >> kPageBits];
        if (!page) page = std::make_unique<T[]>(kPageSize);  // value-initialised: all zero
        return page[node & (kPageSize - 1)];
    }

private:
    static constexpr unsigned kPageBits = 12;
    static constexpr std::size_t kPageSize = std::size_t(1) << kPageBits;
    std::vector<std::unique_ptr<T[]>> pages_;
};

}  // namespace kuv::cypher
