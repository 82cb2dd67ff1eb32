#include "util/file_system.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <random>

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

std::string create_unfinished_file(const std::string& path, int* error) {
    constexpr size_t kTokenLength = 6;
    const std::string marker = ".orbv-unfinished-";
    const std::string folder = directory_of(path.c_str());
    std::string name = path.substr(folder.size());
    const size_t dot = name.rfind('.');
    const std::string extension = dot == std::string::npos ? std::string() : name.substr(dot);
    const size_t fixed = marker.size() + kTokenLength + extension.size();
    const size_t name_max = kMaxNameBytes;
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
        std::string candidate = folder + name + marker + token + extension;
        const int made = create_new_file(candidate);
        if (made == 0) return candidate;
        if (made != EEXIST) {
            *error = made;
            return std::string();
        }
    }
    *error = EEXIST;
    return std::string();
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
