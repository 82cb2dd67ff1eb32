#include "metadata/jpeg_file.h"

#include <cstring>

#include "metadata/byte_order.h"
#include "util/log.h"

namespace orbv {

JpegFile::JpegFile(const char* path, bool writable)
    : BinaryFile(path, writable, "[.jpeg analyze]") {}

void JpegFile::close() {
    close_stream();
    exif_buf.reset();
    exif_size = 0;
    xmp_buf.reset();
}

// The walk trusts the length fields and skips no fill bytes. A length below 2, or a segment
// that runs past the end of the file, ends the walk like the end of the file: the segment is
// not recorded. Every step moves at least four bytes on, so the walk ends.
int32_t JpegFile::scan_markers() {
    const int64_t size = file_size();
    if (size < 0) return errnum;
    uint8_t two[2] = {0, 0};
    ReadResult got = read_at(0, two, 2);
    if (got == kReadError) return errnum;
    if (two[0] != 0xFF || two[1] != 0xD8) {
        log_message(LOG_TRACE, "[.jpeg analyze] start Marker:%x Not Jpeg File",
                    static_cast<unsigned>(two[0] | two[1] << 8));
        set_error(-1, "Not Jpeg File");
        return -1;
    }
    int64_t pos = 2;
    uint8_t marker[2];
    if ((got = read_at(pos, marker, 2)) != kReadDone) return got == kReadError ? errnum : 0;
    for (;;) {
        const int64_t p = pos + 2;  // the length field
        if ((got = read_at(p, two, 2)) != kReadDone) return got == kReadError ? errnum : 0;
        const int64_t length = get_u16(two);
        if (marker[0] == 0xFF && marker[1] == 0xDA) {
            log_message(LOG_TRACE, "[.jpeg analyze] end maker");
            return 0;
        }
        if (length < 2 || p + length > size) return 0;
        if (marker[0] == 0xFF && marker[1] == 0xE1) {
            log_message(LOG_TRACE, "[.jpeg analyze] app1 maker");
            const int slot = app1_start[0] == -1 ? 0 : 1;
            app1_start[slot] = p + 2;
            app1_end[slot] = p + length;
        }
        pos = p + length;
        if ((got = read_at(pos, marker, 2)) != kReadDone) return got == kReadError ? errnum : 0;
    }
}

int32_t JpegFile::slot_mismatch(int slot, const char* signature, int64_t min_size) {
    if (app1_start[slot] == -1 || app1_end[slot] - app1_start[slot] < min_size) return 1;
    uint8_t head[4];
    const ReadResult got = read_at(app1_start[slot], head, 4);
    if (got == kReadError) return -1;
    return got == kReadDone && std::memcmp(head, signature, 4) == 0 ? 0 : 1;
}

int32_t JpegFile::choose_slot(const char* signature, int64_t min_size, const char* not_found) {
    if (app1_start[0] == -1 || app1_end[0] == -1) {
        set_error(-1, "APP1(0xFFE1) MAKER not Found");
        return -1;
    }
    for (int slot = 0; slot < 2; ++slot) {
        const int32_t mismatch = slot_mismatch(slot, signature, min_size);
        if (mismatch == 0) return slot;
        if (mismatch < 0) return -1;  // a read error, errnum holds its code
    }
    set_error(-1, not_found);
    return -1;
}

int32_t JpegFile::exif_data(const uint8_t** block, size_t* size) {
    log_message(LOG_TRACE, "[.jpeg analyze] exif_data start");
    *block = nullptr;
    *size = 0;
    errnum = scan_markers();
    if (errnum != 0) return errnum;
    const int32_t slot = choose_slot("Exif", 6, "Exif Not Found");
    if (slot < 0) {
        // -1 is one of the two not-found texts; other codes are I/O errors.
        if (errnum == -1) log_message(LOG_TRACE, "[.jpeg analyze] %s", errstr);
        return errnum;
    }
    const size_t n = static_cast<size_t>(app1_end[slot] - app1_start[slot] - 6);
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[n > 0 ? n : 1]);
    if (read_at(app1_start[slot] + 6, buffer.get(), n) != kReadDone) {
        if (errnum == 0) set_error(-1, "Exif Not Found");
        return errnum;
    }
    exif_buf = std::move(buffer);
    exif_size = n;
    *block = exif_buf.get();
    *size = exif_size;
    log_message(LOG_TRACE, "[.jpeg analyze] exif_data end ");
    return 0;
}

int32_t JpegFile::xmp_data(const char** text) {
    *text = nullptr;
    errnum = scan_markers();
    if (errnum != 0) return errnum;
    const int32_t slot = choose_slot(kXmpSignature, kXmpSignatureSize, "XMP Not Found");
    if (slot < 0) return errnum;
    const size_t n = static_cast<size_t>(app1_end[slot] - app1_start[slot]) - kXmpSignatureSize;
    std::unique_ptr<char[]> buffer(new char[n + 1]);
    if (read_at(app1_start[slot] + kXmpSignatureSize, buffer.get(), n) != kReadDone) {
        if (errnum == 0) set_error(-1, "XMP Not Found");
        return errnum;
    }
    buffer[n] = '\0';
    xmp_buf = std::move(buffer);
    *text = xmp_buf.get();
    return 0;
}

}  // namespace orbv
