#include "metadata/mov_file.h"

#include <algorithm>
#include <cstring>

#include "metadata/byte_order.h"
#include "util/error.h"
#include "util/log.h"

namespace orbv {

const uint8_t kSphericalUuid[16] = {0xff, 0xcc, 0x82, 0x63, 0xf8, 0x55, 0x4a, 0x93,
                                    0x88, 0x14, 0x58, 0x7a, 0x02, 0x52, 0x1f, 0xdd};

namespace {
constexpr const char* kBroken = "this file broken. not read mov offset.";
// The alternate group of a track header: version 1 widens the two times and the duration
// before it to 64 bits.
constexpr int64_t kTrackGroupOffset = 34;
constexpr int64_t kTrackGroupOffsetV1 = 46;
}  // namespace

MovFile::MovFile(const char* path, bool writable)
    : BinaryFile(path, writable, "[.mov .mp4 analyze]") {}

void MovFile::close() {
    close_stream();
    exif_buf.reset();
    exif_size = 0;
    xml_buf.reset();
}

int32_t MovFile::find(const char* type, int64_t start, int64_t end, Atom* atom) {
    *atom = Atom();
    const int64_t size = file_size();
    if (size < 0) return errnum;
    if (start < 0) {
        set_error(-1, kBroken);
        return -1;
    }
    const int64_t limit = end != 0 ? std::min(end, size) : size;
    // Every step moves at least one header on, so the walk ends.
    for (int64_t pos = start; pos < limit;) {
        uint8_t head[16];
        if (limit - pos < 8) return 0;  // e.g. the 32-bit terminator that ends some udta
        ReadResult got = read_at(pos, head, 8);
        if (got != kReadDone) return got == kReadError ? errnum : 0;
        uint64_t atom_size = get_u32(head);
        int64_t header = 8;
        if (atom_size == 1) {
            if (limit - pos < 16) return 0;
            got = read_at(pos + 8, head + 8, 8);
            if (got != kReadDone) return got == kReadError ? errnum : 0;
            atom_size = static_cast<uint64_t>(get_u32(head + 8)) << 32 | get_u32(head + 12);
            header = 16;
        }
        const bool whole = atom_size >= static_cast<uint64_t>(header) &&
                           atom_size <= static_cast<uint64_t>(limit - pos);
        if (std::memcmp(head + 4, type, 4) == 0) {
            if (!whole) return 0;  // a wanted atom that does not fit is not handed out
            atom->start = pos;
            atom->payload = pos + header;
            atom->end = pos + static_cast<int64_t>(atom_size);
            return 0;
        }
        if (atom_size < static_cast<uint64_t>(header)) {
            set_error(-1, kBroken);
            return -1;
        }
        if (!whole) return 0;  // the next sibling would lie beyond the bound
        pos += static_cast<int64_t>(atom_size);
    }
    return 0;
}

int32_t MovFile::find_video_trak(const Atom& moov, Atom* trak, Atom* tkhd, const char** missing) {
    // A trak searched from `from`, and its tkhd.
    auto track = [&](int64_t from) -> int32_t {
        int32_t result = find("trak", from, moov.end, trak);
        if (result == 0 && trak->start != -1) result = find("tkhd", trak->payload, trak->end, tkhd);
        if (result != 0) return result;
        if (trak->start == -1 || tkhd->start == -1) {
            *missing = trak->start == -1 ? "trak" : "tkhd";
            return -1;
        }
        return 0;
    };
    *missing = nullptr;
    const int32_t result = track(moov.payload);
    if (result != 0) return result;
    int32_t group;
    read_track_group(tkhd->payload, tkhd->end, &group);
    return group == 0 ? 0 : track(trak->end);
}

int32_t MovFile::exif_data(const uint8_t** block, size_t* size) {
    log_message(LOG_TRACE, "[.mov .mp4 analyze] exif_data start:");
    *block = nullptr;
    *size = 0;
    // One level of moov/udta/ORVM; errors of the moov search are thrown.
    auto level = [this](const char* type, int64_t start, int64_t end, Atom* atom) -> int32_t {
        const int32_t result = find(type, start, end, atom);
        if (result != 0) {
            log_message(LOG_ERROR,
                        "[.mov .mp4 analyze] exif_data error:Not Found %s atom: errnum:%d "
                        "errstr %s",
                        type, errnum, errstr);
            if (std::strcmp(type, "moov") == 0) throw Error(errstr);
            return result;
        }
        if (atom->start == -1) {
            char text[64];
            std::snprintf(text, sizeof text, "Not Found %s atom", type);
            set_error(-1, text);
            // Other makers' movies carry no udta or ORVM: no fault of theirs.
            log_message(std::strcmp(type, "moov") == 0 ? LOG_ERROR : LOG_NOTE,
                        "[.mov .mp4 analyze] exif_data error:%s", text);
            return -1;
        }
        return 0;
    };
    Atom moov, udta, orvm;
    int32_t result = level("moov", 0, 0, &moov);
    if (result == 0) result = level("udta", moov.payload, moov.end, &udta);
    if (result == 0) result = level("ORVM", udta.payload, udta.end, &orvm);
    if (result != 0) return result;

    const size_t n = static_cast<size_t>(orvm.end - orvm.payload);
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[n > 0 ? n : 1]);
    if (read_at(orvm.payload, buffer.get(), n) != kReadDone) {
        if (errnum == 0) set_error(-1, kBroken);
        log_message(LOG_ERROR, "[.mov .mp4 analyze] exif_data error:read error errnum:%d errstr %s",
                    errnum, errstr);
        return errnum;
    }
    exif_buf = std::move(buffer);
    exif_size = n;
    *block = exif_buf.get();
    *size = n;
    log_message(LOG_TRACE, "[.mov .mp4 analyze] exif_data end");
    return 0;
}

void MovFile::read_track_group(int64_t tkhd_payload, int64_t tkhd_end, int32_t* value) {
    *value = -1;
    uint8_t version, two[2];
    if (tkhd_end - tkhd_payload < 1 || read_at(tkhd_payload, &version, 1) != kReadDone) return;
    const int64_t offset = version == 1 ? kTrackGroupOffsetV1 : kTrackGroupOffset;
    if (tkhd_end - tkhd_payload < offset + 2) return;
    if (read_at(tkhd_payload + offset, two, 2) == kReadDone) *value = get_u16(two);
}

int32_t MovFile::xml_data(const char** text) {
    log_message(LOG_TRACE, "[.mov .mp4 analyze] xml_data start");
    *text = nullptr;
    Atom moov;
    int32_t result = find("moov", 0, 0, &moov);
    if (result != 0) {
        log_message(LOG_ERROR,
                    "[.mov .mp4 analyze] xml_data error:Not Found moov atom: errnum:%d errstr %s",
                    errnum, errstr);
        throw Error(errstr);
    }
    if (moov.start == -1) {
        log_message(LOG_ERROR, "[.mov .mp4 analyze] xml_data error:Not Found moov atom");
        return -1;
    }
    Atom trak, tkhd;
    const char* missing;
    if ((result = find_video_trak(moov, &trak, &tkhd, &missing)) != 0) {
        if (missing != nullptr) {
            log_message(LOG_ERROR, "[.mov .mp4 analyze] xml_data error:Not Found %s atom", missing);
        } else {
            log_message(LOG_ERROR,
                        "[.mov .mp4 analyze] xml_data error:Not Found trak atom: errnum:%d "
                        "errstr %s",
                        errnum, errstr);
        }
        return result;
    }

    Atom uuid;
    if ((result = find("uuid", trak.payload, trak.end, &uuid)) != 0) return result;
    if (uuid.start == -1) {
        // The camera writes none; only a panorama carries one.
        log_message(LOG_NOTE,
                    "[.mov .mp4 analyze] xml_data error:Not Found uuid atom: errnum:%d errstr %s",
                    -1, "Not Found uuid atom");
        return -1;
    }
    const int64_t length = uuid.end - uuid.payload;
    uint8_t id[16];
    if (length < 16 || read_at(uuid.payload, id, 16) != kReadDone ||
        std::memcmp(id, kSphericalUuid, 16) != 0) {
        log_message(LOG_ERROR, "[.mov .mp4 analyze] xml_data error:uuid Not youtube360 UUID");
        return -1;
    }
    const size_t n = static_cast<size_t>(length - 16);
    std::unique_ptr<char[]> buffer(new char[n + 1]);
    if (n == 0 || read_at(uuid.payload + 16, buffer.get(), n) != kReadDone) {
        log_message(LOG_ERROR, "[.mov .mp4 analyze] xml_data error:read error");
        return -1;
    }
    buffer[n] = '\0';
    xml_buf = std::move(buffer);
    *text = xml_buf.get();
    return 0;
}

}  // namespace orbv
