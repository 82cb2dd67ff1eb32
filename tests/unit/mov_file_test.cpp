// MovFile's atom search, maker block and spherical XML on movies built atom by atom.
#include "metadata/mov_file.h"

#include <gtest/gtest.h>

#include <string>

#include "metadata/exif_info.h"
#include "support/byte_writer.h"
#include "support/test_support.h"
#include "util/error.h"

using orbv::MovFile;
using orbv_test::atom;
using orbv_test::atom64;
using orbv_test::ByteWriter;
using orbv_test::TempDir;

namespace {

const std::string kSphericalId(reinterpret_cast<const char*>(orbv::kSphericalUuid), 16);

// A version-0 track header payload with its alternate group at offset 34.
std::string tkhd(uint16_t group) {
    ByteWriter w;
    w.zeros(84);
    w.set_u16(34, group);
    return atom("tkhd", w.str());
}
std::string trak(uint16_t group, const std::string& children) {
    return atom("trak", tkhd(group) + atom("mdia", std::string(24, '\0')) + children);
}
std::string spherical(const std::string& xml) { return atom("uuid", kSphericalId + xml); }
// The maker's block: "ORVM", two bytes, the first directory's offset, a directory with the
// multi-capture value 7.
std::string orvm() {
    return atom("ORVM", ByteWriter()
                            .raw("ORVM")
                            .u16(0)
                            .u32(10)
                            .u16(1)
                            .u16(0x6300)
                            .u16(4)
                            .u32(1)
                            .u32(7)
                            .u32(0)
                            .str());
}
std::string mdat(bool wide) {
    return wide ? atom64("mdat", std::string(300, '\x55')) : atom("mdat", std::string(300, 'U'));
}
std::string ftyp() { return atom("ftyp", "qt  \0\0\0\0qt  "); }

struct Reads {
    int32_t exif_result = 0, xml_result = 0;
    std::string exif, xml, exif_err, log;
};

Reads read_both(const std::string& bytes) {
    TempDir dir;
    const std::string path = dir.file("movie.mov");
    orbv_test::write_file(path, bytes);
    MovFile mov(path.c_str(), false);
    Reads r;
    const uint8_t* block;
    size_t size;
    const char* text;
    testing::internal::CaptureStderr();
    r.exif_result = mov.exif_data(&block, &size);
    r.exif_err = mov.errstr;
    r.xml_result = mov.xml_data(&text);
    r.log = testing::internal::GetCapturedStderr();
    if (r.exif_result == 0) r.exif.assign(reinterpret_cast<const char*>(block), size);
    if (r.xml_result == 0) r.xml = text;
    return r;
}

bool logged(const Reads& r, const std::string& line) {
    return r.log.find(line + "\n") != std::string::npos;
}

// The thrown text of both reads on a file whose top-level walk breaks.
std::string thrown(const std::string& bytes) {
    TempDir dir;
    const std::string path = dir.file("broken.mov");
    orbv_test::write_file(path, bytes);
    MovFile mov(path.c_str(), false);
    std::string texts;
    testing::internal::CaptureStderr();
    const uint8_t* block;
    size_t size;
    const char* text;
    try {
        mov.exif_data(&block, &size);
    } catch (const orbv::Error& e) {
        texts += e.what();
    }
    texts += "|";
    try {
        mov.xml_data(&text);
    } catch (const orbv::Error& e) {
        texts += e.what();
    }
    testing::internal::GetCapturedStderr();
    return texts;
}

}  // namespace

TEST(MovFile, FindsBothPayloadsWithMoovBeforeOrAfterTheMediaData) {
    const std::string moov = atom("moov", atom("mvhd", std::string(100, '\0')) +
                                              trak(0, spherical("<xml/>")) + atom("udta", orvm()));
    for (bool moov_first : {false, true}) {
        for (bool wide : {false, true}) {
            const Reads r =
                read_both(ftyp() + (moov_first ? moov + mdat(wide) : mdat(wide) + moov));
            ASSERT_EQ(r.exif_result, 0) << moov_first << wide << r.log;
            EXPECT_EQ(r.exif, orvm().substr(8));  // the payload whole, its own "ORVM" included
            EXPECT_EQ(r.xml_result, 0);
            EXPECT_EQ(r.xml, "<xml/>");
            EXPECT_TRUE(logged(r, "[.mov .mp4 analyze] exif_data end"));
        }
    }
    const Reads r = read_both(ftyp() + mdat(true) + moov);
    const orbv::ExifInfo exif(reinterpret_cast<const uint8_t*>(r.exif.data()), r.exif.size());
    EXPECT_EQ(exif.multi_capture, 7);
}

TEST(MovFile, TheTrackWithGroupZeroHoldsTheXml) {
    const std::string sound_first = atom(
        "moov", trak(1, spherical("<sound/>")) + trak(0, spherical("<video/>")) + atom("udta", ""));
    EXPECT_EQ(read_both(mdat(false) + sound_first).xml, "<video/>");
    // The first track with group 0 is taken even when a later one has an XML too.
    const std::string video_first =
        atom("moov", trak(0, spherical("<first/>")) + trak(0, spherical("<second/>")));
    EXPECT_EQ(read_both(video_first).xml, "<first/>");
    // The second track is taken whatever its own group value.
    EXPECT_EQ(read_both(atom("moov", trak(2, "") + trak(3, spherical("<b/>")))).xml, "<b/>");
    const Reads lonely = read_both(atom("moov", trak(1, spherical("<a/>"))));
    EXPECT_EQ(lonely.xml_result, -1);
    EXPECT_TRUE(logged(lonely, "[.mov .mp4 analyze] xml_data error:Not Found trak atom"));
}

TEST(MovFile, MissingOrForeignAtomsAreLoggedAndNotFound) {
    const Reads no_moov = read_both(ftyp() + mdat(false));
    EXPECT_EQ(no_moov.exif_result, -1);
    EXPECT_EQ(no_moov.exif_err, "Not Found moov atom");
    EXPECT_TRUE(logged(no_moov, "[.mov .mp4 analyze] exif_data error:Not Found moov atom"));
    EXPECT_TRUE(logged(no_moov, "[.mov .mp4 analyze] xml_data error:Not Found moov atom"));

    const Reads no_udta = read_both(atom("moov", trak(0, "")));
    EXPECT_EQ(no_udta.exif_err, "Not Found udta atom");
    EXPECT_TRUE(logged(no_udta, "[.mov .mp4 analyze] exif_data error:Not Found udta atom"));
    EXPECT_TRUE(logged(no_udta,
                       "[.mov .mp4 analyze] xml_data error:Not Found uuid atom: "
                       "errnum:-1 errstr Not Found uuid atom"));

    // Some writers end udta with a 32-bit zero: the search ends there, not as a broken file.
    const Reads terminated = read_both(atom("moov", atom("udta", atom("meta", "") + "\0\0\0\0")));
    EXPECT_EQ(terminated.exif_err, "Not Found ORVM atom");
    EXPECT_TRUE(logged(terminated, "[.mov .mp4 analyze] exif_data error:Not Found ORVM atom"));

    const Reads foreign =
        read_both(atom("moov", trak(0, atom("uuid", std::string(16, 'x') + "<a/>"))));
    EXPECT_EQ(foreign.xml_result, -1);
    EXPECT_TRUE(logged(foreign, "[.mov .mp4 analyze] xml_data error:uuid Not youtube360 UUID"));
    const Reads bare = read_both(atom("moov", trak(0, spherical(""))));
    EXPECT_TRUE(logged(bare, "[.mov .mp4 analyze] xml_data error:read error"));
    const Reads short_id =
        read_both(atom("moov", trak(0, atom("uuid", kSphericalId.substr(0, 8)))));
    EXPECT_TRUE(logged(short_id, "[.mov .mp4 analyze] xml_data error:uuid Not youtube360 UUID"));
}

TEST(MovFile, SizesBelowTheirHeaderBreakTheTopLevelSearchWithAThrow) {
    const std::string moov = atom("moov", atom("udta", orvm()));
    const std::string broken = "this file broken. not read mov offset.";
    EXPECT_EQ(thrown(ByteWriter().u32(0).raw("free").raw(moov).str()), broken + "|" + broken);
    EXPECT_EQ(thrown(ByteWriter().u32(4).raw("free").raw(moov).str()), broken + "|" + broken);
    EXPECT_EQ(thrown(ByteWriter().u32(1).raw("free").u64(15).raw(moov).str()),
              broken + "|" + broken);
    // Below the top level the same is a logged failure, not a throw.
    const Reads inner =
        read_both(atom("moov", ByteWriter().u32(0).raw("free").str() + atom("udta", orvm())));
    EXPECT_EQ(inner.exif_result, -1);
    EXPECT_TRUE(logged(inner,
                       "[.mov .mp4 analyze] exif_data error:Not Found udta atom: errnum:-1 "
                       "errstr this file broken. not read mov offset."));
}

TEST(MovFile, AtomsRunningPastTheirBoundAreNotHandedOut) {
    // A top-level atom that claims more than the file: the search ends, moov unseen.
    const std::string moov = atom("moov", trak(0, spherical("<x/>")) + atom("udta", orvm()));
    EXPECT_EQ(read_both(ByteWriter().u32(0xFFFFFFF0).raw("mdat").raw(moov).str()).exif_err,
              "Not Found moov atom");
    EXPECT_EQ(read_both(ByteWriter().u32(1).raw("mdat").u64(~0ULL).raw(moov).str()).exif_err,
              "Not Found moov atom");
    // An ORVM that claims more than its udta (though the file is longer).
    std::string big_orvm = orvm();
    big_orvm[3] = static_cast<char>(big_orvm[3] + 40);
    const Reads r = read_both(atom("moov", atom("udta", big_orvm)) + std::string(100, '\0'));
    EXPECT_EQ(r.exif_err, "Not Found ORVM atom");
    // A uuid that claims more than its trak, and a moov cut short by the end of the file.
    std::string long_uuid = spherical("<x/>");
    long_uuid[3] = static_cast<char>(long_uuid[3] + 1);
    EXPECT_EQ(read_both(atom("moov", trak(0, long_uuid) + atom("free", "12"))).xml_result, -1);
    std::string cut = moov;
    cut.resize(cut.size() - 1);
    EXPECT_EQ(read_both(cut).exif_err, "Not Found moov atom");
    // A track header too short for its group field counts as group -1: the second trak wins.
    const std::string short_tkhd =
        atom("trak", atom("tkhd", std::string(20, '\0')) + spherical("<1/>"));
    EXPECT_EQ(read_both(atom("moov", short_tkhd + trak(0, spherical("<2/>")))).xml, "<2/>");
}

TEST(MovFile, FindAtomReportsPayloadAndEnd) {
    TempDir dir;
    const std::string path = dir.file("a.mov");
    orbv_test::write_file(path, atom("free", "1234") + atom64("moov", atom("udta", "")));
    MovFile mov(path.c_str(), false);
    int64_t payload, end;
    EXPECT_EQ(mov.find_atom("moov", 0, 0, &payload, &end), 0);
    EXPECT_EQ(payload, 12 + 16);
    EXPECT_EQ(end, 12 + 16 + 8);
    EXPECT_EQ(mov.find_atom("udta", payload, end, &payload, &end), 0);
    EXPECT_EQ(payload, 36);
    EXPECT_EQ(mov.find_atom("trak", 0, 0, &payload, &end), 0);
    EXPECT_EQ(payload, -1);
    EXPECT_EQ(end, -1);
    // A bound before the atom hides it.
    EXPECT_EQ(mov.find_atom("moov", 0, 12, &payload, &end), 0);
    EXPECT_EQ(payload, -1);

    testing::internal::CaptureStderr();
    EXPECT_THROW(MovFile(dir.file("none.mov").c_str(), false), orbv::Error);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "[.mov .mp4 analyze] file open error, errnum:2 errstr:No such file or directory \n");
}
