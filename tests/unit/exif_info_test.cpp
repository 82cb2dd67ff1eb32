// ExifInfo on TIFF and ORVM blocks built byte by byte, well-formed and hostile.
#include "metadata/exif_info.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/byte_writer.h"

using orbv::ExifHeader;
using orbv::ExifInfo;
using orbv_test::ByteWriter;

namespace {

std::string entry(uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
    return ByteWriter().u16(tag).u16(type).u32(count).u32(value).str();
}

// An entry whose value field holds up to four bytes itself.
std::string inline_entry(uint16_t tag, uint16_t type, uint32_t count, const std::string& four) {
    std::string field = four;
    field.resize(4, '\0');
    return ByteWriter().u16(tag).u16(type).u32(count).raw(field).str();
}

std::string short_value(uint16_t v) { return ByteWriter().u16(v).str(); }

// A directory: count, entries, and a link to a next directory (never followed).
std::string ifd(const std::vector<std::string>& entries, uint32_t next = 0) {
    ByteWriter w;
    w.u16(static_cast<uint16_t>(entries.size()));
    for (const std::string& e : entries) w.raw(e);
    return w.u32(next).str();
}

// Parses from an exactly sized heap copy, so the sanitizer build catches any over-read.
struct Parsed {
    explicit Parsed(const std::string& block) : bytes(block.begin(), block.end()) {
        testing::internal::CaptureStderr();
        info = std::make_unique<ExifInfo>(bytes.empty() ? nullptr : bytes.data(), bytes.size());
        log = testing::internal::GetCapturedStderr();
    }
    std::vector<uint8_t> bytes;
    std::unique_ptr<ExifInfo> info;
    std::string log;
};

void expect_unset(const ExifInfo& e) {
    EXPECT_EQ(e.maker, nullptr);
    EXPECT_EQ(e.model, nullptr);
    EXPECT_EQ(e.datetime, nullptr);
    EXPECT_EQ(e.orientation, -1);
    EXPECT_EQ(e.capture_mode, -1);
    EXPECT_EQ(e.multi_capture, -1);
    EXPECT_EQ(e.camera_orientation, -1);
}

// A camera still's block: IFD0 (Make, Model, Orientation, Exif pointer), the Exif directory
// (DateTimeOriginal, MakerNote) and the "ORX" maker note with the three values.
std::string camera_tiff() {
    ByteWriter b;
    b.raw("MM").u16(42).u32(0);
    const size_t make = b.size();
    b.raw(std::string("ORBV Corp", 10));
    const size_t date = b.size();
    b.raw(std::string("2021:03:04 05:06:07", 20));
    const size_t note = b.size();
    b.raw(std::string("ORX\0\0\0", 6))
        .raw(ifd({inline_entry(0x3000, 3, 1, short_value(2)), entry(0x6300, 4, 1, 0xFFFFFFF0),
                  inline_entry(0x6301, 1, 1, "\xC8")}));
    const size_t exif = b.size();
    b.raw(ifd({entry(0x9003, 2, 20, static_cast<uint32_t>(date)),
               entry(0x927C, 7, 64, static_cast<uint32_t>(note))}));
    const size_t ifd0 = b.size();
    b.raw(ifd({entry(0x010F, 2, 10, static_cast<uint32_t>(make)),
               inline_entry(0x0110, 2, 4, std::string("V1\0", 3)),
               inline_entry(0x0112, 3, 1, short_value(6)),
               entry(0x8769, 4, 1, static_cast<uint32_t>(exif))}));
    b.set_u32(4, static_cast<uint32_t>(ifd0));
    return b.str();
}

}  // namespace

TEST(ExifInfo, CameraTiffBlockFillsEveryFieldThroughExifAndMakerNote) {
    const std::string block = camera_tiff();
    Parsed p(block);
    const ExifInfo& e = *p.info;
    EXPECT_EQ(e.header, ExifHeader::kTiff);
    EXPECT_STREQ(e.maker.get(), "ORBV Corp");
    EXPECT_STREQ(e.model.get(), "V1");  // four bytes in the value field itself
    EXPECT_EQ(e.orientation, 6);
    EXPECT_STREQ(e.datetime.get(), "2021:03:04 05:06:07");
    EXPECT_EQ(e.capture_mode, 2);
    EXPECT_EQ(e.multi_capture, 4294967280LL);  // unsigned, widened
    EXPECT_EQ(e.camera_orientation, 200);
    EXPECT_EQ(e.first_offset, orbv_test::get_u32(block, 4));
    EXPECT_EQ(p.log,
              "[exif] TIFF Header\n[exif] start offset:" + std::to_string(e.first_offset) + "\n");
}

TEST(ExifInfo, MakerBlockCarriesMakerNoteValuesInItsFirstDirectory) {
    ByteWriter b;
    b.raw("ORVM").u16(0xBEEF).u32(10);  // bytes 4-5 are not interpreted
    b.raw(ifd({inline_entry(0x3000, 3, 2, short_value(3) + short_value(9)), entry(0x6300, 4, 1, 5),
               inline_entry(0x6301, 1, 1, "\x01")}));
    Parsed p(b.str());
    EXPECT_EQ(p.info->header, ExifHeader::kMakerBlock);
    EXPECT_EQ(p.info->capture_mode, 3);  // count 2 takes the first value
    EXPECT_EQ(p.info->multi_capture, 5);
    EXPECT_EQ(p.info->camera_orientation, 1);
    EXPECT_EQ(p.log, "[exif] ORVM Header\n[exif] start offset:10\n");
}

TEST(ExifInfo, AbsentOrForeignHeadersLeaveEverythingUnset) {
    Parsed none("");
    expect_unset(*none.info);
    EXPECT_EQ(none.log, "[exif] no exif data \n");

    std::string little = camera_tiff();
    little.replace(0, 4, std::string("II\x2A\0", 4));
    Parsed le(little);
    expect_unset(*le.info);
    EXPECT_EQ(le.info->header, ExifHeader::kNone);
    EXPECT_EQ(le.log, "[exif] other Header:2a4949\n[exif] no header\n");

    Parsed tiny("MM");  // shorter than a header
    expect_unset(*tiny.info);
    EXPECT_EQ(tiny.log, "[exif] other Header:4d4d\n[exif] no header\n");

    Parsed cut(std::string("ORVM\0\0\0", 7));  // offset field cut off
    EXPECT_EQ(cut.info->header, ExifHeader::kMakerBlock);
    EXPECT_EQ(cut.log, "[exif] ORVM Header\n[exif] no read_block\n");
}

TEST(ExifInfo, TagsAreTakenOnlyWithTheirTypeAndCount) {
    ByteWriter b;
    b.raw("MM").u16(42).u32(8);
    b.raw(ifd({
        inline_entry(0x0112, 3, 3, short_value(8)),          // SHORT count 3: ignored
        inline_entry(0x010F, 7, 4, std::string("AB\0", 3)),  // Make as UNDEFINED: ignored
        inline_entry(0x0110, 11, 4, "XY"),                   // type outside 1..10: skipped
        entry(0x3000, 4, 1, 7),                              // capture mode as LONG: ignored
        inline_entry(0x6301, 1, 2, "\x05\x06"),              // BYTE count 2: ignored
        inline_entry(0x9003, 2, 3, "d1"),                    // replaced by the next one
        inline_entry(0x9003, 2, 3, "d2"),
        inline_entry(0xABCD, 3, 1, short_value(1)),  // unknown tag
    }));
    Parsed p(b.str());
    EXPECT_EQ(p.info->orientation, -1);
    EXPECT_EQ(p.info->maker, nullptr);
    EXPECT_EQ(p.info->model, nullptr);
    EXPECT_EQ(p.info->capture_mode, -1);
    EXPECT_EQ(p.info->camera_orientation, -1);
    EXPECT_STREQ(p.info->datetime.get(), "d2");
}

TEST(ExifInfo, OnlyTheOrxMakerNoteAndTheExifPointerLeadFurther) {
    ByteWriter b;
    b.raw("MM").u16(42).u32(0);
    const size_t note = b.size();
    b.raw(std::string("OLY\0\0\0", 6)).raw(ifd({entry(0x6300, 4, 1, 9)}));
    const size_t thumb = b.size();
    b.raw(ifd({inline_entry(0x0112, 3, 1, short_value(3))}));
    const size_t ifd0 = b.size();
    b.raw(ifd({entry(0x927C, 7, 20, static_cast<uint32_t>(note))},
              static_cast<uint32_t>(thumb)));  // the next-directory link is never followed
    b.set_u32(4, static_cast<uint32_t>(ifd0));
    Parsed p(b.str());
    EXPECT_EQ(p.info->multi_capture, -1);
    EXPECT_EQ(p.info->orientation, -1);
}

TEST(ExifInfo, CountsOf0x8000AndMoreAreEmptyDirectories) {
    for (uint16_t count : {0xFFFF, 0x8000}) {
        ByteWriter b;
        b.raw("MM").u16(42).u32(8).u16(count).raw(inline_entry(0x0112, 3, 1, short_value(1)));
        Parsed p(b.str());
        EXPECT_EQ(p.info->orientation, -1) << count;
        EXPECT_EQ(p.log.find("no read_block"), std::string::npos);
    }
}

TEST(ExifInfo, NothingOutsideTheBlockIsRead) {
    // First directory beyond the end.
    Parsed far(ByteWriter().raw("MM").u16(42).u32(0x7FFFFFF0).str());
    EXPECT_EQ(far.log,
              "[exif] TIFF Header\n[exif] start offset:2147483632\n[exif] no read_block\n");

    // Values and directories beyond the end are skipped; the entries inside still count. The
    // count promises 50 entries, of which four are in the block.
    ByteWriter b;
    b.raw("MM").u16(42).u32(8).u16(50);
    b.raw(entry(0x010F, 2, 0xFFFFFFFF, 8))      // text far longer than the block
        .raw(entry(0x0110, 2, 16, 0xFFFFFFF8))  // offset + count wraps 32 bits
        .raw(entry(0x8769, 4, 1, 0xFFFFFFFE))   // directory outside
        .raw(entry(0x927C, 7, 4, 0xFFFFFFFD))   // maker note outside
        .raw(inline_entry(0x0112, 3, 1, short_value(8)))
        .raw("\x01\x12\x00");  // a partial entry at the very end
    Parsed p(b.str());
    EXPECT_EQ(p.info->maker, nullptr);
    EXPECT_EQ(p.info->model, nullptr);
    EXPECT_EQ(p.info->orientation, 8);

    // A maker note whose "ORX" signature sits at the very end: its directory is outside.
    ByteWriter n;
    n.raw("MM").u16(42).u32(8).raw(ifd({entry(0x927C, 7, 4, 26)})).raw(std::string("ORX\0", 4));
    Parsed q(n.str());
    EXPECT_EQ(q.info->multi_capture, -1);
}

TEST(ExifInfo, DirectoriesThatLeadBackAreWalkedOnce) {
    // IFD0 points to itself as its Exif directory; the maker note leads back to IFD0 too.
    ByteWriter b;
    b.raw("MM").u16(42).u32(8);
    const uint32_t ifd0 = 8;
    const uint32_t note = ifd0 + 2 + 4 * 12 + 4;
    b.raw(ifd({entry(0x8769, 4, 1, ifd0), entry(0x927C, 7, 4, note), entry(0x6300, 4, 1, 11),
               inline_entry(0x0112, 3, 1, short_value(1))}));
    b.raw(std::string("ORX\0", 4)).u16(0);  // its directory starts six bytes in
    b.raw(ifd({entry(0x8769, 4, 1, ifd0), entry(0x927C, 7, 4, note)}));
    Parsed p(b.str());
    EXPECT_EQ(p.info->multi_capture, 11);
    EXPECT_EQ(p.info->orientation, 1);
}
