// JpegFile::insert_xmp: marks an exported still as a panorama with a GPano XMP segment.
#include <cstring>
#include <vector>

#include "metadata/big_endian.h"
#include "metadata/jpeg_file.h"
#include "util/log.h"

namespace orbv {
namespace {
// The segment's length field counts itself, the signature, the text and the two filler bytes.
constexpr size_t kMaxSegmentLength = 0xFFFF;
constexpr size_t kLengthOverhead = 2 + kXmpSignatureSize + 2;  // 33
}  // namespace

int32_t JpegFile::insert_xmp(const char* text) {
    if (text == nullptr || stream == nullptr) {
        set_error(-1, "no text or no open file");
        return -1;
    }
    const size_t length = std::strlen(text);
    if (length > kMaxSegmentLength - kLengthOverhead) {
        set_error(-1, "XMP text too long for one segment");
        log_message(LOG_ERROR, "[.jpeg analyze] insert_xmp error:%s", errstr);
        return -1;
    }
    const int64_t size = file_size();
    if (size < 2) {
        if (size >= 0) set_error(-1, "file shorter than its start marker");
        log_message(LOG_ERROR, "[.jpeg analyze] insert_xmp error:%s", errstr);
        return -1;
    }
    // Spliced into a file of any other kind the segment would break it.
    uint8_t soi[2] = {0, 0};
    const ReadResult got = read_at(0, soi, 2);
    if (got != kReadDone || soi[0] != 0xFF || soi[1] != 0xD8) {
        if (got != kReadError) set_error(-1, "Not Jpeg File");
        log_message(LOG_ERROR, "[.jpeg analyze] insert_xmp error:%s", errstr);
        return -1;
    }

    std::vector<uint8_t> segment(2 + length + kLengthOverhead, 0);  // the filler stays zero
    segment[0] = 0xFF;
    segment[1] = 0xE1;
    put_u16(&segment[2], static_cast<uint16_t>(length + kLengthOverhead));
    std::memcpy(&segment[4], kXmpSignature, kXmpSignatureSize);
    std::memcpy(&segment[4 + kXmpSignatureSize], text, length);
    if (insert_bytes(2, segment.data(), segment.size()) != 0) {
        log_message(LOG_ERROR, "[.jpeg analyze] insert_xmp error, errnum:%d errstr:%s", errnum,
                    errstr);
        return -1;
    }
    errnum = 0;
    return 0;
}

}  // namespace orbv
