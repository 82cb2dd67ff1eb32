#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "metadata/binary_file.h"

namespace orbv {

// The 28 characters of the XMP namespace signature and its NUL, which open an XMP APP1 payload.
constexpr char kXmpSignature[] = "http://ns.adobe.com/xap/1.0/";
constexpr size_t kXmpSignatureSize = sizeof kXmpSignature;  // 29

// A JPEG file: its marker segments from the start of image to the start of scan, the EXIF
// block and XMP text of its APP1 segments, and the insertion of an XMP segment.
//
// APP1 slots: slot 0 is the first APP1 segment ever met, slot 1 the last one met after it.
// Each read walks the markers again without resetting the slots.
class JpegFile : public BinaryFile {
  public:
    // Opens read-only ("rb") or for update ("r+b"); throws orbv::Error with the open error's
    // text after logging "[.jpeg analyze] file open error, errnum:%d errstr:%s ".
    JpegFile(const char* path, bool writable);

    // The TIFF block after "Exif", NUL, NUL, from slot 0 or else slot 1. 0 with *block and
    // *size set (the buffer is the object's); otherwise non-zero with *block null, errstr
    // "Not Jpeg File", "APP1(0xFFE1) MAKER not Found", "Exif Not Found" or an I/O text.
    int32_t exif_data(const uint8_t** block, size_t* size);
    // The XMP text after the 29-byte signature, NUL-terminated, chosen like exif_data;
    // "XMP Not Found" when neither slot holds one.
    int32_t xmp_data(const char** text);

    // Writes a new APP1 segment right after the start-of-image marker: FF E1, length L + 33,
    // the signature, the text, two zero bytes. Needs the writable flag. Refused with -1 and
    // the file unchanged when the text does not fit the 16-bit length, when the file does not
    // start with the start-of-image marker, or when the file cannot be grown.
    int32_t insert_xmp(const char* text);
    // Writes an EXIF APP1 segment holding DateTimeOriginal alone right after the start-of-image
    // marker, refused like insert_xmp; a text that is no "YYYY:MM:DD HH:MM:SS" date writes
    // nothing and gives 0.
    int32_t insert_exif_date(const char* camera_date);

    // Closes the stream and releases both buffers (the pointers handed out die with them).
    void close();

  private:
    int64_t app1_start[2] = {-1, -1};  // first payload byte of the slot's segment
    int64_t app1_end[2] = {-1, -1};    // byte after the segment
    std::unique_ptr<uint8_t[]> exif_buf;
    size_t exif_size = 0;
    std::unique_ptr<char[]> xmp_buf;

    // Writes FF E1, the length and `payload` (at most 65,533 bytes) after the start-of-image
    // marker; refusals and failures are logged as "[.jpeg analyze] <what> error...".
    int32_t insert_app1(const std::vector<uint8_t>& payload, const char* what);
    int32_t scan_markers();
    // 0 when the slot's payload holds at least `min_size` bytes and begins with `signature`'s
    // four bytes, 1 when it does not, -1 (errnum set) when the read fails.
    int32_t slot_mismatch(int slot, const char* signature, int64_t min_size);
    // The slot to read (0 or 1) or a negative result after setting errstr.
    int32_t choose_slot(const char* signature, int64_t min_size, const char* not_found);
};

}  // namespace orbv
