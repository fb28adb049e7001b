#pragma once
// A whole file mapped read-only and shared, owned by an RAII handle. The descriptor is closed
// before open() returns; the mapping lives until the handle is destroyed.
#include <cstddef>
#include <string>
#include <string_view>

namespace kuv::core {

class MappedFile {
public:
    enum class Step { Open, Stat, Map };
    struct Failure {
        Step step;
        int errno_value;
    };

    // Opens, sizes and maps `path` (bytes as given; an embedded NUL fails at the Open step with
    // EINVAL). An empty file is mapped with length 1 while size() reports 0. On failure returns
    // false and fills `failure`; nothing stays open.
    static bool open(const std::string& path, MappedFile& out, Failure& failure);

    MappedFile() = default;
    MappedFile(MappedFile&& other) noexcept;
    MappedFile& operator=(MappedFile&& other) noexcept;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    ~MappedFile();

    std::string_view bytes() const { return {static_cast<const char*>(address_), size_}; }
    std::size_t size() const { return size_; }

private:
    void* address_ = nullptr;
    std::size_t mapped_length_ = 0;
    std::size_t size_ = 0;
};

}  // namespace kuv::core
