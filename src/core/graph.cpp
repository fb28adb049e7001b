#include "core/graph.hpp"

#include "core/error.hpp"

#include <optional>
#include <string>

namespace kuv::core {
namespace {

struct Utf8Failure {
    std::size_t valid_up_to;
    std::optional<std::size_t> error_len;  // absent when the input ends inside a sequence
};

bool is_continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

std::size_t sequence_width(unsigned char lead) {
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

// The second byte of a sequence has a narrower range after some lead bytes (overlong forms,
// surrogates, code points above U+10FFFF).
bool second_byte_fits(unsigned char lead, unsigned char b) {
    switch (lead) {
        case 0xE0: return b >= 0xA0 && b <= 0xBF;
        case 0xED: return b >= 0x80 && b <= 0x9F;
        case 0xF0: return b >= 0x90 && b <= 0xBF;
        case 0xF4: return b >= 0x80 && b <= 0x8F;
        default: return is_continuation(b);
    }
}

// Finds the first invalid sequence, reporting its start and how many bytes of it are invalid
// in the same terms as the decoder whose error descriptions the messages follow.
std::optional<Utf8Failure> find_utf8_failure(std::string_view text) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    std::size_t i = 0;
    while (i < size) {
        const unsigned char lead = bytes[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        const std::size_t width = sequence_width(lead);
        if (width == 0) return Utf8Failure{i, 1};
        for (std::size_t k = 1; k < width; ++k) {
            if (i + k >= size) return Utf8Failure{i, std::nullopt};
            const bool fits = k == 1 ? second_byte_fits(lead, bytes[i + k]) : is_continuation(bytes[i + k]);
            if (!fits) return Utf8Failure{i, k};
        }
        i += width;
    }
    return std::nullopt;
}

std::string describe(const Utf8Failure& failure) {
    if (!failure.error_len) {
        return "incomplete utf-8 byte sequence from index " + std::to_string(failure.valid_up_to);
    }
    return "invalid utf-8 sequence of " + std::to_string(*failure.error_len) + " bytes from index " +
           std::to_string(failure.valid_up_to);
}

std::string range_end_message(std::uint64_t end, std::size_t length) {
    return "range end index " + std::to_string(end) + " out of range for slice of length " + std::to_string(length);
}

}  // namespace

std::string_view Graph::str(Str s) const {
    const std::uint64_t end = std::uint64_t(s.offset) + s.len;
    if (end > string_pool.size()) throw Fatal(range_end_message(end, string_pool.size()));
    const std::string_view text(string_pool.data() + s.offset, s.len);
    if (auto failure = find_utf8_failure(text)) throw Fatal("string_pool utf8: " + describe(*failure));
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
