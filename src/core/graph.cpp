#include "core/graph.hpp"

#include "core/error.hpp"
#include "core/utf8.hpp"

#include <optional>
#include <string>

namespace kuv::core {
namespace {

// Describes the first ill-formed sequence the way the decoder whose messages callers expect does.
std::optional<std::string> utf8_failure(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const Utf8Step step = utf8_step(text, i);
        switch (step.kind) {
            case Utf8Step::Kind::Valid:
                i += step.length;
                break;
            case Utf8Step::Kind::Invalid:
                return "invalid utf-8 sequence of " + std::to_string(step.length) + " bytes from index " +
                       std::to_string(i);
            case Utf8Step::Kind::Truncated:
                return "incomplete utf-8 byte sequence from index " + std::to_string(i);
        }
    }
    return std::nullopt;
}

std::string range_end_message(std::uint64_t end, std::size_t length) {
    return "range end index " + std::to_string(end) + " out of range for slice of length " + std::to_string(length);
}

}  // namespace

std::string_view Graph::str(Str s) const {
    const std::uint64_t end = std::uint64_t(s.offset) + s.len;
    if (end > string_pool.size()) throw Fatal(range_end_message(end, string_pool.size()));
    const std::string_view text(string_pool.data() + s.offset, s.len);
    // The vectorised check settles valid text; only bad text is walked again for the message.
    if (is_utf8(text)) return text;
    if (auto failure = utf8_failure(text)) throw Fatal("string_pool utf8: " + *failure);
    return text;
}

std::span<const Edge> Graph::out_edges_of(std::uint32_t i) const {
    if (std::size_t(i) + 1 >= out_offsets.size()) {
        throw Fatal("index out of bounds: the len is " + std::to_string(out_offsets.size()) + " but the index is " +
                    std::to_string(std::size_t(i) + 1));
    }
    const std::uint32_t begin = out_offsets[i];
    const std::uint32_t end = out_offsets[i + 1];
    if (begin > end) {
        throw Fatal("slice index starts at " + std::to_string(begin) + " but ends at " + std::to_string(end));
    }
    if (end > out_edges.size()) throw Fatal(range_end_message(end, out_edges.size()));
    return std::span<const Edge>(out_edges).subspan(begin, end - begin);
}

}  // namespace kuv::core
