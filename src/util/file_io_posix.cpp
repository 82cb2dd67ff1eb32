#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "util/file_io.h"

namespace orbv {

FILE* open_file(const char* path, const char* mode) { return std::fopen(path, mode); }

bool is_directory(FILE* stream) {
    struct stat st;
    return fstat(fileno(stream), &st) == 0 && S_ISDIR(st.st_mode);
}

size_t read_some_at(FILE* stream, uint8_t* buffer, size_t n, int64_t offset) {
    const int fd = fileno(stream);
    size_t done = 0;
    errno = 0;
    while (done < n) {
        const ssize_t got = ::pread(fd, buffer + done, n - done, offset + done);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<size_t>(got);
    }
    return done;
}

bool write_all_at(FILE* stream, const uint8_t* data, size_t n, int64_t offset) {
    const int fd = fileno(stream);
    while (n > 0) {
        const ssize_t put = ::pwrite(fd, data, n, offset);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            if (put == 0) errno = EIO;
            return false;
        }
        data += put;
        n -= static_cast<size_t>(put);
        offset += put;
    }
    return true;
}

int64_t stream_size(FILE* stream) {
    struct stat st;
    return fstat(fileno(stream), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

bool sync_stream(FILE* stream) { return fsync(fileno(stream)) == 0; }

bool truncate_stream(FILE* stream, int64_t size) {
    return ftruncate(fileno(stream), static_cast<off_t>(size)) == 0;
}

void lock_stream(FILE* stream) { flockfile(stream); }

void unlock_stream(FILE* stream) { funlockfile(stream); }

}  // namespace orbv
