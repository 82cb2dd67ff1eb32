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
// The file a path finally names: its symbolic links followed (a relative link read from its own
// folder), so that a file written there replaces the link's target, not the link. The path
// itself when it names no link; "" with *error set to the system's code when a link cannot be
// read (ELOOP when the links go round).
std::string link_target(const char* path, int* error);
// Whether something other than a regular file (a directory, device, FIFO or socket; a link is
// not followed) carries the name.
bool holds_other_than_file(const char* path);
// Creates a new empty file, exclusively, beside `path` under a name that says what it is:
// "<name>.orbv-unfinished-<6 letters or digits><extension of name>", the extension last so
// that a muxer chosen by the name is the one `path` would get (the name part is shortened when
// the whole would not fit a file name). Its permission bits are those of a new file. Its path,
// or "" with *error set to the system's code.
std::string create_unfinished_file(const std::string& path, int* error);
// Gives `to` the permission bits of `from`; 0 or the system's code.
int copy_permissions(const char* from, const char* to);
// Moves the file `from` over `to` in one step: `to` names either its old file or the new one,
// whatever happens. 0 or the system's code.
int replace_file(const char* from, const char* to);
// Whether both paths name one existing file (links included).
bool same_file(const char* path1, const char* path2);
// Directory part with its trailing separator (on Windows a backslash too), "" when the path has
// none.
std::string directory_of(const char* path);
// Everything from the last '.' of the whole path on, dot included; "" without a dot or when
// longer than MAX_EXTENSION_LENGTH.
std::string file_extension(const char* path);
bool is_jpeg_name(const std::string& extension);
// The MOV/MP4 family: .mov, .mp4, .m4v, .3gp, .3g2.
bool is_movie_name(const std::string& extension);
// The movie names an export writes: .mov and .mp4.
bool is_export_movie_name(const std::string& extension);
// The strict free-space rule: more than MIN_FREE_BYTES left once `reserved` bytes are taken.
inline bool enough_room(int64_t free_bytes, int64_t reserved = 0) {
    return free_bytes - reserved > MIN_FREE_BYTES;
}
// True when the volume of path has more than MIN_FREE_BYTES free.
bool has_free_space(const char* path);
// 0 when the export volume has room for both inputs plus the margin, else -1.
int32_t export_space_check(const char* path1, const char* path2, const char* export_path);

}  // namespace orbv
