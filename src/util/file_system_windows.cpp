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
    FILE_BASIC_INFO times;
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
    bool known = GetFileInformationByHandle(file, &facts->info) != 0;
    if (known &&
        !GetFileInformationByHandleEx(file, FileBasicInfo, &facts->times, sizeof facts->times)) {
        facts->times.ChangeTime.QuadPart = 0;
    }
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

// Windows counts 100 ns steps from 1601; from 1970 on, in nanoseconds, they fit 64 bits.
int64_t ns_of(int64_t ticks) { return (ticks - 116444736000000000) * 100; }

int64_t ns_of(const FILETIME& t) {
    return ns_of(
        static_cast<int64_t>(static_cast<uint64_t>(t.dwHighDateTime) << 32 | t.dwLowDateTime));
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

FileStamp file_stamp(const char* path) {
    FileStamp stamp;
    FileFacts f;
    if (!facts_of(path, &f)) return stamp;
    stamp.exists = true;
    stamp.device = f.info.dwVolumeSerialNumber;
    stamp.inode = static_cast<uint64_t>(f.info.nFileIndexHigh) << 32 | f.info.nFileIndexLow;
    stamp.size = size_of(f);
    stamp.modified_ns = ns_of(f.info.ftLastWriteTime);
    stamp.changed_ns = ns_of(f.times.ChangeTime.QuadPart);
    return stamp;
}

bool same_file(const char* path1, const char* path2) {
    FileFacts a, b;
    if (!facts_of(path1, &a) || !facts_of(path2, &b)) return false;
    return a.info.dwVolumeSerialNumber == b.info.dwVolumeSerialNumber &&
           a.info.nFileIndexHigh == b.info.nFileIndexHigh &&
           a.info.nFileIndexLow == b.info.nFileIndexLow;
}

}  // namespace orbv
