// The camera's metadata bytes: the big-endian EXIF block with its "ORX" maker note, the ORVM
// payload of the movies, and its insertion into moov/udta.
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "sample_shot.h"

namespace orbv_sample {

namespace {

enum Type : uint16_t { BYTE = 1, ASCII = 2, SHORT = 3, LONG = 4, UNDEFINED = 7 };

void put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    b[at] = static_cast<uint8_t>(v >> 8);
    b[at + 1] = static_cast<uint8_t>(v);
}
void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    b[at] = static_cast<uint8_t>(v >> 24);
    b[at + 1] = static_cast<uint8_t>(v >> 16);
    b[at + 2] = static_cast<uint8_t>(v >> 8);
    b[at + 3] = static_cast<uint8_t>(v);
}
uint32_t get32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

struct Entry {
    uint16_t tag;
    uint16_t type;
    uint32_t count;
    std::vector<uint8_t> data;  // value bytes; more than 4 go after the directory
};

Entry ascii(uint16_t tag, const std::string& text) {
    Entry e{tag, ASCII, static_cast<uint32_t>(text.size() + 1), {}};
    e.data.assign(text.begin(), text.end());
    e.data.push_back(0);
    return e;
}
Entry short_value(uint16_t tag, uint16_t value) {
    return {tag, SHORT, 1, {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)}};
}
Entry long_value(uint16_t tag, uint32_t value) {
    return {tag,
            LONG,
            1,
            {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
             static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)}};
}

// Appends a directory and its out-of-line values to the block. Returns the offset of each
// entry's value field, so that pointers to later structures can be filled in afterwards.
std::vector<size_t> append_directory(std::vector<uint8_t>& block,
                                     const std::vector<Entry>& entries) {
    const size_t start = block.size();
    const size_t dir_size = 2 + 12 * entries.size() + 4;
    block.resize(start + dir_size, 0);
    put16(block, start, static_cast<uint32_t>(entries.size()));
    std::vector<size_t> fields;
    for (size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        const size_t at = start + 2 + 12 * i;
        put16(block, at, e.tag);
        put16(block, at + 2, e.type);
        put32(block, at + 4, e.count);
        fields.push_back(at + 8);
        if (e.data.size() <= 4) {
            std::memcpy(&block[at + 8], e.data.data(), e.data.size());
        } else {
            put32(block, at + 8, static_cast<uint32_t>(block.size()));
            block.insert(block.end(), e.data.begin(), e.data.end());
            if (block.size() & 1) block.push_back(0);
        }
    }
    return fields;
}

// The directories after a header of `header_size` bytes whose first-directory offset is at
// `offset_field`: IFD0 (Make, Model, Orientation, Exif pointer), the Exif directory
// (DateTimeOriginal, MakerNote) and the maker note ("ORX", NUL, two bytes, its directory).
std::vector<uint8_t> camera_block(const CameraInfo& camera, std::vector<uint8_t> block,
                                  size_t offset_field) {
    put32(block, offset_field, static_cast<uint32_t>(block.size()));
    const std::vector<size_t> ifd0 = append_directory(
        block, {ascii(0x010F, camera.maker), ascii(0x0110, camera.model),
                short_value(0x0112, static_cast<uint16_t>(camera.exif_orientation)),
                long_value(0x8769, 0)});
    put32(block, ifd0[3], static_cast<uint32_t>(block.size()));
    const std::vector<size_t> exif = append_directory(
        block, {ascii(0x9003, camera.datetime), Entry{0x927C, UNDEFINED, 0, {0, 0, 0, 0}}});

    const size_t note = block.size();
    const uint8_t signature[6] = {'O', 'R', 'X', 0, 0, 1};
    block.insert(block.end(), signature, signature + 6);
    append_directory(
        block,
        {short_value(0x3000, static_cast<uint16_t>(camera.capture_mode)),
         long_value(0x6300, camera.multi_capture),
         Entry{0x6301, BYTE, 1, {static_cast<uint8_t>(camera.camera_orientation), 0, 0, 0}}});
    put32(block, exif[1] - 4, static_cast<uint32_t>(block.size() - note));  // count
    put32(block, exif[1], static_cast<uint32_t>(note));
    return block;
}

struct File {
    FILE* f;
    explicit File(const std::string& path, const char* mode) : f(std::fopen(path.c_str(), mode)) {
        if (f == nullptr) throw std::runtime_error("cannot open " + path);
    }
    ~File() { std::fclose(f); }
};

}  // namespace

std::vector<uint8_t> exif_tiff_block(const CameraInfo& camera) {
    std::vector<uint8_t> header = {'M', 'M', 0, 42, 0, 0, 0, 0};
    return camera_block(camera, header, 4);
}

std::vector<uint8_t> orvm_block(const CameraInfo& camera) {
    std::vector<uint8_t> header = {'O', 'R', 'V', 'M', 0, 1, 0, 0, 0, 0};
    return camera_block(camera, header, 6);
}

void insert_udta_atom(const std::string& path, const char type[4],
                      const std::vector<uint8_t>& payload) {
    File file(path, "r+b");
    // Find moov among the top-level atoms; it must be the last one, so that growing it moves
    // no media data.
    if (std::fseek(file.f, 0, SEEK_END) != 0) throw std::runtime_error("seek failed");
    const long file_size = std::ftell(file.f);
    long pos = 0;
    long moov = -1;
    uint32_t moov_size = 0;
    while (pos + 8 <= file_size) {
        uint8_t h[16];
        if (std::fseek(file.f, pos, SEEK_SET) != 0 || std::fread(h, 1, 8, file.f) != 8) break;
        uint64_t size = get32(h);
        if (size == 1) {
            if (std::fread(h + 8, 1, 8, file.f) != 8) break;
            size = (uint64_t{get32(h + 8)} << 32) | get32(h + 12);
        } else if (size == 0) {
            size = static_cast<uint64_t>(file_size - pos);
        }
        if (size < 8) throw std::runtime_error("broken atom in " + path);
        if (std::memcmp(h + 4, "moov", 4) == 0) {
            moov = pos;
            moov_size = static_cast<uint32_t>(size);
        }
        pos += static_cast<long>(size);
    }
    if (moov < 0 || moov + static_cast<long>(moov_size) != file_size) {
        throw std::runtime_error("moov is not the last atom of " + path);
    }
    std::vector<uint8_t> atom(moov_size);
    std::fseek(file.f, moov, SEEK_SET);
    if (std::fread(atom.data(), 1, moov_size, file.f) != moov_size) {
        throw std::runtime_error("cannot read moov of " + path);
    }

    std::vector<uint8_t> child(8 + payload.size());
    put32(child, 0, static_cast<uint32_t>(child.size()));
    std::memcpy(&child[4], type, 4);
    std::memcpy(&child[8], payload.data(), payload.size());

    size_t at = 8;
    size_t udta = 0;
    while (at + 8 <= atom.size()) {
        const uint32_t size = get32(&atom[at]);
        if (size < 8 || at + size > atom.size()) break;
        if (std::memcmp(&atom[at + 4], "udta", 4) == 0) udta = at;
        at += size;
    }
    if (udta != 0) {
        const uint32_t size = get32(&atom[udta]);
        atom.insert(atom.begin() + static_cast<long>(udta + size), child.begin(), child.end());
        put32(atom, udta, static_cast<uint32_t>(size + child.size()));
    } else {
        std::vector<uint8_t> box(8);
        put32(box, 0, static_cast<uint32_t>(8 + child.size()));
        std::memcpy(&box[4], "udta", 4);
        box.insert(box.end(), child.begin(), child.end());
        atom.insert(atom.end(), box.begin(), box.end());
    }
    put32(atom, 0, static_cast<uint32_t>(atom.size()));
    std::fseek(file.f, moov, SEEK_SET);
    if (std::fwrite(atom.data(), 1, atom.size(), file.f) != atom.size()) {
        throw std::runtime_error("cannot write moov of " + path);
    }
}

}  // namespace orbv_sample
