#include "support/byte_writer.h"

#include <stdexcept>

namespace orbv_test {

ByteWriter& ByteWriter::u8(uint8_t v) {
    bytes_.push_back(static_cast<char>(v));
    return *this;
}

ByteWriter& ByteWriter::u16(uint16_t v) { return u8(static_cast<uint8_t>(v >> 8)).u8(v & 0xFF); }

ByteWriter& ByteWriter::u32(uint32_t v) {
    return u16(static_cast<uint16_t>(v >> 16)).u16(v & 0xFFFF);
}

ByteWriter& ByteWriter::u64(uint64_t v) {
    return u32(static_cast<uint32_t>(v >> 32)).u32(v & 0xFFFFFFFF);
}

ByteWriter& ByteWriter::raw(const std::string& bytes) {
    bytes_ += bytes;
    return *this;
}

ByteWriter& ByteWriter::zeros(size_t n) {
    bytes_.append(n, '\0');
    return *this;
}

void ByteWriter::set_u16(size_t at, uint16_t v) {
    if (at + 2 > bytes_.size()) throw std::out_of_range("set_u16");
    bytes_[at] = static_cast<char>(v >> 8);
    bytes_[at + 1] = static_cast<char>(v & 0xFF);
}

void ByteWriter::set_u32(size_t at, uint32_t v) {
    set_u16(at, static_cast<uint16_t>(v >> 16));
    set_u16(at + 2, v & 0xFFFF);
}

uint16_t get_u16(const std::string& bytes, size_t at) {
    if (at + 2 > bytes.size()) throw std::out_of_range("get_u16");
    return static_cast<uint16_t>(static_cast<uint8_t>(bytes[at]) << 8 |
                                 static_cast<uint8_t>(bytes[at + 1]));
}

uint32_t get_u32(const std::string& bytes, size_t at) {
    return static_cast<uint32_t>(get_u16(bytes, at)) << 16 | get_u16(bytes, at + 2);
}

uint64_t get_u64(const std::string& bytes, size_t at) {
    return static_cast<uint64_t>(get_u32(bytes, at)) << 32 | get_u32(bytes, at + 4);
}

std::string atom(const std::string& type, const std::string& payload) {
    return ByteWriter().u32(static_cast<uint32_t>(payload.size() + 8)).raw(type).raw(payload).str();
}

std::string atom64(const std::string& type, const std::string& payload) {
    return ByteWriter().u32(1).raw(type).u64(payload.size() + 16).raw(payload).str();
}

std::string segment(uint8_t marker, const std::string& payload) {
    return ByteWriter()
        .u8(0xFF)
        .u8(marker)
        .u16(static_cast<uint16_t>(payload.size() + 2))
        .raw(payload)
        .str();
}

}  // namespace orbv_test
