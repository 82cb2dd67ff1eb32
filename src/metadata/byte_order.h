#pragma once

#include <cstdint>

// The numbers of the metadata formats, read and written whatever the host's order. JPEG
// segments and MOV atoms are big-endian; an EXIF block states its own order ("MM" big, "II"
// little), so the readers take the order as an argument.
namespace orbv {

enum class ByteOrder { kBig, kLittle };

inline uint16_t get_u16(const uint8_t* p, ByteOrder order = ByteOrder::kBig) {
    return order == ByteOrder::kBig ? static_cast<uint16_t>(p[0] << 8 | p[1])
                                    : static_cast<uint16_t>(p[1] << 8 | p[0]);
}

inline uint32_t get_u32(const uint8_t* p, ByteOrder order = ByteOrder::kBig) {
    const uint32_t high = get_u16(order == ByteOrder::kBig ? p : p + 2, order);
    const uint32_t low = get_u16(order == ByteOrder::kBig ? p + 2 : p, order);
    return high << 16 | low;
}

inline uint64_t get_u64(const uint8_t* p) {
    return static_cast<uint64_t>(get_u32(p)) << 32 | get_u32(p + 4);
}

inline void put_u16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

inline void put_u32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

inline void put_u64(uint8_t* p, uint64_t v) {
    put_u32(p, static_cast<uint32_t>(v >> 32));
    put_u32(p + 4, static_cast<uint32_t>(v));
}

}  // namespace orbv
