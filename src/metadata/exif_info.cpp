#include "metadata/exif_info.h"

#include <cstring>
#include <vector>

#include "metadata/byte_order.h"
#include "util/log.h"

namespace orbv {
namespace {

// A block from a hostile file may chain directories without end; a camera block has three
// (first, Exif, maker note). Each directory is walked at most once, and at most this many.
constexpr size_t kMaxDirectories = 32;

enum : uint16_t {
    kTypeByte = 1,
    kTypeAscii = 2,
    kTypeShort = 3,
    kTypeLong = 4,
    kTypeUndefined = 7,
};

enum : uint16_t {
    kTagMake = 0x010F,
    kTagModel = 0x0110,
    kTagOrientation = 0x0112,
    kTagExifPointer = 0x8769,
    kTagDateTimeOriginal = 0x9003,
    kTagMakerNote = 0x927C,
    kTagCaptureMode = 0x3000,
    kTagMultiCapture = 0x6300,
    kTagCameraOrientation = 0x6301,
};

// Walks directories of one block into an ExifInfo. Offsets count from the block's first byte;
// anything that lies outside the block is skipped. Every number of the block is in its byte
// order: big-endian, or little-endian after an "II" header.
class Walker {
  public:
    Walker(ExifInfo& info, const uint8_t* block, size_t length, ByteOrder order)
        : info_(info), block_(block), length_(length), order_(order) {}

    // False when the directory itself lies outside the block.
    bool read_block(uint64_t offset) {
        if (!inside(offset, 2)) return false;
        for (uint64_t seen : visited_)
            if (seen == offset) return true;
        if (visited_.size() >= kMaxDirectories) return true;
        visited_.push_back(offset);

        const int16_t count = static_cast<int16_t>(u16(block_ + offset));
        for (int16_t i = 0; i < count; ++i) {
            const uint64_t entry = offset + 2 + 12 * static_cast<uint64_t>(i);
            if (!inside(entry, 12)) break;  // so are all later entries
            take_entry(block_ + entry);
        }
        return true;
    }

  private:
    bool inside(uint64_t offset, uint64_t size) const {
        return offset <= length_ && size <= length_ - offset;
    }

    uint16_t u16(const uint8_t* p) const { return get_u16(p, order_); }
    uint32_t u32(const uint8_t* p) const { return get_u32(p, order_); }

    void take_entry(const uint8_t* e) {
        const uint16_t tag = u16(e);
        const uint16_t type = u16(e + 2);
        const uint32_t count = u32(e + 4);
        const uint8_t* value = e + 8;
        if (type < 1 || type > 10) return;

        const bool one_byte = type == kTypeByte && count == 1;
        const bool short_value = type == kTypeShort && (count == 1 || count == 2);
        const bool long_value = type == kTypeLong && count == 1;
        switch (tag) {
            case kTagMake:
                if (type == kTypeAscii) take_text(value, count, &info_.maker);
                break;
            case kTagModel:
                if (type == kTypeAscii) take_text(value, count, &info_.model);
                break;
            case kTagDateTimeOriginal:
                if (type == kTypeAscii) take_text(value, count, &info_.datetime);
                break;
            case kTagOrientation:
                if (short_value) info_.orientation = u16(value);
                break;
            case kTagExifPointer:
                if (long_value) read_block(u32(value));
                break;
            case kTagMakerNote:
                if (type == kTypeUndefined) {
                    const uint32_t note = u32(value);
                    if (inside(note, 4) && std::memcmp(block_ + note, "ORX\0", 4) == 0)
                        read_block(static_cast<uint64_t>(note) + 6);
                }
                break;
            case kTagCaptureMode:
                if (short_value) info_.capture_mode = u16(value);
                break;
            case kTagMultiCapture:
                if (long_value) info_.multi_capture = u32(value);
                break;
            case kTagCameraOrientation:
                if (one_byte) info_.camera_orientation = value[0];
                break;
            default:
                break;
        }
    }

    // Up to four bytes stand in the value field itself, longer texts at the offset it holds.
    void take_text(const uint8_t* value, uint32_t count, OwnedText* out) {
        const uint8_t* text = value;
        if (count > 4) {
            const uint32_t offset = u32(value);
            if (!inside(offset, count)) return;
            text = block_ + offset;
        }
        *out = copy_text(reinterpret_cast<const char*>(text), count);
    }

    ExifInfo& info_;
    const uint8_t* block_;
    size_t length_;
    ByteOrder order_;
    std::vector<uint64_t> visited_;
};

}  // namespace

ExifInfo::ExifInfo(const uint8_t* block, size_t length) {
    if (block == nullptr) {
        log_message(LOG_TRACE, "[exif] no exif data ");
        return;
    }
    uint8_t head[4] = {0, 0, 0, 0};  // a shorter block matches neither form
    std::memcpy(head, block, length < 4 ? length : 4);

    size_t offset_at = 0;
    ByteOrder order = ByteOrder::kBig;
    if (std::memcmp(head, "ORVM", 4) == 0) {
        log_message(LOG_TRACE, "[exif] ORVM Header");
        offset_at = 6;
    } else if (std::memcmp(head, "MM\0\x2A", 4) == 0 || std::memcmp(head, "II\x2A\0", 4) == 0) {
        if (head[0] == 'I') order = ByteOrder::kLittle;
        log_message(LOG_TRACE, "[exif] TIFF Header");
        offset_at = 4;
    } else {
        log_message(LOG_TRACE, "[exif] other Header:%x", get_u32(head, ByteOrder::kLittle));
        log_message(LOG_TRACE, "[exif] no header");
        return;
    }
    if (length < offset_at + 4) {
        log_message(LOG_TRACE, "[exif] no read_block");
        return;
    }
    const uint32_t first_offset = get_u32(block + offset_at, order);
    log_message(LOG_TRACE, "[exif] start offset:%d", static_cast<int>(first_offset));

    Walker walker(*this, block, length, order);
    if (!walker.read_block(first_offset)) log_message(LOG_TRACE, "[exif] no read_block");
}

}  // namespace orbv
