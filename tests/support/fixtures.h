#pragma once

// The fixture maker: binary blocks built byte by byte (JPEG segments, QuickTime atoms, EXIF
// directories), edits of finished movies atom by atom, and sample shots made once per program.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sample_shot.h"

namespace orbv_test {

// Builds bytes; every number goes out big-endian.
class ByteWriter {
  public:
    ByteWriter& u8(uint8_t v) { return bytes_.push_back(static_cast<char>(v)), *this; }
    ByteWriter& u16(uint16_t v) { return u8(static_cast<uint8_t>(v >> 8)).u8(v & 0xFF); }
    ByteWriter& u32(uint32_t v) { return u16(static_cast<uint16_t>(v >> 16)).u16(v & 0xFFFF); }
    ByteWriter& u64(uint64_t v) { return u32(static_cast<uint32_t>(v >> 32)).u32(v & ~0u); }
    ByteWriter& raw(const std::string& bytes) { return bytes_ += bytes, *this; }
    size_t size() const { return bytes_.size(); }
    const std::string& str() const { return bytes_; }

  private:
    std::string bytes_;
};

uint32_t get_u32(const std::string& bytes, size_t at);
uint64_t get_u64(const std::string& bytes, size_t at);
void set_u32(std::string* bytes, size_t at, uint32_t value);

// A QuickTime atom (32-bit size, type, payload) and its 64-bit form (size field 1).
std::string atom(const std::string& type, const std::string& payload);
std::string atom64(const std::string& type, const std::string& payload);
// A JPEG marker segment: 0xFF, the marker, the 16-bit length (payload + 2), the payload.
std::string segment(uint8_t marker, const std::string& payload);

// One EXIF directory: its entry count (the true one unless `count` is given), the entries and a
// zero link to a next directory.
enum : uint16_t { BYTE = 1, ASCII = 2, SHORT = 3, LONG = 4, UNDEFINED = 7 };
struct Entry {
    uint16_t tag, type;
    uint32_t count, value;  // a SHORT held in the value field goes in its upper half
};
std::string ifd(const std::vector<Entry>& entries, int count = -1);

// An atom found along a path of types (moov, trak, ...); start is npos when missing.
struct AtomAt {
    size_t start = std::string::npos, header = 8;
    uint64_t size = 0;
    size_t end() const { return start + static_cast<size_t>(size); }
};
AtomAt find_atom(const std::string& bytes, const std::vector<std::string>& path);
// `child` put first (or last) inside the atom at `path`, every atom of the path grown.
std::string insert_child(std::string bytes, const std::vector<std::string>& path,
                         const std::string& child, bool first);
// The 32-bit size field of the atom at `path` set to `size`.
std::string with_size(std::string bytes, const std::vector<std::string>& path, uint64_t size);
// The movie (atoms in the 32-bit form) with every stco table rewritten as a co64 table, its
// offsets moved by `shift`.
std::string with_co64(const std::string& bytes, uint64_t shift);

// The sample shot `name` (the key) of `frames` frames, or stills, its other options as `change`
// sets them: made once per test program in a directory removed when the program ends.
const orbv_sample::Shot& shot(const std::string& name, int frames = 3, bool stills = false,
                              const std::function<void(orbv_sample::ShotOptions&)>& change = {});
std::string fixture_file(const std::string& name);

// A panorama's pictures as the ffmpeg program decodes them, in their stored 4:2:0 layout.
std::vector<orbv_sample::Picture> decode(const std::string& path);

// PSNR in dB of plane `plane` (0 Y, 1 U, 2 V) of a panorama picture against the scene at `frame`
// (`grey`: the scene without its colour), leaving out the rows within 3 degrees of the horizon,
// where the lenses meet. Each output pixel interpolates between lens pixels, so its reference is
// the scene averaged over four points a quarter pixel around it.
double scene_psnr(const orbv_sample::Picture& p, int frame, int plane = 0, bool grey = false);

}  // namespace orbv_test
