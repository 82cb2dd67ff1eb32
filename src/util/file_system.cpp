#include "util/file_system.h"

#include <cctype>
#include <cstring>

#include "util/file_system_platform.h"

namespace orbv {

namespace {

// A bare file name lives in the current directory; the platform calls need that said.
std::string directory_for_query(const char* path) {
    std::string dir = directory_of(path);
    return dir.empty() ? std::string(".") : dir;
}

std::string lower(const std::string& text) {
    std::string out = text;
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace

int64_t free_disk_space(const char* path) {
    if (path == nullptr) return -1;
    bool is_dir = false;
    std::string target =
        file_size(path, &is_dir) >= 0 && is_dir ? std::string(path) : directory_for_query(path);
    return volume_free_bytes(target);
}

bool is_writable(const char* path) {
    if (path == nullptr) return false;
    std::string target = file_exists(path) ? std::string(path) : directory_for_query(path);
    return may_write(target);
}

// Opening for writing truncates, and truncating or writing moves the change time even when
// the size comes out the same, so an unchanged stamp means the call never wrote there.
void remove_output(const char* path, const FileStamp& before) {
    const FileStamp now = file_stamp(path);
    const bool untouched =
        now.exists == before.exists &&
        (!now.exists ||
         (now.device == before.device && now.inode == before.inode && now.size == before.size &&
          now.modified_ns == before.modified_ns && now.changed_ns == before.changed_ns));
    if (!untouched) remove_file(path);
}

std::string directory_of(const char* path) {
    if (path == nullptr) return std::string();
    const char* slash = nullptr;
    for (const char* c = path; *c != '\0'; ++c) {
        if (is_path_separator(*c)) slash = c;
    }
    return slash ? std::string(path, slash + 1) : std::string();
}

std::string file_extension(const char* path) {
    if (path == nullptr) return std::string();
    const char* dot = std::strrchr(path, '.');
    if (dot == nullptr || std::strlen(dot) > MAX_EXTENSION_LENGTH) return std::string();
    return std::string(dot);
}

bool is_jpeg_name(const std::string& extension) {
    const std::string ext = lower(extension);
    return ext == ".jpeg" || ext == ".jpg";
}

bool is_movie_name(const std::string& extension) {
    const std::string ext = lower(extension);
    return ext == ".mov" || ext == ".mp4";
}

bool has_free_space(const char* path) { return enough_room(free_disk_space(path)); }

int32_t export_space_check(const char* path1, const char* path2, const char* export_path) {
    const int64_t size1 = path1 ? file_size(path1) : 0;
    const int64_t size2 = path2 ? file_size(path2) : 0;
    const int64_t free_bytes = free_disk_space(export_path);
    return enough_room(free_bytes - size2, size1) ? 0 : -1;
}

}  // namespace orbv
