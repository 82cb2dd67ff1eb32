#pragma once

#include <cstdint>
#include <string>

// Path and file-system checks of the front ends. Paths are the host's UTF-8 bytes; these
// functions (and their platform files) are the only place that touches paths as paths.
namespace orbv {

// A writing operation needs strictly more than this many bytes free on its volume.
constexpr int64_t MIN_FREE_BYTES = 52428800;

// An extension longer than this does not fit the callers' buffers and matches nothing.
constexpr size_t MAX_EXTENSION_LENGTH = 254;

bool file_exists(const char* path);
// Size in bytes, -1 when the path cannot be examined; *is_dir tells whether it is a directory.
int64_t file_size(const char* path, bool* is_dir = nullptr);
// Total free bytes of the volume holding the directory, or the directory that holds (or would
// hold) the file; -1 when unknown.
int64_t free_disk_space(const char* path);
// Whether the file, or the directory that would receive it, may be written.
bool is_writable(const char* path);
// Removes a regular file, or a symbolic link to one (the link itself); anything else that
// carries the name (a directory, device, FIFO or socket) is left alone.
void remove_file(const char* path);
// What a path names before a call writes there: enough to tell afterwards whether the call
// created, truncated or rewrote the file.
struct FileStamp {
    bool exists = false;
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t size = 0;
    int64_t modified_ns = 0;
    int64_t changed_ns = 0;
};
FileStamp file_stamp(const char* path);
// The clean-up of a failed call: removes the output (as remove_file) unless it is still the
// file stamped before the call, which the call then never opened for writing.
void remove_output(const char* path, const FileStamp& before);
// Whether both paths name one existing file (links included).
bool same_file(const char* path1, const char* path2);
// Directory part with its trailing separator (on Windows a backslash too), "" when the path has
// none.
std::string directory_of(const char* path);
// Everything from the last '.' of the whole path on, dot included; "" without a dot or when
// longer than MAX_EXTENSION_LENGTH.
std::string file_extension(const char* path);
bool is_jpeg_name(const std::string& extension);
bool is_movie_name(const std::string& extension);
// The strict free-space rule: more than MIN_FREE_BYTES left once `reserved` bytes are taken.
inline bool enough_room(int64_t free_bytes, int64_t reserved = 0) {
    return free_bytes - reserved > MIN_FREE_BYTES;
}
// True when the volume of path has more than MIN_FREE_BYTES free.
bool has_free_space(const char* path);
// 0 when the export volume has room for both inputs plus the margin, else -1.
int32_t export_space_check(const char* path1, const char* path2, const char* export_path);

}  // namespace orbv
