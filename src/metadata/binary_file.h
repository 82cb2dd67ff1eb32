#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace orbv {

// The open file under JpegFile and MovFile: the stream, the last error and checked
// positioned reads and writes. All offsets are 64-bit. Reads and writes go straight to the
// descriptor (the stream is unbuffered), so rewriting a file in place never meets stale data.
class BinaryFile {
  public:
    BinaryFile(const BinaryFile&) = delete;
    BinaryFile& operator=(const BinaryFile&) = delete;

    // Closes the stream only; what was read stays available.
    void close_stream();

    // The last error: its code (0 after a successful step) and its text.
    int32_t error_code() const { return errnum; }
    const char* error_text() const { return errstr; }

  protected:
    int32_t errnum = 0;      // last error code, 0 after a successful step
    char errstr[255] = "";   // its text, cut to 254 characters
    FILE* stream = nullptr;  // null once closed

    // Opens "rb", or "r+b" when writable; a directory is refused. On failure logs
    // "<tag> file open error, errnum:%d errstr:%s " and throws orbv::Error with errstr.
    BinaryFile(const char* path, bool writable, const char* log_tag);
    ~BinaryFile();

    void set_error(int32_t code, const char* text);
    // errnum = the C library's code, errstr = its text.
    void set_system_error(int code);

    enum ReadResult { kReadError = -1, kReadShort = 0, kReadDone = 1 };
    // kReadDone only when all n bytes came; kReadShort when the file ends first (no error is
    // set); kReadError with errnum and errstr set.
    ReadResult read_at(int64_t offset, void* buffer, size_t n);
    // False (with the error set) when any byte did not reach the file.
    bool write_at(int64_t offset, const void* data, size_t n);
    // Current size, -1 with the error set when unknown.
    int64_t file_size();

    // Puts n bytes at offset `at`, moving everything from there n bytes toward the end. The
    // file is grown first; when that fails it is cut back to its old size and -1 comes back
    // with nothing changed. The moved part is copied in bounded chunks.
    int32_t insert_bytes(int64_t at, const uint8_t* data, size_t n);

    bool writable_;
};

}  // namespace orbv
