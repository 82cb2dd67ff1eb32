#include <io.h>
#include <windows.h>

#include <cerrno>

#include "util/file_system.h"
#include "util/file_system_platform.h"
#include "util/wide_path.h"

// Every path goes from UTF-8 to UTF-16 and through the wide-character calls. What stat gives
// on POSIX comes from the opened file: Windows' own stat has no file identity (st_ino is 0)
// and refuses a directory named with its trailing separator.
namespace orbv {

namespace {

struct FileFacts {
    BY_HANDLE_FILE_INFORMATION info;
};

// Follows links as stat does; a directory opens too (backup semantics), asking no access.
bool facts_of(const char* path, FileFacts* facts) {
    if (path == nullptr) return false;
    const std::wstring wide = utf16(path);
    if (wide.empty()) return false;
    HANDLE file =
        CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool known = GetFileInformationByHandle(file, &facts->info) != 0;
    CloseHandle(file);
    return known;
}

bool is_dir(const FileFacts& f) {
    return (f.info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

int64_t size_of(const FileFacts& f) {
    return static_cast<int64_t>(static_cast<uint64_t>(f.info.nFileSizeHigh) << 32 |
                                f.info.nFileSizeLow);
}

}  // namespace

std::wstring utf16(const char* text) {
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
    if (n <= 1) {
        errno = EINVAL;
        return std::wstring();
    }
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, wide.data(), n);
    wide.pop_back();
    return wide;
}

std::string utf8(const wchar_t* text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return std::string();
    std::string narrow(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow.data(), n, nullptr, nullptr);
    narrow.pop_back();
    return narrow;
}

bool file_exists(const char* path) {
    FileFacts f;
    return facts_of(path, &f);
}

int64_t file_size(const char* path, bool* is_directory) {
    FileFacts f;
    if (!facts_of(path, &f)) return -1;
    if (is_directory != nullptr) *is_directory = is_dir(f);
    return size_of(f);
}

int64_t volume_free_bytes(const std::string& directory) {
    ULARGE_INTEGER for_caller, total, free_bytes;
    const std::wstring wide = utf16(directory.c_str());
    if (wide.empty() || !GetDiskFreeSpaceExW(wide.c_str(), &for_caller, &total, &free_bytes))
        return -1;
    return static_cast<int64_t>(free_bytes.QuadPart);
}

bool may_write(const std::string& path) {
    const std::wstring wide = utf16(path.c_str());
    return !wide.empty() && _waccess(wide.c_str(), 2) == 0;
}

bool is_path_separator(char c) { return c == '/' || c == '\\'; }

// DeleteFileW takes a link itself, never its target, and refuses directories; devices and
// pipes are not disk files, so only those are removed.
void remove_file(const char* path) {
    FileFacts f;
    if (!facts_of(path, &f) || is_dir(f) || (f.info.dwFileAttributes & FILE_ATTRIBUTE_DEVICE))
        return;
    DeleteFileW(utf16(path).c_str());
}

// Links on Windows are rare reparse points that the wide calls follow; the output's own name
// is written, as a host would expect there.
std::string link_target(const char* path, int* /*error*/) { return path != nullptr ? path : ""; }

bool holds_other_than_file(const char* path) {
    FileFacts f;
    return facts_of(path, &f) &&
           (is_dir(f) || (f.info.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) != 0);
}

int create_new_file(const std::string& path) {
    const std::wstring wide = utf16(path.c_str());
    if (wide.empty()) return EINVAL;
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        return code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS ? EEXIST : EACCES;
    }
    CloseHandle(file);
    return 0;
}

// Windows files carry no permission bits; a read-only one is refused before any work.
int copy_permissions(const char* /*from*/, const char* /*to*/) { return 0; }

int replace_file(const char* from, const char* to) {
    const std::wstring source = utf16(from), target = utf16(to);
    if (source.empty() || target.empty()) return EINVAL;
    return MoveFileExW(source.c_str(), target.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? 0
               : EACCES;
}

bool same_file(const char* path1, const char* path2) {
    FileFacts a, b;
    if (!facts_of(path1, &a) || !facts_of(path2, &b)) return false;
    return a.info.dwVolumeSerialNumber == b.info.dwVolumeSerialNumber &&
           a.info.nFileIndexHigh == b.info.nFileIndexHigh &&
           a.info.nFileIndexLow == b.info.nFileIndexLow;
}

}  // namespace orbv
