#include "py/paths.hpp"

#include "core/error.hpp"
#include "core/os_error.hpp"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <memory>

namespace kuv::py {
namespace {

constexpr std::string_view kNulInPath = "file name contained an unexpected NUL byte";

bool has_nul(std::string_view path) { return path.find('\0') != std::string_view::npos; }

[[noreturn]] void throw_os_error(int errno_value) { throw kuv::Error(os_error_text(errno_value)); }

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

bool is_directory(const std::string& path) {
    struct stat status {};
    return !has_nul(path) && stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// Splits a path into its root ("/" or "") and its components, dropping empty and "."
// components except a leading "." of a relative path.
struct Components {
    std::string root;
    std::vector<std::string_view> names;
};

Components components_of(std::string_view path) {
    Components result;
    std::size_t pos = 0;
    if (!path.empty() && path.front() == '/') {
        result.root = "/";
        pos = 1;
    }
    bool first = true;
    while (pos <= path.size()) {
        std::size_t end = path.find('/', pos);
        if (end == std::string_view::npos) end = path.size();
        const std::string_view name = path.substr(pos, end - pos);
        const bool leading_dot = first && result.root.empty() && name == ".";
        if (!name.empty() && (name != "." || leading_dot)) result.names.push_back(name);
        first = false;
        pos = end + 1;
    }
    return result;
}

void create_dir_all(const std::string& path) {
    if (path.empty()) return;
    if (has_nul(path)) throw kuv::Error(std::string(kNulInPath));
    if (mkdir(path.c_str(), 0777) == 0) return;
    int failure = errno;
    if (failure != ENOENT) {
        if (is_directory(path)) return;
        throw_os_error(failure);
    }
    const auto parent = parent_path(path);
    if (!parent) throw kuv::Error("failed to create whole tree");
    create_dir_all(*parent);
    if (mkdir(path.c_str(), 0777) == 0) return;
    failure = errno;
    if (is_directory(path)) return;
    throw_os_error(failure);
}

}  // namespace

bool has_html_extension(std::string_view name) {
    if (name == "..") return false;
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return false;
    const std::string_view extension = name.substr(dot + 1);
    return extension == "html" || extension == "htm";
}

std::vector<std::string> list_html_files(const std::string& dir) {
    if (has_nul(dir)) throw kuv::Error(std::string(kNulInPath));
    const DirHandle handle(opendir(dir.c_str()));
    if (!handle) throw_os_error(errno);
    const std::string prefix = !dir.empty() && dir.back() == '/' ? dir : dir + "/";
    std::vector<std::string> paths;
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(handle.get());
        if (entry == nullptr) {
            if (errno != 0) throw_os_error(errno);
            return paths;
        }
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        if (has_html_extension(name)) paths.push_back(prefix + std::string(name));
    }
}

std::optional<std::string> parent_path(std::string_view path) {
    const Components parts = components_of(path);
    if (parts.names.empty()) return parts.root.empty() && !path.empty() ? std::optional<std::string>("") : std::nullopt;
    std::string parent = parts.root;
    for (std::size_t i = 0; i + 1 < parts.names.size(); ++i) {
        if (i != 0) parent += '/';
        parent += parts.names[i];
    }
    return parent;
}

void create_parent_dirs(const std::string& out_path) {
    const auto parent = parent_path(out_path);
    if (parent && !parent->empty()) create_dir_all(*parent);
}

bool is_regular_file(const std::string& path) {
    struct stat status {};
    return !has_nul(path) && stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

}  // namespace kuv::py
