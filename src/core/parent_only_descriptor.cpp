#include "core/parent_only_descriptor.hpp"

#include <algorithm>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace kuv::core {
namespace {

// Every open ParentOnlyDescriptor with the thread that opened it. A descriptor is opened, copied
// and closed only with the mutex held, and fork() is bracketed by handlers that hold it, so a
// child always sees the list complete.
struct Registry {
    struct Entry {
        int fd;
        std::thread::id owner;
    };
    std::mutex mutex;
    std::vector<Entry> open;
};

// Never destroyed: a daemon thread may still be saving while the interpreter exits.
Registry& registry() {
    static Registry* const instance = std::make_unique<Registry>().release();
    return *instance;
}

void lock_registry() { registry().mutex.lock(); }
void unlock_registry() { registry().mutex.unlock(); }

void close_other_threads_descriptors_in_child() {
    Registry& r = registry();
    const std::thread::id forking_thread = std::this_thread::get_id();
    std::erase_if(r.open, [&](const Registry::Entry& entry) {
        if (entry.owner == forking_thread) return false;
        ::close(entry.fd);
        return true;
    });
    r.mutex.unlock();
}

std::unique_lock<std::mutex> hold_off_forks() {
    static std::once_flag fork_handlers;
    std::call_once(fork_handlers, [] {
        pthread_atfork(lock_registry, unlock_registry, close_other_threads_descriptors_in_child);
    });
    return std::unique_lock(registry().mutex);
}

}  // namespace

ParentOnlyDescriptor::ParentOnlyDescriptor(ParentOnlyDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

ParentOnlyDescriptor& ParentOnlyDescriptor::operator=(ParentOnlyDescriptor&& other) noexcept {
    if (this != &other) {
        reset();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

ParentOnlyDescriptor ParentOnlyDescriptor::open(const std::string& path, int flags, mode_t mode) {
    ParentOnlyDescriptor opened;
    // Released before `opened` would be closed, should registering it fail.
    const auto forks_held_off = hold_off_forks();
    opened.fd_ = ::open(path.c_str(), flags | O_CLOEXEC, mode);
    if (opened.valid()) registry().open.push_back({opened.fd_, std::this_thread::get_id()});
    return opened;
}

bool ParentOnlyDescriptor::close_duplicate() const {
    const auto forks_held_off = hold_off_forks();
    const int duplicate = ::dup(fd_);
    return duplicate >= 0 && ::close(duplicate) == 0;
}

void ParentOnlyDescriptor::reset() {
    if (!valid()) return;
    const auto forks_held_off = hold_off_forks();
    std::erase_if(registry().open, [this](const Registry::Entry& entry) { return entry.fd == fd_; });
    ::close(std::exchange(fd_, -1));
}

}  // namespace kuv::core
