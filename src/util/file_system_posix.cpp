#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>

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

std::string link_target(const char* path, int* error) {
    // As many links as the system itself follows in one path.
    constexpr int kMaxLinks = 40;
    std::string current = path != nullptr ? path : "";
    for (int hops = 0; hops <= kMaxLinks; ++hops) {
        struct stat st;
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
        char target[PATH_MAX];
        const ssize_t length = ::readlink(current.c_str(), target, sizeof(target));
        if (length < 0 || static_cast<size_t>(length) >= sizeof(target)) {
            *error = length < 0 ? errno : ENAMETOOLONG;
            return std::string();
        }
        const std::string next(target, static_cast<size_t>(length));
        current = !next.empty() && next[0] == '/' ? next : directory_of(current.c_str()) + next;
    }
    *error = ELOOP;
    return std::string();
}

bool holds_other_than_file(const char* path) {
    struct stat st;
    return path != nullptr && ::lstat(path, &st) == 0 && !S_ISREG(st.st_mode);
}

int copy_permissions(const char* from, const char* to) {
    struct stat st;
    if (::stat(from, &st) != 0 || ::chmod(to, st.st_mode & 07777) != 0) return errno;
    return 0;
}

int replace_file(const char* from, const char* to) { return ::rename(from, to) == 0 ? 0 : errno; }

int create_new_file(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return errno;
    ::close(fd);
    return 0;
}

bool same_file(const char* path1, const char* path2) {
    struct stat a, b;
    if (path1 == nullptr || path2 == nullptr) return false;
    if (::stat(path1, &a) != 0 || ::stat(path2, &b) != 0) return false;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace orbv
