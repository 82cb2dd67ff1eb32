#pragma once

#include <cstdint>
#include <string>

// What file_system.cpp asks of the platform's own calls, beside the checks it declares.
namespace orbv {

// Free bytes of the volume holding the directory, -1 when unknown.
int64_t volume_free_bytes(const std::string& directory);
// Whether the existing file or directory may be written.
bool may_write(const std::string& path);
bool is_path_separator(char c);
// The longest file name (one path component) both systems take, in bytes.
constexpr size_t kMaxNameBytes = 255;
// Creates `path` as a new empty file, failing when anything carries the name: 0 or the
// system's code (EEXIST when the name is taken).
int create_new_file(const std::string& path);

}  // namespace orbv
