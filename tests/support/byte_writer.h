#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace orbv_test {

// Builds binary test inputs byte by byte; every number goes out big-endian.
class ByteWriter {
  public:
    ByteWriter& u8(uint8_t v);
    ByteWriter& u16(uint16_t v);
    ByteWriter& u32(uint32_t v);
    ByteWriter& u64(uint64_t v);
    ByteWriter& raw(const std::string& bytes);
    ByteWriter& zeros(size_t n);
    // Overwrites a number written earlier (for offsets known only later).
    void set_u16(size_t at, uint16_t v);
    void set_u32(size_t at, uint32_t v);
    size_t size() const { return bytes_.size(); }
    const std::string& str() const { return bytes_; }

  private:
    std::string bytes_;
};

uint16_t get_u16(const std::string& bytes, size_t at);
uint32_t get_u32(const std::string& bytes, size_t at);
uint64_t get_u64(const std::string& bytes, size_t at);

// A QuickTime atom: 32-bit size, four-character type, payload.
std::string atom(const std::string& type, const std::string& payload);
// The same in the 64-bit form: size field 1, type, 64-bit size, payload.
std::string atom64(const std::string& type, const std::string& payload);
// A JPEG marker segment: 0xFF, the marker, the 16-bit length (payload + 2), the payload.
std::string segment(uint8_t marker, const std::string& payload);

}  // namespace orbv_test
