#include "core/temp_file.hpp"

#include "core/interrupt.hpp"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace kuv::core {
namespace {

// How long a waiting save sleeps between attempts at the lock. It polls rather than blocks in
// flock, so that a stop request reaches a save that waits on any thread.
constexpr std::chrono::milliseconds kTurnPollInterval{1};

// Removes what sits at `path` unless it is a regular file (or nothing), so that a named pipe, a
// device or a symbolic link is never opened or followed. False (errno set) when that fails, as
// for a directory.
bool remove_unless_regular(const std::string& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) return errno == ENOENT;
    return S_ISREG(status.st_mode) || ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

// Takes the exclusive lock on the open file, waiting while another open file holds it.
bool lock_when_free(int fd) {
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) return false;
        poll_interrupt();
        std::this_thread::sleep_for(kTurnPollInterval);
    }
    return true;
}

}  // namespace

FileDescriptor take_temp_file(const std::string& path) {
    for (;;) {
        poll_interrupt();
        if (!remove_unless_regular(path)) return FileDescriptor(-1);
        FileDescriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666));
        if (file.get() < 0) {
            // A link or a pipe put there since the check goes on the next round; a file this
            // process may not write is replaced.
            if (errno == ELOOP || errno == ENXIO) continue;
            if (errno == EACCES && ::unlink(path.c_str()) == 0) continue;
            return file;
        }
        struct stat held {};
        if (::fstat(file.get(), &held) != 0) return FileDescriptor(-1);
        if (!S_ISREG(held.st_mode)) continue;  // a pipe with a reader, swapped in since the check
        if (!lock_when_free(file.get())) return FileDescriptor(-1);
        // The file may have changed hands while this save waited: the save whose turn it was
        // renames it to its output path, and the next save creates a new one.
        struct stat named {};
        if (::lstat(path.c_str(), &named) != 0) {
            if (errno == ENOENT) continue;
            return FileDescriptor(-1);
        }
        if (named.st_dev != held.st_dev || named.st_ino != held.st_ino) continue;
        if (named.st_nlink != 1) {  // emptying it would empty the file under its other name too
            if (::unlink(path.c_str()) != 0 && errno != ENOENT) return FileDescriptor(-1);
            continue;
        }
        if (::ftruncate(file.get(), 0) != 0) return FileDescriptor(-1);
        return file;
    }
}

}  // namespace kuv::core
