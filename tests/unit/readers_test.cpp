// The metadata readers on blocks and files crafted byte by byte, one table each: what the EXIF
// reader, the JPEG segment reader and the MOV atom reader take from well-formed input, and that
// nothing outside a block, a segment or an atom is ever read or handed out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "metadata/exif_info.h"
#include "metadata/jpeg_file.h"
#include "metadata/mov_file.h"
#include "support/fixtures.h"
#include "support/test_support.h"
#include "util/error.h"

namespace {

using namespace orbv_test;

std::string text(const orbv::OwnedText& t) { return t ? t.get() : "-"; }

// The fields read from a block, parsed from an exactly sized heap copy so that the sanitizer build
// catches any read past its end: maker|model|datetime|orientation|capture mode|
// multi-capture|camera orientation.
std::string exif(const std::string& block) {
    const std::vector<uint8_t> bytes(block.begin(), block.end());
    testing::internal::CaptureStderr();
    const orbv::ExifInfo e(bytes.empty() ? nullptr : bytes.data(), bytes.size());
    testing::internal::GetCapturedStderr();
    return text(e.maker) + "|" + text(e.model) + "|" + text(e.datetime) + "|" +
           std::to_string(e.orientation) + "|" + std::to_string(e.capture_mode) + "|" +
           std::to_string(e.multi_capture) + "|" + std::to_string(e.camera_orientation);
}

const std::string kUnset = "-|-|-|-1|-1|-1|-1";
std::string tiff(uint32_t first) { return ByteWriter().raw("MM").u16(42).u32(first).str(); }

// A camera still's block: IFD0 (Make, Model in its value field, Orientation, Exif pointer), the
// Exif directory (DateTimeOriginal, MakerNote) and the "ORX" maker note.
std::string camera_tiff() {
    const std::string note = std::string("ORX\0\0\0", 6) + ifd({{0x3000, SHORT, 1, 2u << 16},
                                                                {0x6300, LONG, 1, 0xFFFFFFF0},
                                                                {0x6301, BYTE, 1, 0xC8000000}});
    const std::string texts = std::string("ORBV Corp\0", 10) + "2021:03:04 05:06:07" + '\0';
    const uint32_t note_at = 8 + 30, exif_at = note_at + static_cast<uint32_t>(note.size());
    const uint32_t ifd0 = exif_at + 2 + 24 + 4;
    return tiff(ifd0) + texts + note +
           ifd({{0x9003, ASCII, 20, 18}, {0x927C, UNDEFINED, 64, note_at}}) +
           ifd({{0x010F, ASCII, 10, 8},
                {0x0110, ASCII, 3, 0x56310000},
                {0x0112, SHORT, 1, 6u << 16},
                {0x8769, LONG, 1, exif_at}});
}

TEST(Readers, ExifBlocks) {
    const uint32_t note = 8 + 2 + 4 * 12 + 4;  // after a directory of four entries at 8
    const std::vector<std::pair<std::string, std::string>> table = {
        {camera_tiff(), "ORBV Corp|V1|2021:03:04 05:06:07|6|2|4294967280|200"},
        // The maker's movie block holds the maker note's values in its first directory; a count of
        // 2 takes the first value.
        {ByteWriter().raw("ORVM").u16(0xBEEF).u32(10).str() + ifd({{0x3000, SHORT, 2, 0x00030009},
                                                                   {0x6300, LONG, 1, 5},
                                                                   {0x6301, BYTE, 1, 1u << 24}}),
         "-|-|-|-1|3|5|1"},
        // Little-endian: every number low byte first, the text offset and the maker note's walk
        // included.
        {std::string("II*\0\x08\0\0\0\x04\0", 10) +
             std::string("\x0F\x01\x02\0\x04\0\0\0Abc\0", 12) +
             std::string("\x10\x01\x02\0\x09\0\0\0\x52\0\0\0", 12) +
             std::string("\x12\x01\x03\0\x01\0\0\0\x07\0\0\0", 12) +
             std::string("\x7C\x92\x07\0\x04\0\0\0\x3E\0\0\0", 12) + std::string(4, '\0') +
             std::string("ORX\0\0\0\x01\0\x00\x30\x03\0\x01\0\0\0\x81\0\0\0", 20) +
             std::string("LE Model\0", 9),
         "Abc|LE Model|-|7|129|-1|-1"},
        {"MM", kUnset},
        {std::string("ORVM\0\0\0", 7), kUnset},
        {tiff(8) + ifd({{0x0112, SHORT, 1, 1u << 16}}, 0x8000), kUnset},
        {tiff(8) + ifd({{0x0112, SHORT, 1, 1u << 16}}, 0xFFFF), kUnset},
        {tiff(0x7FFFFFF0), kUnset},
        // Values and directories outside are skipped; the count promises 50 entries, of which five
        // are in the block, the last cut short.
        {tiff(8) + ByteWriter().u16(50).str() +
             ifd({{0x010F, ASCII, ~0u, 8},
                  {0x0110, ASCII, 16, 0xFFFFFFF8},
                  {0x8769, LONG, 1, ~1u},
                  {0x927C, UNDEFINED, 4, 0xFFFFFFFD},
                  {0x0112, SHORT, 1, 8u << 16}})
                 .substr(2, 60) +
             std::string("\x01\x12\x00", 3),
         "-|-|-|8|-1|-1|-1"},
        {tiff(8) + ifd({{0x927C, UNDEFINED, 4, 26}}) + std::string("ORX\0", 4), kUnset},
        // Directories that lead back (IFD0 its own Exif directory, a maker note naming IFD0) are
        // walked once.
        {tiff(8) +
             ifd({{0x8769, LONG, 1, 8},
                  {0x927C, UNDEFINED, 4, note},
                  {0x6300, LONG, 1, 11},
                  {0x0112, SHORT, 1, 1u << 16}}) +
             std::string("ORX\0\0\0", 6) +
             ifd({{0x8769, LONG, 1, 8}, {0x927C, UNDEFINED, 4, note}}),
         "-|-|-|1|-1|11|-1"},
    };
    for (size_t i = 0; i < table.size(); ++i) EXPECT_EQ(exif(table[i].first), table[i].second) << i;
}

// A reader's two results: the payload it hands out, its error text when it finds none, "throw" when
// it throws.
template <class File, class Text>
std::string reads(const std::string& bytes, const char* name,
                  int32_t (File::*block)(const uint8_t**, size_t*), int32_t (File::*xml)(Text)) {
    TempDir dir;
    write_file(dir.file(name), bytes);
    File file(dir.file(name).c_str(), false);
    std::string out;
    testing::internal::CaptureStderr();
    try {
        const uint8_t* b = nullptr;
        size_t size = 0;
        out = (file.*block)(&b, &size) == 0 ? std::string(reinterpret_cast<const char*>(b), size)
                                            : file.error_text();
    } catch (const orbv::Error&) {
        out = "throw";
    }
    try {
        const char* t = nullptr;
        out += "|" + ((file.*xml)(&t) == 0 ? std::string(t) : std::string(file.error_text()));
    } catch (const orbv::Error&) {
        out += "|throw";
    }
    testing::internal::GetCapturedStderr();
    return out;
}

TEST(Readers, JpegSegments) {
    const std::string soi("\xFF\xD8", 2), tiff("MM\0\x2A\0\0\0\x08\0\0", 10);
    const std::string exif = segment(0xE1, std::string("Exif\0\0", 6) + tiff);
    auto xmp = [](const std::string& t) {
        return segment(0xE1, std::string(orbv::kXmpSignature, orbv::kXmpSignatureSize) + t);
    };
    const std::string scan =
        segment(0xDA, std::string("\x01\x01\x00\x00\x3F\x00", 6)) + "\x12\x34\xFF\xD9";
    std::string cut =
        soi + xmp("<kept/>") + segment(0xE1, std::string("Exif\0\0", 6) + std::string(4000, 'x'));
    cut.resize(cut.size() - 100);
    const std::string no_exif = "Exif Not Found", no_xmp = "XMP Not Found";
    const std::string none = "APP1(0xFFE1) MAKER not Found|APP1(0xFFE1) MAKER not Found";
    const std::vector<std::pair<std::string, std::string>> table = {
        {soi + segment(0xE0, "JFIF") + exif + scan, tiff + "|" + no_xmp},
        {soi + exif + xmp("<x>1</x>") + scan, tiff + "|<x>1</x>"},
        {soi + std::string("\xFF\xE0\x00\x01", 4) + exif + scan, none},  // length below 2
        // Payloads shorter than their signatures, then signature-sized ones.
        {soi + segment(0xE1, std::string("Exif\0", 5)) +
             segment(0xE1, std::string(orbv::kXmpSignature, 28)) + scan,
         no_exif + "|" + no_xmp},
        {soi + segment(0xE1, std::string("Exif\0\0", 6)) + xmp("") + scan, "|"},
        {cut, no_exif + "|<kept/>"},  // the segment running past the end is not recorded
        {soi, none},
        {soi + std::string("\xFF\xE1\x00", 3), none},
    };
    for (size_t i = 0; i < table.size(); ++i) {
        EXPECT_EQ(
            reads(table[i].first, "s.jpg", &orbv::JpegFile::exif_data, &orbv::JpegFile::xmp_data),
            table[i].second)
            << i;
    }
}

// A track header with its alternate group at payload offset 34 (version 0) or, its times and
// duration 64 bits wide, at 46 (version 1).
std::string tkhd(uint16_t group, char version = 0) {
    const std::string group_field = ByteWriter().u16(group).str();
    return atom("tkhd", version
                            ? version + std::string(45, '\0') + group_field + std::string(48, '\0')
                            : std::string(34, '\0') + group_field + std::string(48, '\0'));
}
std::string trak(uint16_t group, const std::string& children, char version = 0) {
    return atom("trak", tkhd(group, version) + atom("mdia", std::string(24, '\0')) + children);
}
const std::string kSphericalId(reinterpret_cast<const char*>(orbv::kSphericalUuid), 16);
std::string spherical(const std::string& xml) { return atom("uuid", kSphericalId + xml); }

TEST(Readers, MovAtoms) {
    const std::string block =
        ByteWriter().raw("ORVM").u16(0).u32(10).str() + ifd({{0x6300, LONG, 1, 7}});
    const std::string orvm = atom("ORVM", block), udta = atom("udta", orvm);
    const std::string moov =
        atom("moov", atom("mvhd", std::string(100, '\0')) + trak(0, spherical("<xml/>")) + udta);
    const std::string ftyp = atom("ftyp", std::string("qt  \0\0\0\0qt  ", 12));
    const std::string mdat = atom("mdat", std::string(300, 'U'));
    const std::string wide = atom64("mdat", std::string(300, 'U'));
    const std::string found = block + "|<xml/>", no_moov = "Not Found moov atom";
    const std::string no_udta = "Not Found udta atom", no_orvm = "Not Found ORVM atom";
    auto twice = [](const std::string& error) { return error + "|" + error; };  // exif, then xml
    std::string big_orvm = orvm, long_uuid = spherical("<x/>"), cut = moov;
    big_orvm[3] = static_cast<char>(big_orvm[3] + 40);
    long_uuid[3] = static_cast<char>(long_uuid[3] + 1);
    cut.pop_back();
    const std::vector<std::pair<std::string, std::string>> table = {
        {ftyp + mdat + moov, found},
        {ftyp + moov + wide, found},
        // Some writers end udta with a 32-bit zero: the search ends there.
        {atom("moov", atom("udta", atom("meta", "") + std::string(4, '\0'))), twice(no_orvm)},
        {atom("moov", trak(0, spherical(""))), twice(no_udta)},
        {atom("moov", trak(0, atom("uuid", kSphericalId.substr(0, 8)))), twice(no_udta)},
        // Sizes below their header break the top level with a throw, and only there.
        {ByteWriter().u32(0).raw("free").raw(moov).str(), "throw|throw"},
        {ByteWriter().u32(4).raw("free").raw(moov).str(), "throw|throw"},
        {ByteWriter().u32(1).raw("free").u64(15).raw(moov).str(), "throw|throw"},
        {atom("moov", ByteWriter().u32(0).raw("free").str() + udta),
         twice("this file broken. not read mov offset.")},
        // Atoms claiming more than their bound are not handed out.
        {ByteWriter().u32(0xFFFFFFF0).raw("mdat").raw(moov).str(), twice(no_moov)},
        {ByteWriter().u32(1).raw("mdat").u64(~0ULL).raw(moov).str(), twice(no_moov)},
        {atom("moov", atom("udta", big_orvm)) + std::string(100, '\0'), twice(no_orvm)},
        {atom("moov", trak(0, long_uuid) + atom("free", "12")), twice(no_udta)},
        {cut, twice(no_moov)},
        // The group of a version-1 header, 1 here, is read at 46: the second trak wins.
        {atom("moov", trak(1, spherical("<1/>"), 1) + trak(0, spherical("<2/>"))),
         no_udta + "|<2/>"},
        // A track header too short for its group counts as group -1: the second trak wins.
        {atom("moov", atom("trak", atom("tkhd", std::string(20, '\0')) + spherical("<1/>")) +
                          trak(0, spherical("<2/>"))),
         no_udta + "|<2/>"},
    };
    for (size_t i = 0; i < table.size(); ++i) {
        EXPECT_EQ(
            reads(table[i].first, "m.mov", &orbv::MovFile::exif_data, &orbv::MovFile::xml_data),
            table[i].second)
            << i;
    }
}

}  // namespace
