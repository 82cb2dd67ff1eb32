// MovFile's dates: the creation and modification times of the movie, track and media headers.
// The muxer takes a date as seconds from 1970 and stores none for a count of 0, so the first
// second of 1970 could not be written through it.
#include <vector>

#include "metadata/byte_order.h"
#include "metadata/mov_file.h"
#include "util/log.h"

namespace orbv {

int32_t MovFile::write_movie_date(int64_t seconds) {
    if (seconds < kMovieDateFirst || seconds > kMovieDateLast) return -1;
    const uint64_t count = static_cast<uint64_t>(seconds + kSeconds1904To1970);
    Atom moov;
    if (find("moov", 0, 0, &moov) != 0 || moov.start == -1) return -1;
    // Every header is found and checked before the first byte is written.
    std::vector<Atom> headers(1);
    if (find("mvhd", moov.payload, moov.end, &headers[0]) != 0) return -1;
    Atom trak, mdia;
    for (int64_t from = moov.payload; find("trak", from, moov.end, &trak) == 0 && trak.start != -1;
         from = trak.end) {
        headers.emplace_back();
        if (find("tkhd", trak.payload, trak.end, &headers.back()) != 0 ||
            find("mdia", trak.payload, trak.end, &mdia) != 0 || mdia.start == -1) {
            return -1;
        }
        headers.emplace_back();
        if (find("mdhd", mdia.payload, mdia.end, &headers.back()) != 0) return -1;
    }
    std::vector<uint8_t> versions;
    for (const Atom& header : headers) {
        uint8_t version = 0;
        if (header.start == -1 || read_at(header.payload, &version, 1) != kReadDone ||
            version > 1 || header.end - header.payload < (version == 1 ? 20 : 12)) {
            log_message(LOG_ERROR, "[.mov .mp4 analyze] write_movie_date error:header unreadable");
            return -1;
        }
        versions.push_back(version);
    }
    for (size_t i = 0; i < headers.size(); ++i) {
        uint8_t times[16];
        const bool wide = versions[i] == 1;
        const size_t width = wide ? 8 : 4;
        for (size_t at = 0; at < 2 * width; at += width) {
            if (wide)
                put_u64(times + at, count);
            else
                put_u32(times + at, static_cast<uint32_t>(count));
        }
        if (!write_at(headers[i].payload + 4, times, 2 * width)) return -1;
    }
    return 0;
}

}  // namespace orbv
