#pragma once
// The file-system steps the module functions do themselves: listing the input directory,
// creating the output's missing parent directories, and the regular-file test of merge_graph.
// Failures throw kuv::Error with the system's text.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kuv::py {

// Whether an entry name has the extension "html" or "htm" (the part after its last '.', when
// that '.' is not the name's first character).
bool has_html_extension(std::string_view name);

// The selected entries of `dir`, joined to it, in the order the system lists them (not
// recursive; entry types are not examined).
std::vector<std::string> list_html_files(const std::string& dir);

// The parent of `path` by path components: nullopt when there is none ("" or "/"), an empty
// string for a single name.
std::optional<std::string> parent_path(std::string_view path);

// Creates the parent directory of `out_path` and its missing ancestors (mode 0777). An existing
// directory is no error.
void create_parent_dirs(const std::string& out_path);

// Whether `path` names a regular file, symbolic links followed; anything that cannot be
// examined counts as no file.
bool is_regular_file(const std::string& path);

}  // namespace kuv::py
