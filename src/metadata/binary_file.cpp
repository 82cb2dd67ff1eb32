#include "metadata/binary_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "util/error.h"
#include "util/file_io.h"
#include "util/log.h"

namespace orbv {
namespace {

constexpr int64_t kCopyChunk = 1 << 20;

}  // namespace

BinaryFile::BinaryFile(const char* path, bool writable, const char* log_tag) : writable_(writable) {
    int code = EINVAL;
    if (path != nullptr) {
        errno = 0;
        stream = open_file(path, writable ? "r+b" : "rb");
        code = errno;
        if (stream != nullptr && is_directory(stream)) {
            close_stream();
            code = EISDIR;
        }
    }
    if (stream == nullptr) {
        set_system_error(code);
        log_message(LOG_ERROR, "%s file open error, errnum:%d errstr:%s ", log_tag, errnum, errstr);
        throw Error(errstr);
    }
    std::setvbuf(stream, nullptr, _IONBF, 0);
}

BinaryFile::~BinaryFile() { close_stream(); }

void BinaryFile::close_stream() {
    if (stream != nullptr) std::fclose(stream);
    stream = nullptr;
}

void BinaryFile::set_error(int32_t code, const char* text) {
    errnum = code;
    std::snprintf(errstr, sizeof errstr, "%s", text);
}

void BinaryFile::set_system_error(int code) {
    if (code == 0) code = EIO;
    set_error(code, std::strerror(code));
}

BinaryFile::ReadResult BinaryFile::read_at(int64_t offset, void* buffer, size_t n) {
    if (stream == nullptr || offset < 0) {
        set_system_error(stream ? EINVAL : EBADF);
        return kReadError;
    }
    if (read_some_at(stream, static_cast<uint8_t*>(buffer), n, offset) == n) return kReadDone;
    if (errno == 0) return kReadShort;
    set_system_error(errno);
    return kReadError;
}

bool BinaryFile::write_at(int64_t offset, const void* data, size_t n) {
    if (stream == nullptr || offset < 0) {
        set_system_error(stream ? EINVAL : EBADF);
        return false;
    }
    if (!write_all_at(stream, static_cast<const uint8_t*>(data), n, offset)) {
        set_system_error(errno);
        return false;
    }
    return true;
}

int64_t BinaryFile::file_size() {
    if (stream == nullptr) {
        set_system_error(EBADF);
        return -1;
    }
    const int64_t size = stream_size(stream);
    if (size < 0) set_system_error(errno);
    return size;
}

int32_t BinaryFile::insert_bytes(int64_t at, const uint8_t* data, size_t n) {
    const int64_t size = file_size();
    if (size < 0) return -1;
    if (!writable_) {
        set_system_error(EBADF);
        return -1;
    }
    if (at < 0 || at > size) {
        set_system_error(EINVAL);
        return -1;
    }
    if (n == 0) return 0;
    const int64_t grow = static_cast<int64_t>(n);

    // The new file is old[0, at) + data + old[at, size). Its last n bytes lie beyond the old
    // end: the end of data when the insertion point is near the end, then old bytes.
    const int64_t from_data = std::max<int64_t>(0, at + grow - size);
    const int64_t old_from = size - grow + from_data;  // first old byte that lands there
    std::vector<uint8_t> tail(n);
    std::memcpy(tail.data(), data + (grow - from_data), static_cast<size_t>(from_data));
    const size_t old_count = static_cast<size_t>(grow - from_data);
    const bool grown =
        read_some_at(stream, tail.data() + from_data, old_count, old_from) == old_count &&
        write_all_at(stream, tail.data(), n, size) && sync_stream(stream);
    if (!grown) {
        set_system_error(errno);
        if (!truncate_stream(stream, size))
            log_message(LOG_ERROR, "[metadata] could not restore the file size, errnum:%d", errno);
        return -1;
    }

    // The file has its final size, so the rest only overwrites. The old bytes [at, old_from)
    // move n bytes on, copied from the end so that no byte is overwritten before it is read.
    std::vector<uint8_t> chunk(
        static_cast<size_t>(std::clamp<int64_t>(old_from - at, 1, kCopyChunk)));
    bool ok = true;
    for (int64_t end = old_from; ok && end > at;) {
        const int64_t len = std::min<int64_t>(static_cast<int64_t>(chunk.size()), end - at);
        end -= len;
        ok = read_some_at(stream, chunk.data(), static_cast<size_t>(len), end) ==
                 static_cast<size_t>(len) &&
             write_all_at(stream, chunk.data(), static_cast<size_t>(len), end + grow);
    }
    ok = ok && write_all_at(stream, data, static_cast<size_t>(grow - from_data), at);
    if (!ok) set_system_error(errno);
    return ok ? 0 : -1;
}

}  // namespace orbv
