#pragma once
// Unbuffered writes to standard error, shared by the skip warnings and the failure report.
#include <string_view>

namespace kuv {

// Writes all of `text` to file descriptor 2, retrying on EINTR and short writes; gives up
// silently on any other error (there is nowhere left to report it).
void write_stderr(std::string_view text);

}  // namespace kuv
