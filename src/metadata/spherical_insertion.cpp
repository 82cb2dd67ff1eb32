// MovFile's writing side: marks an exported movie as spherical video with a uuid atom in its
// video track.
#include <cstring>
#include <vector>

#include "metadata/byte_order.h"
#include "metadata/mov_file.h"
#include "util/log.h"

namespace orbv {
namespace {
constexpr uint64_t k32BitLimit = 0x100000000ULL;
constexpr int64_t kUuidHeader = 24;  // size, "uuid", identifier
}  // namespace

int32_t MovFile::locate(Atom* moov, Atom* trak) {
    log_message(LOG_TRACE, "[.mov .mp4 analyze] xml_data start");
    if (find("moov", 0, 0, moov) != 0 || moov->start == -1) return -1;
    Atom tkhd;
    const char* missing;
    if (find_video_trak(*moov, trak, &tkhd, &missing) != 0) return -1;
    // The reader takes a second trak of any group; a marking must not land on a sound track.
    int32_t group;
    read_track_group(tkhd.payload, tkhd.end, &group);
    return group == 0 ? 0 : -1;
}

bool MovFile::read_size(int64_t header_offset, uint64_t* size, bool* wide) {
    uint8_t head[16];
    if (read_at(header_offset, head, 4) != kReadDone) return false;
    *size = get_u32(head);
    *wide = *size == 1;
    if (*wide) {
        if (read_at(header_offset + 4, head + 4, 12) != kReadDone) return false;
        *size = static_cast<uint64_t>(get_u32(head + 8)) << 32 | get_u32(head + 12);
    }
    return true;
}

int32_t MovFile::grow_atom_size(int64_t header_offset, int64_t added) {
    uint64_t size;
    bool wide;
    if (added < 0 || !read_size(header_offset, &size, &wide)) return -1;
    const uint64_t limit = wide ? static_cast<uint64_t>(INT64_MAX) : k32BitLimit - 1;
    if (size > limit || static_cast<uint64_t>(added) > limit - size) {
        set_error(-1, "atom size would not fit its size field");
        log_message(LOG_ERROR, "[.mov .mp4 analyze] grow_atom_size error:%s", errstr);
        return -1;
    }
    const uint64_t grown = size + static_cast<uint64_t>(added);
    uint8_t field[8];
    if (wide) {
        put_u32(field, static_cast<uint32_t>(grown >> 32));
        put_u32(field + 4, static_cast<uint32_t>(grown));
        return write_at(header_offset + 8, field, 8) ? 0 : -1;
    }
    put_u32(field, static_cast<uint32_t>(grown));
    return write_at(header_offset, field, 4) ? 0 : -1;
}

const char* MovFile::check_insertion(const Atom& moov, const Atom& trak, int64_t added,
                                     std::vector<ChunkTable>* moved) {
    if (static_cast<uint64_t>(added) >= k32BitLimit) return "text too long";
    Atom mvex;
    if (find("mvex", moov.payload, moov.end, &mvex) != 0) return errstr;
    if (mvex.start != -1) return "fragmented movie";
    for (int64_t header : {moov.start, trak.start}) {
        uint64_t size;
        bool wide;
        if (!read_size(header, &size, &wide)) return "cannot read atom size";
        const uint64_t limit = wide ? static_cast<uint64_t>(INT64_MAX) : k32BitLimit - 1;
        if (static_cast<uint64_t>(added) > limit - size) return "atom would pass 2^32 bytes";
    }
    return shift_chunk_offsets(moov, trak.end, added, moved);
}

int32_t MovFile::insert_spherical_xml(const char* xml) {
    auto refuse = [](const char* why) {
        log_message(LOG_ERROR, "[.mov .mp4 analyze] insert_spherical_xml error:%s", why);
        return -1;
    };
    if (xml == nullptr || stream == nullptr) return refuse("no text or no open file");
    Atom moov, trak;
    if (locate(&moov, &trak) != 0) return refuse("Not Found video track");
    const int64_t n = static_cast<int64_t>(std::strlen(xml)) + kUuidHeader;
    std::vector<ChunkTable> moved;
    if (const char* why = check_insertion(moov, trak, n, &moved)) return refuse(why);

    std::vector<uint8_t> atom(static_cast<size_t>(n));
    put_u32(atom.data(), static_cast<uint32_t>(n));
    std::memcpy(&atom[4], "uuid", 4);
    std::memcpy(&atom[8], kSphericalUuid, 16);
    std::memcpy(&atom[kUuidHeader], xml, static_cast<size_t>(n - kUuidHeader));
    // Only the growth of the file can fail for want of room, and it undoes itself; what
    // follows rewrites bytes in place. Both headers lie before the insertion point.
    if (insert_bytes(trak.end, atom.data(), atom.size()) != 0) return refuse(errstr);
    if (grow_atom_size(moov.start, n) != 0 || grow_atom_size(trak.start, n) != 0 ||
        !write_chunk_tables(moved, trak.end, n))
        return refuse(errstr);
    errnum = 0;
    return 0;
}

int32_t MovFile::fold_free_after_moov() {
    Atom moov;
    if (find("moov", 0, 0, &moov) != 0) return -1;
    uint8_t head[8];
    const ReadResult got = moov.start == -1 ? kReadShort : read_at(moov.end, head, 8);
    if (got == kReadError) return -1;
    if (got != kReadDone || std::memcmp(head + 4, "free", 4) != 0) return 0;
    const int64_t size = get_u32(head);
    const int64_t file = file_size();
    if (size < 8 || file < 0 || size > file - moov.end) return file < 0 ? -1 : 0;
    return grow_atom_size(moov.start, size);
}

}  // namespace orbv
