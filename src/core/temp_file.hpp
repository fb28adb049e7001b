#pragma once
// The temporary file a save writes before renaming it over the output path. Output paths that
// differ only in their extension (out/g.bin, out/g.dat, out/g) share one temporary path, so saves
// take turns on it: each holds an exclusive advisory lock (flock) on its open temporary file from
// before it empties the file until after it has renamed it away. The lock belongs to the open
// file, so two threads of one process exclude each other as two processes do, and a file left by
// a killed process holds no lock and is taken at once.
#include "core/file_descriptor.hpp"

#include <string>

namespace kuv::core {

// Waits for this save's turn on the temporary file at `path` and returns it open for writing,
// empty and locked; the turn ends when the descriptor closes. A regular file found there is
// reused; anything else (a named pipe, a symbolic link, a second name of another file, a file
// this process may not write) is removed and replaced, never followed, opened as such or
// truncated. An invalid descriptor (errno set) when the path cannot be taken, for example when
// a directory sits there. Throws Interrupted when a stop is requested while it waits.
FileDescriptor take_temp_file(const std::string& path);

}  // namespace kuv::core
