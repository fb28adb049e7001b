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

Utf8Step utf8_step(std::string_view bytes, std::size_t pos) {
    const auto lead = static_cast<unsigned char>(bytes[pos]);
    if (lead < 0x80) return {Utf8Step::Kind::Valid, 1};
    std::size_t continuation_count = 0;
    // The second byte's range is narrower after some leads (overlong forms, surrogates, > U+10FFFF).
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        continuation_count = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        continuation_count = 2;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        continuation_count = 3;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return {Utf8Step::Kind::Invalid, 1};
    }
    std::size_t length = 1;
    for (std::size_t k = 0; k < continuation_count; ++k, ++length) {
        if (pos + length >= bytes.size()) return {Utf8Step::Kind::Truncated, length};
        const auto next = static_cast<unsigned char>(bytes[pos + length]);
        if (next < low || next > high) return {Utf8Step::Kind::Invalid, length};
        low = 0x80;
        high = 0xBF;
    }
    return {Utf8Step::Kind::Valid, length};
}

std::string_view decode_utf8_lossy(std::string_view bytes, std::string& buffer) {
    static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
    std::size_t pos = 0;
    std::size_t copied = 0;  // bytes[0, copied) are already in `buffer`
    bool copying = false;
    while (pos < bytes.size()) {
        const Utf8Step step = utf8_step(bytes, pos);
        if (step.kind != Utf8Step::Kind::Valid) {
            if (!copying) {
                buffer.clear();
                buffer.reserve(bytes.size() + kReplacement.size());
                copying = true;
            }
            buffer.append(bytes.substr(copied, pos - copied));
            buffer.append(kReplacement);
            copied = pos + step.length;
        }
        pos += step.length;
    }
    if (!copying) return bytes;
    buffer.append(bytes.substr(copied));
    return buffer;
}

}  // namespace kuv
