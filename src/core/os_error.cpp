#include "core/os_error.hpp"

#include <cstring>

namespace kuv {

std::string os_error_text(int errno_value) {
    char buffer[256];
    // GNU strerror_r returns the message, which may or may not live in `buffer`.
    const char* description = strerror_r(errno_value, buffer, sizeof buffer);
    return std::string(description) + " (os error " + std::to_string(errno_value) + ")";
}

}  // namespace kuv
