#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "metadata/binary_file.h"

namespace orbv {

// The Spherical Video V1 identifier that opens the uuid atom of the spherical XML.
extern const uint8_t kSphericalUuid[16];

// Movie header dates count seconds from 1904-01-01 00:00:00 UTC. FFmpeg's muxer writes them in
// 32 bits unless the movie lasts for days, and readers (FFmpeg, ExifTool) take a count below
// 1970's for seconds from 1970: only dates from 1970-01-01 00:00:00 to 2040-02-06 06:28:15 UTC
// (seconds from 1970 below) read back as written.
constexpr int64_t kSeconds1904To1970 = 2082844800;
constexpr int64_t kMovieDateFirst = 0;
constexpr int64_t kMovieDateLast = 0xFFFFFFFFLL - kSeconds1904To1970;
constexpr const char* kMovieDateRange = "1970:01:01 00:00:00..2040:02:06 06:28:15";

// A QuickTime/MP4 file searched atom by atom on disk: the maker's EXIF block at
// moov/udta/ORVM, the spherical XML in the video track's uuid atom, and the insertion of that
// atom.
//
// Hostile sizes: an atom whose size is smaller than its header (0 included) ends a search as
// a broken file; an atom that runs past the search bound (the enclosing payload, or the end
// of the file) ends the search; a wanted atom is found only when it lies whole within the
// bound. So payloads handed out lie inside the file and their enclosing atom.
class MovFile : public BinaryFile {
  public:
    // Opens read-only ("rb") or for update ("r+b"); throws orbv::Error with the open error's
    // text after logging "[.mov .mp4 analyze] file open error, errnum:%d errstr:%s ".
    MovFile(const char* path, bool writable);

    // The ORVM payload (header included) at moov/udta/ORVM. 0 with *block and *size set (the
    // buffer is the object's). Throws orbv::Error when the search for moov fails with an error.
    int32_t exif_data(const uint8_t** block, size_t* size);
    // The spherical XML of the track with alternate group 0 (the first trak, or else the
    // second), NUL-terminated. Throws like exif_data.
    int32_t xml_data(const char** text);
    // The 16-bit alternate group of a tkhd payload ending at tkhd_end: at offset 34 of a
    // version-0 header, 46 of a version-1 header; -1 when it cannot be read.
    void read_track_group(int64_t tkhd_payload, int64_t tkhd_end, int32_t* value);

    // Adds `added` to the size of the atom whose header is at `header_offset`, keeping its
    // 32- or 64-bit form. -1, with nothing written, when the header cannot be read or the new
    // size would not fit the form (2^32 or more for the 32-bit form).
    int32_t grow_atom_size(int64_t header_offset, int64_t added);
    // Writes a uuid atom (size L + 24, "uuid", kSphericalUuid, the text) as the last child of
    // the video trak, grows that trak and moov by L + 24 and adds L + 24 to every chunk offset
    // (stco and co64 of every track) that points at or past the atom. Needs the writable flag.
    // Refused with -1 and the file unchanged when there is no video track, when a size or a
    // 32-bit offset would pass its form, when a chunk offset table is broken, when the movie
    // is fragmented (its fragments locate their data by offsets of their own) or when the file
    // cannot be grown.
    int32_t insert_spherical_xml(const char* xml);
    // Takes a free atom that directly follows moov into moov as its last child (4 bytes
    // rewritten), so that a moov-first movie reads ftyp, moov, mdat: the muxer leaves its
    // 8-byte reserve for a wide mdat header there. 0 also when there is none; -1 when the
    // file cannot be read or moov's size field cannot hold it.
    int32_t fold_free_after_moov();

    // Dates the movie: the creation and modification times of mvhd and of every track's tkhd
    // and mdhd become `seconds` from 1970 (kMovieDateFirst..kMovieDateLast), in the width of
    // each header's version. Needs the writable flag. -1, with nothing written, when moov or
    // one of these headers is missing or too short; a failed write leaves errnum set.
    int32_t write_movie_date(int64_t seconds);

    // Closes the stream and releases both buffers (the pointers handed out die with them).
    void close();

  private:
    std::unique_ptr<uint8_t[]> exif_buf;
    size_t exif_size = 0;
    std::unique_ptr<char[]> xml_buf;

    struct Atom {
        int64_t start = -1;    // header
        int64_t payload = -1;  // first payload byte
        int64_t end = -1;      // byte after the atom
    };
    // Searches `type` (four characters) among the sibling atoms from `start` up to `end` (0:
    // the end of the file). 0 whether found or not: not found leaves atom->start at -1. -1
    // with errstr "this file broken. not read mov offset." for a size below its header, or
    // the C library's code for an I/O error.
    int32_t find(const char* type, int64_t start, int64_t end, Atom* atom);
    // The trak chosen as the video track, with its tkhd: the first trak in moov when its
    // alternate group is 0, else the second one whatever its group. 0 when found; -1 with
    // *missing naming the absent atom ("trak" or "tkhd"), or find's code with *missing null.
    int32_t find_video_trak(const Atom& moov, Atom* trak, Atom* tkhd, const char** missing);
    // Reads an atom's size field: 32-bit form or 64-bit form (*wide).
    bool read_size(int64_t header_offset, uint64_t* size, bool* wide);
    // The video track an atom goes into: moov and the chosen trak, which must have alternate
    // group 0 itself. 0 when found, -1 otherwise.
    int32_t locate(Atom* moov, Atom* trak);
    // The entries of a stco table, or of a co64 table when wide.
    struct ChunkTable {
        int64_t entries = 0;  // offset of the first entry
        bool wide = false;
        std::vector<uint8_t> bytes;
        // Adds `added` to every offset at or past `from`: how many moved, or -1 when one
        // would not fit its width.
        int64_t shift(int64_t from, int64_t added);
    };
    // Every chunk offset table of every trak in moov, read whole. -1 when one is broken.
    int32_t read_chunk_tables(const Atom& moov, std::vector<ChunkTable>* tables);
    int32_t read_chunk_table(const Atom& table, bool wide, std::vector<ChunkTable>* tables);
    // The tables whose offsets moved, shifted; why not, when they cannot move.
    const char* shift_chunk_offsets(const Atom& moov, int64_t from, int64_t added,
                                    std::vector<ChunkTable>* moved);
    // Writes tables read before `added` bytes were inserted at `at`.
    bool write_chunk_tables(const std::vector<ChunkTable>& tables, int64_t at, int64_t added);
    // Why the atom cannot go in (nullptr when it can), checked before anything is written;
    // *moved gets the chunk offset tables as they must be written afterwards.
    const char* check_insertion(const Atom& moov, const Atom& trak, int64_t added,
                                std::vector<ChunkTable>* moved);
};

}  // namespace orbv
