#pragma once
// The temporary file a save writes before renaming it over the output path. Output paths that
// differ only in their extension (out/g.bin, out/g.dat, out/g) share one temporary path, so saves
// take turns on it: each holds an exclusive advisory lock (flock) on its open temporary file from
// before it empties the file until after it has renamed it away. The lock belongs to the open
// file, so two threads of one process exclude each other as two processes do, and a file left by
// a killed process holds no lock and is taken at once.
//
// Saves also lock the directory, briefly, whenever they look at the temporary path, remove what
// sits there, create the file, or rename it: so no save removes a file that another save holds
// or is creating, and none renames any file but its own. No save waits for a temporary file's
// lock while it holds the directory's, so the two locks cannot hold each other up.
#include "core/parent_only_descriptor.hpp"

#include <optional>
#include <string>
#include <sys/stat.h>
#include <utility>

namespace kuv::core {

class TempFileTurn {
public:
    // Waits for this save's turn on the temporary file at `path` and returns the file open for
    // writing, empty and locked; the turn ends when the TempFileTurn goes away. A regular file
    // with one name that belongs to this process's effective user and that no save holds (a
    // killed save's) is reused. Anything else is removed and a fresh file created: a named pipe,
    // a symbolic link, a second name of another file, another user's file, a file this process
    // may not write. Such an entry is never followed, opened for writing or emptied. nullopt
    // when the path cannot be taken: a directory sits there, or what sits there cannot be
    // removed (another user's file in a sticky directory). Throws Interrupted when a stop is
    // requested while it waits.
    static std::optional<TempFileTurn> take(const std::string& path);

    int fd() const { return file_.get(); }
    // Asks the file system for a write error it defers to close; false when there was one.
    bool close_reports_no_error() const { return file_.close_duplicate(); }

    enum class Rename { kDone, kLost, kFailed };
    // Renames the file over `out_path`, provided the temporary path still names it. kLost when it
    // no longer does (another user's save that could not read it took it for a leftover, or
    // something outside the saves removed or replaced it): nothing is renamed and the caller
    // writes again. kFailed when rename fails; the file stays where it is. Throws
    // Interrupted when a stop is requested while it waits for the directory.
    Rename rename_over(const std::string& out_path);

    // Removes the file, provided the temporary path still names it: a stopped save's file is of
    // no use to anyone. A second stop request while it waits for the directory leaves the file
    // there, to be reused by the next save.
    void discard();

private:
    TempFileTurn(std::string path, std::string directory, ParentOnlyDescriptor file, const struct stat& identity)
        : path_(std::move(path)), directory_(std::move(directory)), file_(std::move(file)), identity_(identity) {}
    bool still_named() const;

    std::string path_;
    std::string directory_;
    ParentOnlyDescriptor file_;
    struct stat identity_;
};

}  // namespace kuv::core
