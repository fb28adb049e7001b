#include "core/temp_file.hpp"

#include "core/interrupt.hpp"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace kuv::core {
namespace {

// How long a waiting save sleeps between attempts at a lock. It polls rather than blocks in
// flock, so that a stop request reaches a save that waits on any thread.
constexpr std::chrono::milliseconds kTurnPollInterval{1};

enum class Lock { kTaken, kBusy, kRefused, kFailed };

// Errors with which a file system refuses advisory locks: saves there go on without taking
// turns. EBADF: where flock is emulated by record locks (NFS), an exclusive lock needs a file
// open for writing.
bool locks_refused(int error) { return error == ENOLCK || error == EOPNOTSUPP || error == EINVAL || error == EBADF; }

Lock try_lock(int fd) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return Lock::kTaken;
    if (errno == EWOULDBLOCK || errno == EINTR) return Lock::kBusy;
    return locks_refused(errno) ? Lock::kRefused : Lock::kFailed;
}

// Takes the exclusive lock on the open file, waiting while another open file holds it.
Lock lock_when_free(int fd) {
    Lock lock;
    while ((lock = try_lock(fd)) == Lock::kBusy) {
        poll_interrupt();
        std::this_thread::sleep_for(kTurnPollInterval);
    }
    return lock;
}

std::string directory_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool same_file(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// The exclusive lock on a directory, held while a save looks at, removes, creates or renames its
// temporary file there; never held while waiting for a temporary file's lock or writing. Where
// the directory cannot be opened or locked, the save goes on without it.
class DirectoryLock {
public:
    explicit DirectoryLock(const std::string& directory)
        : directory_(ParentOnlyDescriptor::open(directory, O_RDONLY | O_DIRECTORY)) {
        if (directory_.valid() && lock_when_free(directory_.get()) != Lock::kTaken) directory_.reset();
    }

private:
    ParentOnlyDescriptor directory_;
};

// What one look at the temporary path, under the directory's lock, came to.
struct Claim {
    enum Outcome { kTaken, kHeldBySave, kLookAgain, kFailed };
    Outcome outcome;
    ParentOnlyDescriptor file{};  // kTaken: locked and empty; kHeldBySave: open, to wait on
    struct stat identity {};      // kTaken: which file it is
};

Claim remove_and_look_again(const std::string& path) {
    return {::unlink(path.c_str()) == 0 || errno == ENOENT ? Claim::kLookAgain : Claim::kFailed};
}

// Decides about the file at `path`, open in `file` and known by `named`, with `reusable` telling
// whether it may become this save's. A file some save holds is waited for; any other is emptied
// and taken if reusable, else removed. It is never emptied or removed before its lock is held.
Claim settle(const std::string& path, ParentOnlyDescriptor file, const struct stat& named, bool reusable) {
    switch (try_lock(file.get())) {
        case Lock::kBusy:
            return {Claim::kHeldBySave, std::move(file)};
        case Lock::kFailed:
            return {Claim::kFailed};
        case Lock::kTaken:
        case Lock::kRefused:
            break;
    }
    if (!reusable) return remove_and_look_again(path);
    if (::ftruncate(file.get(), 0) != 0) return {Claim::kFailed};
    return {Claim::kTaken, std::move(file), named};
}

// An existing file, opened so that its lock can be tried: for writing when it may be reused,
// else (or when writing is refused) only for reading. Whether it may be reused comes back in
// `reusable`.
ParentOnlyDescriptor open_existing(const std::string& path, bool& reusable) {
    constexpr int kFlags = O_NOFOLLOW | O_NONBLOCK;
    if (reusable) {
        ParentOnlyDescriptor file = ParentOnlyDescriptor::open(path, O_WRONLY | kFlags);
        if (file.valid() || errno != EACCES) return file;
        reusable = false;
    }
    return ParentOnlyDescriptor::open(path, O_RDONLY | kFlags);
}

Claim claim(const std::string& path) {
    struct stat named {};
    if (::lstat(path.c_str(), &named) != 0) {
        if (errno != ENOENT) return {Claim::kFailed};
        ParentOnlyDescriptor created = ParentOnlyDescriptor::open(path, O_WRONLY | O_CREAT | O_EXCL, 0666);
        if (!created.valid()) return {errno == EEXIST ? Claim::kLookAgain : Claim::kFailed};  // put there meanwhile
        if (::fstat(created.get(), &named) != 0) return {Claim::kFailed};
        return settle(path, std::move(created), named, true);
    }
    // No save ever holds anything but a regular file, so a pipe, a device or a link is removed
    // without being opened or followed.
    if (!S_ISREG(named.st_mode)) return remove_and_look_again(path);
    bool reusable = named.st_nlink == 1 && named.st_uid == ::geteuid();
    ParentOnlyDescriptor file = open_existing(path, reusable);
    if (!file.valid()) {
        if (errno == ENOENT || errno == ELOOP || errno == ENXIO) return {Claim::kLookAgain};  // replaced meanwhile
        // Another user's file this process may not even read: whether a save holds it cannot be
        // told, so it is taken for a leftover.
        return errno == EACCES ? remove_and_look_again(path) : Claim{Claim::kFailed};
    }
    struct stat opened {};
    if (::fstat(file.get(), &opened) != 0) return {Claim::kFailed};
    if (!same_file(opened, named)) return {Claim::kLookAgain};
    return settle(path, std::move(file), named, reusable);
}

// Looks at the temporary path under the directory's lock until it comes to more than "look
// again" (something was removed, or changed while it was looked at).
Claim claim_under_lock(const std::string& path, const std::string& directory) {
    poll_interrupt();
    const DirectoryLock lock(directory);
    for (;;) {
        Claim found = claim(path);
        if (found.outcome != Claim::kLookAgain) return found;
        poll_interrupt();
    }
}

}  // namespace

std::optional<TempFileTurn> TempFileTurn::take(const std::string& path) {
    std::string directory = directory_of(path);
    for (;;) {
        Claim found = claim_under_lock(path, directory);
        switch (found.outcome) {
            case Claim::kTaken:
                return TempFileTurn(path, std::move(directory), std::move(found.file), found.identity);
            case Claim::kHeldBySave:
                // By the time the lock is free, the save whose turn it was has renamed its file
                // away, or died and left it: either way, look again.
                if (lock_when_free(found.file.get()) == Lock::kFailed) return std::nullopt;
                break;
            case Claim::kFailed:
                return std::nullopt;
            case Claim::kLookAgain:  // never: claim_under_lock looks again itself
                break;
        }
    }
}

bool TempFileTurn::still_named() const {
    struct stat named {};
    return ::lstat(path_.c_str(), &named) == 0 && same_file(named, identity_);
}

TempFileTurn::Rename TempFileTurn::rename_over(const std::string& out_path) {
    if (out_path.find('\0') != std::string::npos) return Rename::kFailed;
    const DirectoryLock lock(directory_);
    if (!still_named()) return Rename::kLost;
    return std::rename(path_.c_str(), out_path.c_str()) == 0 ? Rename::kDone : Rename::kFailed;
}

void TempFileTurn::discard() {
    const DirectoryLock lock(directory_);
    if (still_named()) ::unlink(path_.c_str());
}

}  // namespace kuv::core
