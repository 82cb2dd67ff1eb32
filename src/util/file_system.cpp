#include "util/file_system.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <random>

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

std::string create_unfinished_file(const std::string& path, int* error) {
    constexpr size_t kTokenLength = 6;
    const std::string marker = ".orbv-unfinished-";
    const std::string folder = directory_of(path.c_str());
    std::string name = path.substr(folder.size());
    const size_t dot = name.rfind('.');
    const std::string extension = dot == std::string::npos ? std::string() : name.substr(dot);
    const size_t fixed = marker.size() + kTokenLength + extension.size();
    const size_t name_max = static_cast<size_t>(NAME_MAX);
    if (fixed >= name_max) {
        *error = ENAMETOOLONG;
        return std::string();
    }
    // Cut the name at a character's first byte, so that a shortened UTF-8 name stays UTF-8.
    if (name.size() > name_max - fixed) {
        size_t keep = name_max - fixed;
        while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
        name.resize(keep);
    }
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    std::uniform_int_distribution<size_t> pick(0, sizeof(kLetters) - 2);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string token;
        for (size_t i = 0; i < kTokenLength; ++i) token += kLetters[pick(random)];
        const std::string candidate = folder + name + marker + token + extension;
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            return candidate;
        }
        if (errno != EEXIST) break;
    }
    *error = errno;
    return std::string();
}

int copy_permissions(const char* from, const char* to) {
    struct stat st;
    if (::stat(from, &st) != 0 || ::chmod(to, st.st_mode & 07777) != 0) return errno;
    return 0;
}

int replace_file(const char* from, const char* to) { return ::rename(from, to) == 0 ? 0 : errno; }

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
