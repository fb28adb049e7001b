#include "core/utf8.hpp"

#include <simdjson.h>

namespace kuv {

bool is_utf8(std::string_view bytes) {
    // Short texts, mostly names, are usually ASCII: a test of their high bits settles them without
    // the validator's call through its dispatch.
    if (bytes.size() <= 32) {
        unsigned char high = 0;
        for (const char c : bytes) high |= static_cast<unsigned char>(c);
        if (high < 0x80) return true;
    }
    return simdjson::validate_utf8(bytes.data(), bytes.size());
}

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// The copy with replacements, for the rare text that has ill-formed sequences.
std::string_view replace_invalid(std::string_view bytes, std::string& buffer) {
    buffer.clear();
    buffer.reserve(bytes.size() + kReplacement.size());
    std::size_t pos = 0;
    std::size_t copied = 0;  // bytes[0, copied) are already in `buffer`
    while (pos < bytes.size()) {
        if (static_cast<unsigned char>(bytes[pos]) < 0x80) {
            ++pos;
            continue;
        }
        const Utf8Step step = utf8_step(bytes, pos);
        if (step.kind != Utf8Step::Kind::Valid) {
            buffer.append(bytes.substr(copied, pos - copied));
            buffer.append(kReplacement);
            copied = pos + step.length;
        }
        pos += step.length;
    }
    buffer.append(bytes.substr(copied));
    return buffer;
}

}  // namespace

std::string_view decode_utf8_lossy(std::string_view bytes, std::string& buffer) {
    // One vectorised check answers for the common, valid page without a byte-wise walk.
    if (is_utf8(bytes)) return bytes;
    return replace_invalid(bytes, buffer);
}

}  // namespace kuv
