#pragma once
// Operating-system errors as the system prints them: "{description} (os error {n})".
#include <string>

namespace kuv {

std::string os_error_text(int errno_value);

}  // namespace kuv
