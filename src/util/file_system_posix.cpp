#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "util/file_system.h"
#include "util/file_system_platform.h"

// Paths are the host's UTF-8 bytes, passed to the POSIX calls unchanged.
namespace orbv {

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

int64_t volume_free_bytes(const std::string& directory) {
    struct statvfs vfs;
    if (::statvfs(directory.c_str(), &vfs) != 0) return -1;
    return static_cast<int64_t>(vfs.f_bfree) * static_cast<int64_t>(vfs.f_frsize);
}

bool may_write(const std::string& path) { return ::access(path.c_str(), W_OK) == 0; }

bool is_path_separator(char c) { return c == '/'; }

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

bool same_file(const char* path1, const char* path2) {
    struct stat a, b;
    if (path1 == nullptr || path2 == nullptr) return false;
    if (::stat(path1, &a) != 0 || ::stat(path2, &b) != 0) return false;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace orbv
