#include "core/mapped_file.hpp"

#include "core/file_descriptor.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <utility>

namespace kuv::core {
bool MappedFile::open(const std::string& path, MappedFile& out, Failure& failure) {
    // The C interface ends a path at its first NUL; refuse rather than open a different file.
    if (path.find('\0') != std::string::npos) {
        failure = {Step::Open, EINVAL};
        return false;
    }
    const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) {
        failure = {Step::Open, errno};
        return false;
    }
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) {
        failure = {Step::Stat, errno};
        return false;
    }
    const auto size = static_cast<std::size_t>(status.st_size);
    // An empty file still gets a (one-byte) mapping so the handle always owns one.
    const std::size_t length = size == 0 ? 1 : size;
    void* address = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, fd.get(), 0);
    if (address == MAP_FAILED) {
        failure = {Step::Map, errno};
        return false;
    }
    MappedFile mapped;
    mapped.address_ = address;
    mapped.mapped_length_ = length;
    mapped.size_ = size;
    out = std::move(mapped);
    return true;
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : address_(std::exchange(other.address_, nullptr)),
      mapped_length_(std::exchange(other.mapped_length_, 0)),
      size_(std::exchange(other.size_, 0)) {}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
    if (this != &other) {
        MappedFile old(std::move(*this));
        address_ = std::exchange(other.address_, nullptr);
        mapped_length_ = std::exchange(other.mapped_length_, 0);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

MappedFile::~MappedFile() {
    if (address_ != nullptr) ::munmap(address_, mapped_length_);
}

}  // namespace kuv::core
