#include "util/file_system.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cctype>
#include <cstring>

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

bool file_exists(const char* path) {
    struct stat st;
    return path != nullptr && ::stat(path, &st) == 0;
}

int64_t file_size(const char* path, bool* is_dir) {
    struct stat st;
    if (path == nullptr || ::stat(path, &st) != 0) return -1;
    if (is_dir != nullptr) *is_dir = (st.st_mode & S_IFMT) == S_IFDIR;
    return static_cast<int64_t>(st.st_size);
}

int64_t free_disk_space(const char* path) {
    if (path == nullptr) return -1;
    bool is_dir = false;
    std::string target =
        file_size(path, &is_dir) >= 0 && is_dir ? std::string(path) : directory_for_query(path);
    struct statvfs vfs;
    if (::statvfs(target.c_str(), &vfs) != 0) return -1;
    return static_cast<int64_t>(vfs.f_bfree) * static_cast<int64_t>(vfs.f_frsize);
}

bool is_writable(const char* path) {
    if (path == nullptr) return false;
    std::string target = file_exists(path) ? std::string(path) : directory_for_query(path);
    return ::access(target.c_str(), W_OK) == 0;
}

// stat follows a link, so a link is removed only when it leads to a regular file; unlink then
// takes the link, not its target.
void remove_file(const char* path) {
    struct stat st;
    if (path != nullptr && ::stat(path, &st) == 0 && S_ISREG(st.st_mode)) ::unlink(path);
}

FileStamp file_stamp(const char* path) {
    FileStamp stamp;
    struct stat st;
    if (path == nullptr || ::stat(path, &st) != 0) return stamp;
    auto ns = [](const timespec& t) {
        return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
    };
    stamp.exists = true;
    stamp.device = st.st_dev;
    stamp.inode = st.st_ino;
    stamp.size = st.st_size;
    stamp.modified_ns = ns(st.st_mtim);
    stamp.changed_ns = ns(st.st_ctim);
    return stamp;
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

bool same_file(const char* path1, const char* path2) {
    struct stat a, b;
    if (path1 == nullptr || path2 == nullptr) return false;
    if (::stat(path1, &a) != 0 || ::stat(path2, &b) != 0) return false;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::string directory_of(const char* path) {
    if (path == nullptr) return std::string();
    const char* slash = std::strrchr(path, '/');
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
    return is_export_movie_name(ext) || ext == ".m4v" || ext == ".3gp" || ext == ".3g2";
}

bool is_export_movie_name(const std::string& extension) {
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
