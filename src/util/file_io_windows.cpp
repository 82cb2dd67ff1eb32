#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>

#include "util/file_io.h"
#include "util/wide_path.h"

namespace orbv {

namespace {

HANDLE handle_of(FILE* stream) { return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))); }

OVERLAPPED at_offset(int64_t offset) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFF);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return at;
}

constexpr size_t kMaxStep = 1 << 30;

}  // namespace

FILE* open_file(const char* path, const char* mode) {
    const std::wstring wide = utf16(path), wide_mode = utf16(mode);
    return wide.empty() ? nullptr : _wfopen(wide.c_str(), wide_mode.c_str());
}

bool is_directory(FILE* stream) {
    BY_HANDLE_FILE_INFORMATION info;
    return GetFileInformationByHandle(handle_of(stream), &info) &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Reading at a position moves the handle's own pointer, which no caller uses: every read and
// write of these files names its position.
size_t read_some_at(FILE* stream, uint8_t* buffer, size_t n, int64_t offset) {
    size_t done = 0;
    errno = 0;
    while (done < n) {
        OVERLAPPED at = at_offset(offset + static_cast<int64_t>(done));
        DWORD got = 0;
        const DWORD step = static_cast<DWORD>(std::min(n - done, kMaxStep));
        if (!ReadFile(handle_of(stream), buffer + done, step, &got, &at)) {
            if (GetLastError() != ERROR_HANDLE_EOF) errno = EIO;
            break;
        }
        if (got == 0) break;
        done += got;
    }
    return done;
}

bool write_all_at(FILE* stream, const uint8_t* data, size_t n, int64_t offset) {
    while (n > 0) {
        OVERLAPPED at = at_offset(offset);
        DWORD put = 0;
        const DWORD step = static_cast<DWORD>(std::min(n, kMaxStep));
        if (!WriteFile(handle_of(stream), data, step, &put, &at) || put == 0) {
            errno = GetLastError() == ERROR_DISK_FULL ? ENOSPC : EIO;
            return false;
        }
        data += put;
        n -= put;
        offset += put;
    }
    return true;
}

int64_t stream_size(FILE* stream) {
    LARGE_INTEGER size;
    if (GetFileSizeEx(handle_of(stream), &size)) return size.QuadPart;
    errno = EBADF;
    return -1;
}

bool sync_stream(FILE* stream) { return FlushFileBuffers(handle_of(stream)) != 0; }

bool truncate_stream(FILE* stream, int64_t size) { return _chsize_s(_fileno(stream), size) == 0; }

void lock_stream(FILE* stream) { _lock_file(stream); }

void unlock_stream(FILE* stream) { _unlock_file(stream); }

}  // namespace orbv
