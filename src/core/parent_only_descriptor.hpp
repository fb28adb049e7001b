#pragma once
// Descriptors that a process forked while they are open closes at once in the child. An advisory
// lock (flock) belongs to the open file, which every copy of a descriptor shares: a forked child
// that kept a copy of a save's descriptor would hold that save's lock until it exits, so its own
// saves through the same path, and the parent's later ones, would wait for it. The thread that
// forks keeps its own descriptors in the child, since that thread goes on there and still uses
// them; no other thread of the parent exists in the child.
#include <sys/types.h>

#include <string>

namespace kuv::core {

class ParentOnlyDescriptor {
public:
    ParentOnlyDescriptor() = default;
    ParentOnlyDescriptor(ParentOnlyDescriptor&& other) noexcept;
    ParentOnlyDescriptor& operator=(ParentOnlyDescriptor&& other) noexcept;
    ParentOnlyDescriptor(const ParentOnlyDescriptor&) = delete;
    ParentOnlyDescriptor& operator=(const ParentOnlyDescriptor&) = delete;
    ~ParentOnlyDescriptor() { reset(); }

    // open(2), with forks held off until the new descriptor is registered, so that no child can
    // copy it unnoticed. Invalid (errno set) when open fails.
    static ParentOnlyDescriptor open(const std::string& path, int flags, mode_t mode = 0);

    bool valid() const { return fd_ >= 0; }
    int get() const { return fd_; }

    // Some file systems (NFS) report a failed write only when a descriptor is closed. Closing a
    // duplicate asks for that report while this descriptor, and any lock taken through it, stays
    // open. False when the duplicate cannot be made or its close fails.
    bool close_duplicate() const;

    // Closes the descriptor now (nothing when invalid).
    void reset();

private:
    int fd_ = -1;
};

}  // namespace kuv::core
