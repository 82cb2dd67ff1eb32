// JpegFile's APP1 insertions: the GPano XMP packet that marks an exported still as a panorama,
// and the EXIF date of the still.
#include <cstring>
#include <vector>

#include "metadata/byte_order.h"
#include "metadata/jpeg_file.h"
#include "util/camera_date.h"
#include "util/log.h"

namespace orbv {
namespace {

// The segment's length field counts itself and the payload.
constexpr size_t kMaxPayload = 0xFFFF - 2;
constexpr size_t kCameraDateSize = 20;  // "YYYY:MM:DD HH:MM:SS" and its NUL

// "Exif", NUL, NUL and a big-endian TIFF block whose first directory points to an Exif
// directory holding DateTimeOriginal alone: the form the camera's own stills take.
std::vector<uint8_t> exif_date_payload(const char* date) {
    std::vector<uint8_t> p(6 + 64, 0);
    std::memcpy(p.data(), "Exif\0\0MM\0\x2A", 10);
    uint8_t* tiff = p.data() + 6;
    put_u32(tiff + 4, 8);  // the first directory
    auto entry = [](uint8_t* at, uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
        put_u16(at, 1);  // one entry; the next-directory link after it stays zero
        put_u16(at + 2, tag);
        put_u16(at + 4, type);
        put_u32(at + 6, count);
        put_u32(at + 10, value);
    };
    entry(tiff + 8, 0x8769, 4, 1, 26);                 // LONG: the Exif directory at 26
    entry(tiff + 26, 0x9003, 2, kCameraDateSize, 44);  // ASCII: the text at 44
    std::memcpy(tiff + 44, date, kCameraDateSize - 1);
    return p;
}

}  // namespace

int32_t JpegFile::insert_app1(const std::vector<uint8_t>& payload, const char* what) {
    auto refuse = [&](const char* text) {
        if (text != nullptr) set_error(-1, text);
        log_message(LOG_ERROR, "[.jpeg analyze] %s error:%s", what, errstr);
        return -1;
    };
    if (stream == nullptr) return refuse("no open file");
    const int64_t size = file_size();
    if (size < 2) return refuse(size >= 0 ? "file shorter than its start marker" : nullptr);
    // Spliced into a file of any other kind the segment would break it.
    uint8_t soi[2] = {0, 0};
    const ReadResult got = read_at(0, soi, 2);
    if (got != kReadDone || soi[0] != 0xFF || soi[1] != 0xD8) {
        return refuse(got != kReadError ? "Not Jpeg File" : nullptr);
    }
    std::vector<uint8_t> segment(4);
    segment[0] = 0xFF;
    segment[1] = 0xE1;
    put_u16(&segment[2], static_cast<uint16_t>(payload.size() + 2));
    segment.insert(segment.end(), payload.begin(), payload.end());
    if (insert_bytes(2, segment.data(), segment.size()) != 0) {
        log_message(LOG_ERROR, "[.jpeg analyze] %s error, errnum:%d errstr:%s", what, errnum,
                    errstr);
        return -1;
    }
    errnum = 0;
    return 0;
}

int32_t JpegFile::insert_xmp(const char* text) {
    if (text == nullptr || stream == nullptr) {
        set_error(-1, "no text or no open file");
        return -1;
    }
    // The signature with its NUL, the text, and two zero bytes that keep it NUL-terminated.
    const size_t length = std::strlen(text);
    if (length > kMaxPayload - kXmpSignatureSize - 2) {
        set_error(-1, "XMP text too long for one segment");
        log_message(LOG_ERROR, "[.jpeg analyze] insert_xmp error:%s", errstr);
        return -1;
    }
    std::vector<uint8_t> payload(kXmpSignatureSize + length + 2, 0);
    std::memcpy(payload.data(), kXmpSignature, kXmpSignatureSize);
    std::memcpy(payload.data() + kXmpSignatureSize, text, length);
    return insert_app1(payload, "insert_xmp");
}

int32_t JpegFile::insert_exif_date(const char* camera_date) {
    if (camera_date_iso8601(camera_date).empty()) return 0;
    return insert_app1(exif_date_payload(camera_date), "insert_exif_date");
}

}  // namespace orbv
