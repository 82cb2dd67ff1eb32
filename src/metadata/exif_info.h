#pragma once

#include <cstddef>
#include <cstdint>

#include "metadata/owned_text.h"

namespace orbv {

// The camera values of one EXIF block: a TIFF structure ("MM" or "II", 42) from a JPEG's
// APP1 segment, or the maker's "ORVM" block from a movie's moov/udta. Absent values stay at -1
// or null. The block is read only during construction and never beyond `length` bytes.
class ExifInfo {
  public:
    // Parses at once and never fails; a null block logs "[exif] no exif data ".
    ExifInfo(const uint8_t* block, size_t length);

    OwnedText maker;                  // 0x010F Make
    OwnedText model;                  // 0x0110 Model
    int32_t orientation = -1;         // 0x0112 Orientation
    OwnedText datetime;               // 0x9003 DateTimeOriginal
    int32_t capture_mode = -1;        // maker note 0x3000
    int64_t multi_capture = -1;       // maker note 0x6300, an unsigned 32-bit value
    int32_t camera_orientation = -1;  // maker note 0x6301, 0 to 255
};

}  // namespace orbv
