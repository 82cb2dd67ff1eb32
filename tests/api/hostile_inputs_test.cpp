// A catalogue of hostile files and names, each given to every call of the interface in a child
// process of its own: a crash, a sanitizer finding or a hang fails the case instead of the
// test program. Whatever the file, a call answers with exactly one final document of its own
// family (1xxxx analysis, 2xxxx audio, 3xxxx export), leaves its input as it was and no failed
// output behind, and comes back within seconds.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "orbv.h"
#include "sample_shot.h"
#include "support/byte_writer.h"
#include "support/isolated_call.h"
#include "support/test_support.h"

using orbv_test::atom;
using orbv_test::ByteWriter;
using orbv_test::CallbackRecord;
using orbv_test::flat_json;
using orbv_test::IsolatedCall;
using orbv_test::IsolatedOutcome;
using orbv_test::json_field;
using orbv_test::read_file;
using orbv_test::TempDir;
using orbv_test::write_file;

namespace {

constexpr double kCallLimitSeconds = 30;  // a hang; the calls here take well under a second
constexpr int kLens = 1440;

const std::string kSphericalId("\xff\xcc\x82\x63\xf8\x55\x4a\x93\x88\x14\x58\x7a\x02\x52\x1f\xdd",
                               16);
const std::string kXmpSignature("http://ns.adobe.com/xap/1.0/\0", 29);
const char kOwnSoftware[] = "VELORA360Viewer win.1.0.0";

// --- Building hostile bytes ------------------------------------------------------------------

enum : uint16_t { BYTE = 1, ASCII = 2, SHORT = 3, LONG = 4, UNDEFINED = 7 };

struct Entry {
    uint16_t tag;
    uint16_t type;
    uint32_t count;
    uint32_t value;
};

// An EXIF-style block: `header`, the first directory's offset, then one directory of `entries`
// (its count field may lie: `count`), its zero link, then `tail`. Offsets count from the
// block's first byte; tail_offset() tells where the tail will start.
struct IfdBlock {
    std::string header;  // "MM\0*" (TIFF) or "ORVM\0\0" (the maker's movie block)
    std::vector<Entry> entries;
    int count = -1;  // -1: the true number of entries
    std::string tail;
    int64_t first = -1;  // -1: the directory right after the header

    uint32_t directory_offset() const { return static_cast<uint32_t>(header.size() + 4); }
    uint32_t tail_offset() const {
        return directory_offset() + 2 + 12 * static_cast<uint32_t>(entries.size()) + 4;
    }
    std::string bytes() const {
        ByteWriter w;
        w.raw(header).u32(first >= 0 ? static_cast<uint32_t>(first) : directory_offset());
        w.u16(static_cast<uint16_t>(count >= 0 ? count : static_cast<int>(entries.size())));
        for (const Entry& e : entries) w.u16(e.tag).u16(e.type).u32(e.count).u32(e.value);
        return w.u32(0).raw(tail).str();
    }
};

const std::string kTiffHeader("MM\0\x2A", 4);
const std::string kOrvmHeader("ORVM\0\0", 6);

std::string directory(const std::vector<Entry>& entries) {
    ByteWriter w;
    w.u16(static_cast<uint16_t>(entries.size()));
    for (const Entry& e : entries) w.u16(e.tag).u16(e.type).u32(e.count).u32(e.value);
    return w.u32(0).str();
}

// A maker note directory that points back to itself: "ORX\0", two bytes, a directory whose
// MakerNote entry names this very note.
std::string self_naming_note(uint32_t at) {
    return std::string("ORX\0\0\0", 6) +
           directory({{0x927C, UNDEFINED, 8, at}, {0x3000, SHORT, 1, 128u << 16}});
}

// Hostile blocks behind a header: "MM\0*" for a still's EXIF, "ORVM\0\0" for a movie's.
std::vector<std::pair<std::string, IfdBlock>> exif_variants(const std::string& header) {
    std::vector<std::pair<std::string, IfdBlock>> v;
    const IfdBlock start{header, {}, -1, "", -1};
    const uint32_t first = start.directory_offset();
    IfdBlock b = start;
    b.first = 0xFFFFFFF0;
    v.emplace_back("FirstDirectoryOutside", b);
    b = start;
    b.first = b.tail_offset() - 1;  // its count field would straddle the end
    v.emplace_back("FirstDirectoryAtEnd", b);
    b = start;
    b.entries = {{0x010F, ASCII, 20, 0x7FFFFFF0}, {0x0110, ASCII, 9, 0xFFFFFFFC}};
    v.emplace_back("TextsOutside", b);
    b = start;
    b.entries = {{0x010F, ASCII, 0xFFFFFFFF, first}, {0x9003, ASCII, 0xFFFFFFF0, 0}};
    v.emplace_back("AsciiCountsOf4GB", b);
    b = start;
    b.entries = {{0x010F, ASCII, 4, 0x4F525600}, {0x0112, SHORT, 1, 6u << 16}};
    b.count = 0x7FFF;
    v.emplace_back("DirectoryCount7FFF", b);
    b = start;
    b.entries = {{0x010F, ASCII, 4, 0x4F525600}};
    b.count = 0xFFFF;
    v.emplace_back("DirectoryCountFFFF", b);
    b = start;
    b.entries = {{0x8769, LONG, 1, first}};
    v.emplace_back("ExifPointerToItself", b);
    b = start;
    b.entries = {{0x8769, LONG, 1, 0}};
    b.tail = directory({{0x8769, LONG, 1, first}});
    b.entries[0].value = b.tail_offset();
    v.emplace_back("ExifPointersInACircle", b);
    b = start;
    b.entries = {{0x927C, UNDEFINED, 8, 0}};
    b.entries[0].value = b.tail_offset();
    b.tail = self_naming_note(b.tail_offset());
    v.emplace_back("MakerNoteNamingItself", b);
    b = start;
    b.entries = {{0x927C, UNDEFINED, 8, 0}};
    b.entries[0].value = b.tail_offset();
    b.tail = std::string("ORX\0\0\0", 6) + directory({{0x8769, LONG, 1, first}});
    v.emplace_back("MakerNoteBackToFirstDirectory", b);
    b = start;
    b.entries = {{0x927C, UNDEFINED, 4, 0xFFFFFFFE}};
    v.emplace_back("MakerNoteOutside", b);
    b = start;
    b.entries = {{0x927C, UNDEFINED, 4, 0}};
    b.entries[0].value = b.tail_offset();
    b.tail = std::string("ORX\0", 4);  // its directory would start past the end
    v.emplace_back("MakerNoteAtTheEnd", b);
    b = start;
    b.entries = {{0x010F, ASCII, 24, 0}};
    b.entries[0].value = b.tail_offset();
    b.tail = std::string("OR\"VAX\\\n\t\x01 COMPUTER\0\0\0\0\0\0", 24);
    v.emplace_back("MakerWithQuotesAndControls", b);
    return v;
}

// --- Movies: atoms found and grown in a finished file whose moov is last ---------------------

struct AtomAt {
    size_t start = std::string::npos;
    size_t header = 8;
    uint64_t size = 0;
    bool found() const { return start != std::string::npos; }
};

AtomAt find_child(const std::string& bytes, size_t from, size_t to, const std::string& type) {
    for (size_t pos = from; pos + 8 <= to;) {
        uint64_t size = orbv_test::get_u32(bytes, pos);
        size_t header = 8;
        if (size == 1) {
            size = orbv_test::get_u64(bytes, pos + 8);
            header = 16;
        }
        if (size < header || size > to - pos) break;
        if (bytes.compare(pos + 4, 4, type) == 0) return AtomAt{pos, header, size};
        pos += static_cast<size_t>(size);
    }
    return AtomAt{};
}

// The chain of atoms along `path` (e.g. moov, trak); stops at the first one missing.
std::vector<AtomAt> walk(const std::string& bytes, const std::vector<std::string>& path) {
    std::vector<AtomAt> chain;
    size_t from = 0, to = bytes.size();
    for (const std::string& type : path) {
        const AtomAt a = find_child(bytes, from, to, type);
        if (!a.found()) break;
        chain.push_back(a);
        from = a.start + a.header;
        to = a.start + static_cast<size_t>(a.size);
    }
    return chain;
}

void set_size32(std::string* bytes, size_t at, uint64_t size) {
    for (int i = 0; i < 4; ++i) (*bytes)[at + i] = static_cast<char>(size >> (24 - 8 * i));
}

// Puts `child` as the last child of the atom at `path` (every atom of the path must exist),
// growing each atom on the path.
std::string append_child(std::string bytes, const std::vector<std::string>& path,
                         const std::string& child) {
    const std::vector<AtomAt> chain = walk(bytes, path);
    if (chain.size() != path.size()) throw std::runtime_error("path missing: " + path.back());
    const AtomAt& last = chain.back();
    bytes.insert(last.start + static_cast<size_t>(last.size), child);
    for (const AtomAt& a : chain) set_size32(&bytes, a.start, a.size + child.size());
    return bytes;
}

// Puts `child` first inside the atom at `path`.
std::string prepend_child(std::string bytes, const std::vector<std::string>& path,
                          const std::string& child) {
    const std::vector<AtomAt> chain = walk(bytes, path);
    if (chain.size() != path.size()) throw std::runtime_error("path missing: " + path.back());
    bytes.insert(chain.back().start + chain.back().header, child);
    for (const AtomAt& a : chain) set_size32(&bytes, a.start, a.size + child.size());
    return bytes;
}

std::string before_atom(const std::string& bytes, const std::string& type,
                        const std::string& inserted) {
    const AtomAt a = find_child(bytes, 0, bytes.size(), type);
    if (!a.found()) throw std::runtime_error("no " + type);
    return bytes.substr(0, a.start) + inserted + bytes.substr(a.start);
}

std::string without_atom(const std::string& bytes, const std::string& type) {
    const AtomAt a = find_child(bytes, 0, bytes.size(), type);
    if (!a.found()) throw std::runtime_error("no " + type);
    return bytes.substr(0, a.start) + bytes.substr(a.start + static_cast<size_t>(a.size));
}

std::string with_size_of(std::string bytes, const std::vector<std::string>& path, uint64_t size) {
    const std::vector<AtomAt> chain = walk(bytes, path);
    set_size32(&bytes, chain.at(path.size() - 1).start, size);
    return bytes;
}

// moov rewritten in the 64-bit header form with the given size.
std::string moov_as_64bit(const std::string& bytes, uint64_t size_or_zero) {
    const AtomAt moov = find_child(bytes, 0, bytes.size(), "moov");
    const std::string payload = bytes.substr(moov.start + 8, static_cast<size_t>(moov.size) - 8);
    std::string wide = ByteWriter()
                           .u32(1)
                           .raw("moov")
                           .u64(size_or_zero != 0 ? size_or_zero : payload.size() + 16)
                           .raw(payload)
                           .str();
    return bytes.substr(0, moov.start) + wide + bytes.substr(moov.start + moov.size);
}

// Every chunk offset of every track (moov/trak/mdia/minf/stbl/stco) set to `offset`.
std::string with_chunk_offsets(std::string bytes, uint32_t offset) {
    const AtomAt moov = find_child(bytes, 0, bytes.size(), "moov");
    size_t pos = moov.start + moov.header;
    const size_t moov_end = moov.start + static_cast<size_t>(moov.size);
    for (AtomAt trak; (trak = find_child(bytes, pos, moov_end, "trak")).found();) {
        size_t from = trak.start, to = trak.start + static_cast<size_t>(trak.size);
        for (const char* type : {"trak", "mdia", "minf", "stbl", "stco"}) {
            const AtomAt a = find_child(bytes, from, to, type);
            if (!a.found()) throw std::runtime_error(std::string("no ") + type);
            from = a.start + a.header;
            to = a.start + static_cast<size_t>(a.size);
        }
        const uint32_t entries = orbv_test::get_u32(bytes, from + 4);
        for (uint32_t i = 0; i < entries; ++i) set_size32(&bytes, from + 8 + 4 * i, offset);
        pos = trak.start + static_cast<size_t>(trak.size);
    }
    return bytes;
}

// A 1x1 PNG picture.
std::string png_bytes() {
    return std::string(
        "\x89PNG\r\n\x1a\n\x00\x00\x00\rIHDR\x00\x00\x00\x01\x00\x00\x00\x01\x08\x06\x00\x00\x00"
        "\x1f\x15\xc4\x89\x00\x00\x00\nIDAT\x78\x9c\x63\x00\x01\x00\x00\x05\x00\x01\x0d\x0a\x2d"
        "\xb4\x00\x00\x00\x00IEND\xae\x42\x60\x82",
        67);
}

// --- The shared material: a camera shot of each kind, and lens files without camera data ---

struct Material {
    TempDir dir;
    orbv_sample::Shot movies;  // camera lens movies, the partners of hostile movies
    orbv_sample::Shot stills;
    std::string plain_movie;  // lens 1 movie without the maker atom
    std::string plain_still;  // lens 1 still without EXIF
};
Material* material = nullptr;

// --- The cases -------------------------------------------------------------------------------

// What the analysis of a case must answer; every call is held to the common rules anyway.
struct Expect {
    const char* analysis = "any";    // "done", an error code such as "10001", or "any"
    const char* software = nullptr;  // when done: "youtube360_maker" ("(null)" for none)
    int target = -1;                 // when done: 1 "isTarget":true, 0 false, -1 either
    int width = -1;                  // when done: the picture width
    int audio_ok = -1;               // 1: the audio extraction succeeds, 0: it fails, -1 either
    int export_ok = -1;              // the same for the exports with a good partner
};

struct HostileCase {
    std::string name;
    bool still;  // ".jpg" and a still partner, else ".mov" and a movie partner
    std::function<std::string()> bytes;
    Expect expect;
    bool directory = false;  // a directory of that name instead of a file
};

// Case names, not bytes, in the test log.
void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.name; }

std::string plain_movie_bytes() { return read_file(material->plain_movie); }
std::string plain_still_bytes() { return read_file(material->plain_still); }
std::string after_soi(const std::string& inserted) {
    const std::string still = plain_still_bytes();
    return still.substr(0, 2) + inserted + still.substr(2);
}
std::string with_orvm(const std::string& payload) {
    return append_child(plain_movie_bytes(), {"moov", "udta"}, atom("ORVM", payload));
}
std::string with_uuid(const std::string& payload) {
    return append_child(plain_movie_bytes(), {"moov", "trak"}, atom("uuid", payload));
}
std::string spherical(const std::string& software) {
    return "<?xml version=\"1.0\"?><rdf:SphericalVideo><GSpherical:StitchingSoftware>" + software +
           "</GSpherical:StitchingSoftware></rdf:SphericalVideo>";
}

Expect done_lens(int target = 0, const char* software = "(null)") {
    Expect e;
    e.analysis = "done";
    e.width = kLens;
    e.target = target;
    e.software = software;
    e.export_ok = 1;  // broken metadata must not stop the pictures being used
    return e;
}
Expect fails(const char* code) {
    Expect e;
    e.analysis = code;
    return e;
}
const Expect kAny{};

std::vector<HostileCase> still_cases() {
    std::vector<HostileCase> c;
    c.push_back({"EmptyStill", true, [] { return std::string(); }, fails("10001")});
    c.push_back(
        {"StartMarkerOnly", true, [] { return std::string("\xFF\xD8", 2); }, fails("10001")});
    c.push_back({"StillCutAt100Bytes", true, [] { return plain_still_bytes().substr(0, 100); },
                 fails("10001")});
    c.push_back({"StillCutInHalf", true,
                 [] {
                     const std::string s = plain_still_bytes();
                     return s.substr(0, s.size() / 2);
                 },
                 kAny});
    c.push_back({"StillCutInsideItsExif", true,
                 [] {
                     const std::string s = read_file(material->stills.lens1);
                     return s.substr(0, 40);
                 },
                 fails("10001")});
    for (int length : {0, 1, 4}) {
        c.push_back({"App1OfLength" + std::to_string(length), true,
                     [length] {
                         return after_soi(
                             ByteWriter().u8(0xFF).u8(0xE1).u16(length).raw("Ex").str());
                     },
                     kAny});
    }
    c.push_back({"App1LongerThanTheFile", true,
                 [] {
                     return plain_still_bytes().substr(0, 2) +
                            ByteWriter().u8(0xFF).u8(0xE1).u16(0xFFF0).raw("Exif").str();
                 },
                 fails("10001")});
    c.push_back({"ExifBlockOfTwoBytes", true,
                 [] { return after_soi(orbv_test::segment(0xE1, std::string("Exif\0\0MM", 8))); },
                 done_lens()});
    for (const auto& [name, block] : exif_variants(kTiffHeader)) {
        const std::string payload = std::string("Exif\0\0", 6) + block.bytes();
        c.push_back({"Exif" + name, true,
                     [payload] { return after_soi(orbv_test::segment(0xE1, payload)); },
                     done_lens()});
    }
    c.push_back({"XmpWithoutClosingBracket", true,
                 [] {
                     return after_soi(orbv_test::segment(
                         0xE1, kXmpSignature +
                                   "<x:xmpmeta <GPano:StitchingSoftware VELORA360Viewer "
                                   "</GPano:StitchingSoftware"));
                 },
                 done_lens()});
    c.push_back({"XmpOfOnlyItsSignature", true,
                 [] { return after_soi(orbv_test::segment(0xE1, kXmpSignature)); }, done_lens()});
    c.push_back({"XmpShorterThanItsSignature", true,
                 [] { return after_soi(orbv_test::segment(0xE1, "http://ns")); }, done_lens()});
    c.push_back({"XmpOfBracketsOnly", true,
                 [] {
                     return after_soi(
                         orbv_test::segment(0xE1, kXmpSignature + std::string(65000, '>')));
                 },
                 done_lens()});
    c.push_back({"XmpFullSegmentEndingInOwnSoftware", true,
                 [] {
                     const std::string tail = std::string("<GPano:StitchingSoftware>") +
                                              kOwnSoftware + "</GPano:StitchingSoftware>";
                     std::string filler;
                     while (filler.size() + tail.size() + kXmpSignature.size() < 65500)
                         filler += "<a x=\"1\">text</a>";
                     return after_soi(orbv_test::segment(0xE1, kXmpSignature + filler + tail));
                 },
                 done_lens(1, kOwnSoftware)});
    c.push_back({"PngNamedJpg", true, [] { return png_bytes(); }, kAny});
    c.push_back({"MovieNamedJpg", true, [] { return plain_movie_bytes(); }, kAny});
    c.push_back(
        {"TextNamedJpg", true, [] { return std::string("not a picture\n"); }, fails("10001")});
    c.push_back({"DirectoryNamedJpg", true, [] { return std::string(); }, fails("19999"), true});
    return c;
}

std::vector<HostileCase> movie_cases() {
    std::vector<HostileCase> c;
    c.push_back({"EmptyMovie", false, [] { return std::string(); }, fails("10001")});
    c.push_back({"AtomHeaderOnly", false,
                 [] {
                     return std::string(
                         "\0\0\0\x10"
                         "ftyp",
                         8);
                 },
                 fails("10001")});
    c.push_back({"MovieCutAt100Bytes", false, [] { return plain_movie_bytes().substr(0, 100); },
                 fails("10001")});
    c.push_back({"MovieCutInHalf", false,
                 [] {
                     const std::string m = plain_movie_bytes();
                     return m.substr(0, m.size() / 2);
                 },
                 fails("10001")});
    c.push_back({"MovieCutInsideMoov", false,
                 [] {
                     const std::string m = plain_movie_bytes();
                     return m.substr(0, m.size() - 40);
                 },
                 kAny});
    c.push_back({"MovieWithoutMoov", false,
                 [] { return without_atom(plain_movie_bytes(), "moov"); }, fails("10001")});
    c.push_back({"MovieWithoutMediaData", false,
                 [] { return without_atom(plain_movie_bytes(), "mdat"); }, kAny});
    c.push_back({"MediaDataZeroed", false,
                 [] {
                     std::string m = plain_movie_bytes();
                     const AtomAt mdat = find_child(m, 0, m.size(), "mdat");
                     std::fill(m.begin() + static_cast<long>(mdat.start + mdat.header),
                               m.begin() + static_cast<long>(mdat.start + mdat.size), '\0');
                     return m;
                 },
                 kAny});
    Expect unreadable = done_lens();
    unreadable.audio_ok = unreadable.export_ok = 0;  // no picture or sample can be read
    c.push_back({"SamplesPastTheEnd", false,
                 [] { return with_chunk_offsets(plain_movie_bytes(), 0x7FFFFF00); }, unreadable});
    c.push_back({"TopLevelAtomOfSize0", false,
                 [] {
                     return before_atom(plain_movie_bytes(), "moov",
                                        ByteWriter().u32(0).raw("free").str());
                 },
                 fails("19999")});
    c.push_back({"AtomOfSize0InMoov", false,
                 [] {
                     return prepend_child(plain_movie_bytes(), {"moov"},
                                          ByteWriter().u32(0).raw("free").str());
                 },
                 fails("10001")});
    c.push_back(
        {"AtomOfSize0InUdta", false,
         [] {
             const std::string camera = read_file(material->movies.lens1);
             return prepend_child(camera, {"moov", "udta"}, ByteWriter().u32(0).raw("free").str());
         },
         kAny});
    c.push_back({"AtomOfSize4InTrak", false,
                 [] {
                     return prepend_child(plain_movie_bytes(), {"moov", "trak"},
                                          ByteWriter().u32(4).raw("free").str());
                 },
                 kAny});
    c.push_back({"TopLevelAtomPastTheEnd", false,
                 [] {
                     return before_atom(plain_movie_bytes(), "moov",
                                        ByteWriter().u32(0x7FFFFFF0).raw("free").str());
                 },
                 fails("10001")});
    c.push_back({"MoovPastTheEnd", false,
                 [] {
                     const std::string m = plain_movie_bytes();
                     return with_size_of(m, {"moov"}, walk(m, {"moov"})[0].size + 1000);
                 },
                 kAny});
    c.push_back({"TrakPastMoov", false,
                 [] {
                     const std::string m = plain_movie_bytes();
                     return with_size_of(m, {"moov", "trak"}, walk(m, {"moov"})[0].size);
                 },
                 kAny});
    c.push_back({"OrvmPastUdta", false,
                 [] {
                     const std::string m = read_file(material->movies.lens1);
                     const auto chain = walk(m, {"moov", "udta", "ORVM"});
                     return with_size_of(m, {"moov", "udta", "ORVM"}, chain[2].size + 64);
                 },
                 done_lens()});
    c.push_back({"TopLevel64BitSizeOf2To62", false,
                 [] {
                     return before_atom(plain_movie_bytes(), "moov",
                                        ByteWriter().u32(1).raw("free").u64(1ULL << 62).str());
                 },
                 fails("10001")});
    c.push_back({"Moov64BitSizeOf2To62", false,
                 [] { return moov_as_64bit(plain_movie_bytes(), 1ULL << 62); }, kAny});
    c.push_back({"Moov64BitSizeExact", false,
                 [] { return moov_as_64bit(read_file(material->movies.lens1), 0); }, done_lens(1)});
    c.push_back({"Udta64BitSizeOf2To62", false,
                 [] {
                     return prepend_child(plain_movie_bytes(), {"moov"},
                                          ByteWriter().u32(1).raw("udta").u64(1ULL << 62).str());
                 },
                 kAny});
    c.push_back({"OrvmOfFourBytes", false, [] { return with_orvm("ORVM"); }, done_lens()});
    c.push_back({"OrvmEmpty", false, [] { return with_orvm(""); }, done_lens()});
    for (const auto& [name, block] : exif_variants(kOrvmHeader)) {
        const std::string payload = block.bytes();
        c.push_back({"Orvm" + name, false, [payload] { return with_orvm(payload); }, done_lens()});
    }
    c.push_back(
        {"UuidOfOnlyItsIdentifier", false, [] { return with_uuid(kSphericalId); }, done_lens()});
    c.push_back({"UuidWithoutIdentifier", false, [] { return with_uuid(""); }, kAny});
    c.push_back({"UuidOfAnotherIdentifier", false,
                 [] { return with_uuid(std::string(16, 'x') + spherical(kOwnSoftware)); },
                 done_lens()});
    c.push_back({"UuidXmlWithoutClosingBracket", false,
                 [] {
                     return with_uuid(kSphericalId +
                                      "<GSpherical:StitchingSoftware VELORA360Viewer "
                                      "</GSpherical:StitchingSoftware");
                 },
                 done_lens()});
    c.push_back({"UuidOf100KBOfXml", false,
                 [] {
                     std::string filler;
                     while (filler.size() < 100 * 1024)
                         filler += "<GSpherical:Note>abc</GSpherical:Note>\n";
                     return with_uuid(kSphericalId + filler + spherical(kOwnSoftware));
                 },
                 done_lens(1, kOwnSoftware)});
    c.push_back({"StillNamedMov", false, [] { return plain_still_bytes(); }, kAny});
    c.push_back({"PngNamedMov", false, [] { return png_bytes(); }, kAny});
    c.push_back(
        {"TextNamedMov", false, [] { return std::string("not a movie\n"); }, fails("10001")});
    c.push_back({"DirectoryNamedMov", false, [] { return std::string(); }, fails("19999"), true});
    return c;
}

// --- Running one call and holding it to the common rules -------------------------------------

std::set<std::string> listing(const std::string& dir) {
    std::set<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..") names.insert(name);
        }
        ::closedir(d);
    }
    return names;
}

bool is_directory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string escaped(const std::string& path) {
    std::string out;
    for (char ch : path) {
        if (ch == '\\' || ch == '"') out += '\\';
        out += ch;
    }
    return out;
}

// The rules every call keeps, whatever its input: no crash, no hang, start and progress
// documents only before exactly one final one, and an error code of the call's family.
// Returns the final record.
CallbackRecord check_outcome(const IsolatedOutcome& o, char family, bool may_progress) {
    EXPECT_TRUE(o.clean()) << o.describe();
    EXPECT_LT(o.seconds, kCallLimitSeconds) << o.describe();
    if (o.records.empty()) {
        ADD_FAILURE() << "no document: " << o.describe();
        return CallbackRecord{-1, ""};
    }
    for (size_t i = 0; i + 1 < o.records.size(); ++i) {
        const int32_t s = o.records[i].state;
        EXPECT_TRUE(may_progress && (s == STATE_START || s == STATE_PROGRESS)) << o.describe();
    }
    for (const CallbackRecord& r : o.records) EXPECT_TRUE(flat_json(r.document)) << r.document;
    const CallbackRecord& last = o.records.back();
    EXPECT_GE(last.state, STATE_DONE) << o.describe();
    if (last.state == STATE_DONE) {
        EXPECT_EQ(json_field(last.document, "errnum"), "<missing>") << o.describe();
    } else {
        const std::string code = json_field(last.document, "errnum");
        static const std::set<std::string> endings = {"0000", "0001", "0003", "0004", "9999"};
        EXPECT_TRUE(code.size() == 5 && code[0] == family && endings.count(code.substr(1)) == 1)
            << "errnum " << code << " is not of family " << family << "xxxx: " << o.describe();
    }
    return last;
}

// Runs a call whose only output may be `output` in a fresh directory, and checks that the
// input stays as it was and that nothing but a successful output is left there.
struct CallRun {
    IsolatedOutcome outcome;
    CallbackRecord final;
};

CallRun run_call(const std::string& input, const std::string& out_dir, const std::string& output,
                 char family, bool may_progress, const std::function<void()>& call) {
    const bool input_is_dir = is_directory(input);
    const std::string before = input_is_dir ? "" : read_file(input);
    std::set<std::string> allowed = listing(out_dir);
    CallRun run;
    run.outcome = IsolatedCall::run(call, kCallLimitSeconds);
    run.final = check_outcome(run.outcome, family, may_progress);
    if (input_is_dir) {
        EXPECT_TRUE(is_directory(input)) << "the input directory is gone";
    } else {
        EXPECT_TRUE(read_file(input) == before) << "the call changed its input " << input;
    }
    const std::string name = output.substr(output.rfind('/') + 1);
    if (run.final.state == STATE_DONE) allowed.insert(name);
    const std::set<std::string> left = listing(out_dir);
    for (const std::string& f : left) {
        EXPECT_EQ(allowed.count(f), 1u) << "left behind: " << f << " after " << run.final.document;
    }
    return run;
}

int32_t export_pair(const char* in1, const char* in2, const char* out, const char* cancel,
                    ProgressCallback cb) {
    return ORBV_export(in1, in2, out, nullptr, 64, 32, 0, 0.0f, 0.0f, -99999999, -99999999,
                       -99999999, -99999999, -99999999, -99999999, 0.0f, 0.0f, -1.0f, -1.0f, 0,
                       "2024:05:17 10:30:00", cancel, cb);
}

// The camera shots and plain lens files, made once for the whole program.
void make_material() {
    if (material != nullptr) return;
    static std::unique_ptr<Material> owner(new Material);
    material = owner.get();
    Material& m = *material;
    orbv_sample::ShotOptions o;
    o.lens_width = kLens;
    o.frames = 3;
    o.name = "movie";
    m.movies = orbv_sample::make_shot(m.dir.path(), o);
    o.stills = true;
    o.name = "still";
    m.stills = orbv_sample::make_shot(m.dir.path(), o);

    orbv_sample::LensRenderer renderer(kLens);
    orbv_sample::MovieOptions movie;
    movie.width = movie.height = kLens;
    movie.frames = 3;
    movie.with_camera = false;
    movie.picture = [&renderer](int frame) { return renderer.render(1, frame); };
    m.plain_movie = m.dir.file("plain.mov");
    orbv_sample::write_movie(m.plain_movie, movie);
    m.plain_still = m.dir.file("plain.jpg");
    orbv_sample::write_still(m.plain_still, renderer.render(1, 0), nullptr);
}

class HostileInput : public ::testing::TestWithParam<HostileCase> {
  protected:
    static void SetUpTestSuite() { make_material(); }

    // The hostile input, in a directory of its own.
    std::string make_input(const HostileCase& c) {
        const std::string path = inputs_.file(std::string("hostile") + (c.still ? ".jpg" : ".mov"));
        if (c.directory) {
            EXPECT_EQ(::mkdir(path.c_str(), 0755), 0);
            write_file(path + "/inside", "a file inside the directory");
        } else {
            write_file(path, c.bytes());
        }
        return path;
    }

    std::string fresh_dir(const std::string& name) {
        const std::string d = outputs_.file(name);
        EXPECT_EQ(::mkdir(d.c_str(), 0755), 0);
        return d;
    }

    TempDir inputs_;
    TempDir outputs_;
};

TEST_P(HostileInput, EveryCallAnswersOnceWithinItsFamily) {
    const HostileCase& c = GetParam();
    const std::string input = make_input(c);
    const char* p = input.c_str();

    // Analysis without a thumbnail: the case's own expectation.
    {
        const std::string dir = fresh_dir("analysis");
        const CallRun r = run_call(input, dir, dir + "/none", '1', false, [p] {
            ORBV_analyze_image(p, nullptr, 0, 0, &IsolatedCall::callback);
        });
        const std::string& doc = r.final.document;
        EXPECT_EQ(json_field(doc, "movie_path"), escaped(input)) << doc;
        const Expect& e = c.expect;
        if (std::string(e.analysis) == "done") {
            ASSERT_EQ(r.final.state, STATE_DONE) << doc;
            EXPECT_EQ(json_field(doc, "type"), c.still ? "JPEG" : "MOVIE") << doc;
            if (e.width >= 0) {
                EXPECT_EQ(json_field(doc, "width"), std::to_string(e.width)) << doc;
            }
            if (e.target >= 0) {
                EXPECT_EQ(json_field(doc, "isTarget"), e.target ? "true" : "false") << doc;
            }
            if (e.software != nullptr) {
                EXPECT_EQ(json_field(doc, "youtube360_maker"), e.software) << doc;
            }
        } else if (std::string(e.analysis) != "any") {
            EXPECT_EQ(r.final.state, STATE_FAILED) << doc;
            EXPECT_EQ(json_field(doc, "errnum"), e.analysis) << doc;
        }
    }
    // Analysis with a thumbnail, written whatever the camera.
    {
        const std::string dir = fresh_dir("thumbnail");
        const std::string thumb = dir + "/thumb.jpg";
        const char* t = thumb.c_str();
        const CallRun r = run_call(input, dir, thumb, '1', false, [p, t] {
            ORBV_analyze_image(p, t, 32, 1, &IsolatedCall::callback);
        });
        if (r.final.state == STATE_DONE) {
            EXPECT_EQ(json_field(r.final.document, "createdThumbnail"), "true");
            EXPECT_EQ(read_file(thumb).substr(0, 2), "\xFF\xD8") << r.final.document;
        }
    }
    // Audio extraction.
    {
        const std::string dir = fresh_dir("audio");
        const std::string sound = dir + "/sound.wav";
        const char* s = sound.c_str();
        const CallRun r = run_call(input, dir, sound, '2', true, [p, s] {
            ORBV_get_audio(p, s, 0, nullptr, &IsolatedCall::callback);
        });
        EXPECT_EQ(json_field(r.final.document, "audio_path"), escaped(sound));
        if (c.expect.audio_ok >= 0) {
            EXPECT_EQ(r.final.state, c.expect.audio_ok ? STATE_DONE : STATE_FAILED)
                << r.final.document;
        }
    }
    // Export with the hostile file as either lens of a good pair.
    const orbv_sample::Shot& partner = c.still ? material->stills : material->movies;
    for (int lens = 1; lens <= 2; ++lens) {
        const std::string dir = fresh_dir("export" + std::to_string(lens));
        const std::string out = dir + (c.still ? "/pano.jpg" : "/pano.mov");
        const std::string in1 = lens == 1 ? input : partner.lens1;
        const std::string in2 = lens == 2 ? input : partner.lens2;
        const char *a = in1.c_str(), *b = in2.c_str(), *o = out.c_str();
        const CallRun r = run_call(input, dir, out, '3', true, [a, b, o] {
            export_pair(a, b, o, nullptr, &IsolatedCall::callback);
        });
        EXPECT_EQ(json_field(r.final.document, "export_path"), escaped(out));
        if (c.expect.export_ok >= 0) {
            EXPECT_EQ(r.final.state, c.expect.export_ok ? STATE_DONE : STATE_FAILED)
                << r.final.document;
        }
    }
}

std::vector<HostileCase> all_cases() {
    std::vector<HostileCase> c = still_cases();
    for (HostileCase& m : movie_cases()) c.push_back(std::move(m));
    return c;
}

INSTANTIATE_TEST_SUITE_P(Catalogue, HostileInput, ::testing::ValuesIn(all_cases()),
                         [](const ::testing::TestParamInfo<HostileCase>& info) {
                             return info.param.name;
                         });

// --- Hostile names -----------------------------------------------------------------------------

class HostileNames : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { make_material(); }

    // A copy of `source` under `name` in the input directory.
    std::string copy_as(const std::string& source, const std::string& name) {
        const std::string path = inputs_.file(name);
        write_file(path, read_file(source));
        return path;
    }

    TempDir inputs_;
    TempDir outputs_;
};

// Quotes, backslashes and bytes that are not UTF-8 reach the file system unchanged and every
// document escaped; the outputs appear under exactly the names given.
TEST_F(HostileNames, QuotesBackslashesAndBytesThatAreNotUtf8) {
    const std::string odd = "q\"b\\\\n\xff\xfe\xc3(";
    const std::string still = copy_as(material->stills.lens1, "s" + odd + ".jpg");
    const std::string movie1 = copy_as(material->movies.lens1, "m1" + odd + ".mov");
    const std::string movie2 = copy_as(material->movies.lens2, "m2" + odd + ".MOV");
    const std::string out = outputs_.path();

    const std::string thumb = out + "/t" + odd + ".jpg";
    const char *s = still.c_str(), *t = thumb.c_str();
    CallRun r = run_call(still, out, thumb, '1', false,
                         [s, t] { ORBV_analyze_image(s, t, 32, 0, &IsolatedCall::callback); });
    ASSERT_EQ(r.final.state, STATE_DONE) << r.final.document;
    EXPECT_EQ(json_field(r.final.document, "movie_path"), escaped(still));
    EXPECT_EQ(json_field(r.final.document, "thumbnail_path"), escaped(thumb));
    EXPECT_EQ(read_file(thumb).substr(0, 2), "\xFF\xD8");

    // A name FFmpeg knows no muxer for: the layer's message names the path, escaped too.
    const std::string unknown = out + "/t" + odd + ".unknownext";
    const char* u = unknown.c_str();
    r = run_call(still, out, unknown, '1', false,
                 [s, u] { ORBV_analyze_image(s, u, 32, 0, &IsolatedCall::callback); });
    EXPECT_EQ(r.final.state, STATE_FAILED);
    EXPECT_EQ(json_field(r.final.document, "api_errstr"),
              "Colud Not Open OutputFile:" + escaped(unknown))
        << r.final.document;

    const std::string sound = out + "/a" + odd + ".wav";
    const char *m = movie1.c_str(), *a = sound.c_str();
    r = run_call(movie1, out, sound, '2', true,
                 [m, a] { ORBV_get_audio(m, a, 0, nullptr, &IsolatedCall::callback); });
    ASSERT_EQ(r.final.state, STATE_DONE) << r.final.document;
    EXPECT_EQ(json_field(r.final.document, "audio_path"), escaped(sound));
    EXPECT_EQ(read_file(sound).substr(0, 4), "RIFF");

    const std::string pano = out + "/p" + odd + ".mov";
    const char *m2 = movie2.c_str(), *p = pano.c_str();
    r = run_call(movie1, out, pano, '3', true,
                 [m, m2, p] { export_pair(m, m2, p, nullptr, &IsolatedCall::callback); });
    ASSERT_EQ(r.final.state, STATE_DONE) << r.final.document;
    EXPECT_EQ(json_field(r.final.document, "movie_path2"), escaped(movie2));
    EXPECT_EQ(json_field(r.final.document, "export_path"), escaped(pano));
    EXPECT_GT(read_file(pano).size(), 1000u);

    EXPECT_GT(ORBV_freesize(still.c_str()), 0);
    EXPECT_EQ(ORBV_freesize((out + "/missing" + odd + "/x.mov").c_str()), -1);
}

// An output name held by a directory: the call fails in its family and the directory, with
// what it holds, survives the clean-up of the failed output.
TEST_F(HostileNames, OutputsNamedLikeExistingDirectories) {
    const std::string out = outputs_.path();
    for (const char* name : {"thumb.jpg", "sound.wav", "pano.mov"}) {
        ASSERT_EQ(::mkdir((out + "/" + name).c_str(), 0755), 0);
        write_file(out + "/" + name + "/keep", "kept");
    }
    const std::string thumb = out + "/thumb.jpg", sound = out + "/sound.wav",
                      pano = out + "/pano.mov";
    const std::string& m1 = material->movies.lens1;
    const std::string& m2 = material->movies.lens2;
    const char *a = m1.c_str(), *b = m2.c_str();
    const char *t = thumb.c_str(), *s = sound.c_str(), *p = pano.c_str();

    CallRun r = run_call(m1, out, thumb, '1', false,
                         [a, t] { ORBV_analyze_image(a, t, 32, 1, &IsolatedCall::callback); });
    EXPECT_EQ(r.final.state, STATE_FAILED) << r.final.document;
    r = run_call(m1, out, sound, '2', true,
                 [a, s] { ORBV_get_audio(a, s, 0, nullptr, &IsolatedCall::callback); });
    EXPECT_EQ(r.final.state, STATE_FAILED) << r.final.document;
    r = run_call(m1, out, pano, '3', true,
                 [a, b, p] { export_pair(a, b, p, nullptr, &IsolatedCall::callback); });
    EXPECT_EQ(r.final.state, STATE_FAILED) << r.final.document;
    for (const char* name : {"thumb.jpg", "sound.wav", "pano.mov"}) {
        EXPECT_EQ(read_file(out + "/" + name + "/keep"), "kept") << name;
    }
}

// A cancel file in a directory that does not exist can never appear: the work runs to its end.
TEST_F(HostileNames, CancelPathInAMissingDirectory) {
    const std::string out = outputs_.path();
    const std::string cancel = out + "/no/such/directory/cancel";
    const std::string sound = out + "/sound.wav", pano = out + "/pano.mov";
    const std::string& m1 = material->movies.lens1;
    const std::string& m2 = material->movies.lens2;
    const char *a = m1.c_str(), *b = m2.c_str(), *c = cancel.c_str();
    const char *s = sound.c_str(), *p = pano.c_str();
    CallRun r = run_call(m1, out, sound, '2', true,
                         [a, s, c] { ORBV_get_audio(a, s, 0, c, &IsolatedCall::callback); });
    EXPECT_EQ(r.final.state, STATE_DONE) << r.final.document;
    r = run_call(m1, out, pano, '3', true,
                 [a, b, p, c] { export_pair(a, b, p, c, &IsolatedCall::callback); });
    EXPECT_EQ(r.final.state, STATE_DONE) << r.final.document;
    EXPECT_EQ(listing(out), (std::set<std::string>{"sound.wav", "pano.mov"}));
}

// The optional seam band image: whatever stands at its path, the export goes on without a
// band it cannot use and finishes.
TEST_F(HostileNames, SeamBandImagesThatCannotServe) {
    const std::string& m1 = material->movies.lens1;
    const std::string& m2 = material->movies.lens2;
    std::vector<std::string> bands = {inputs_.file("missing.png"), inputs_.path()};
    auto band_file = [&](const std::string& name, const std::string& bytes) {
        write_file(inputs_.file(name), bytes);
        bands.push_back(inputs_.file(name));
    };
    band_file("empty.png", "");
    band_file("text.png", "not a picture");
    band_file("tiny.png", png_bytes());
    band_file("cut.jpg", read_file(material->stills.lens1).substr(0, 300));
    bands.push_back(material->movies.lens1);  // a movie: its first picture, of the wrong size
    const std::string out = outputs_.path();
    const std::string pano = out + "/pano.mov";
    for (const std::string& band : bands) {
        SCOPED_TRACE(band);
        const char *a = m1.c_str(), *b = m2.c_str(), *p = pano.c_str(), *s = band.c_str();
        const CallRun r = run_call(m1, out, pano, '3', true, [a, b, p, s] {
            ORBV_export(a, b, p, s, 64, 32, 0, 0.0f, 0.0f, -99999999, -99999999, -99999999,
                        -99999999, -99999999, -99999999, 0.0f, 0.0f, -1.0f, -1.0f, 0,
                        "2024:05:17 10:30:00", nullptr, &IsolatedCall::callback);
        });
        EXPECT_EQ(r.final.state, STATE_DONE) << r.final.document;
        std::remove(pano.c_str());
    }
}

// Allocates and forgets a block, out of the optimiser's sight.
void* volatile g_lost = nullptr;
__attribute__((noinline)) void lose_memory() {
    g_lost = std::malloc(4096);
    g_lost = nullptr;
}

// The harness itself: a crash, a hang and a thrown exception in the child are told apart
// from a clean end, and the documents sent before a crash still arrive.
TEST(IsolatedCallHarness, TellsCrashesAndHangsFromCleanEnds) {
    IsolatedOutcome o = IsolatedCall::run([] {
        IsolatedCall::callback(STATE_START, "{\"a\":1}");
        IsolatedCall::callback(STATE_DONE, "{\"b\":2}");
    });
    EXPECT_TRUE(o.clean()) << o.describe();
    ASSERT_EQ(o.records.size(), 2u);
    EXPECT_EQ(o.records[1].state, STATE_DONE);
    EXPECT_EQ(o.records[1].document, "{\"b\":2}");

    o = IsolatedCall::run([] {
        IsolatedCall::callback(STATE_PROGRESS, "{}");
        std::abort();
    });
    EXPECT_FALSE(o.clean());
    EXPECT_EQ(o.signal, SIGABRT) << o.describe();
    EXPECT_EQ(o.records.size(), 1u);

    o = IsolatedCall::run(
        [] {
            for (;;) ::pause();
        },
        0.5);
    EXPECT_TRUE(o.timed_out) << o.describe();
    EXPECT_FALSE(o.clean());

    o = IsolatedCall::run([] { throw std::runtime_error("x"); });
    EXPECT_EQ(o.exit_code, IsolatedCall::kBodyThrewExit) << o.describe();

    // Memory lost in the child fails it where the build can tell.
    o = IsolatedCall::run([] { lose_memory(); });
    EXPECT_EQ(o.exit_code, IsolatedCall::checks_leaks() ? IsolatedCall::kLeakExit : 0)
        << o.describe();
}

}  // namespace
