// MovFile::insert_spherical_xml on movies built atom by atom and on a real H.264 movie.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "metadata/mov_file.h"
#include "metadata/panorama_xml.h"
#include "support/byte_writer.h"
#include "support/command.h"
#include "support/test_support.h"

using orbv::MovFile;
using orbv_test::atom;
using orbv_test::atom64;
using orbv_test::ByteWriter;
using orbv_test::get_u32;
using orbv_test::get_u64;
using orbv_test::read_file;
using orbv_test::TempDir;
using orbv_test::write_file;

namespace {

const std::string kSphericalId(reinterpret_cast<const char*>(orbv::kSphericalUuid), 16);
const std::string kXml400 = "<x>" + std::string(393, 'v') + "</x>";  // 400 bytes

std::string trak(uint16_t group) {
    ByteWriter tkhd;
    tkhd.zeros(84);
    tkhd.set_u16(34, group);
    return atom("trak", atom("tkhd", tkhd.str()) + atom("mdia", std::string(40, 'm')));
}
const std::string kMdat = atom("mdat", std::string(500, 'D'));
const std::string kMvhd = atom("mvhd", std::string(100, '\0'));
const std::string kUdta = atom("udta", atom("\xA9swr", "writer"));

struct Inserted {
    int32_t result;
    std::string before, after, log;
};

Inserted insert(const std::string& bytes, const std::string& xml, bool writable = true) {
    TempDir dir;
    const std::string path = dir.file("out.mov");
    write_file(path, bytes);
    Inserted r;
    testing::internal::CaptureStderr();
    {
        MovFile mov(path.c_str(), writable);
        r.result = mov.insert_spherical_xml(xml.c_str());
    }
    r.log = testing::internal::GetCapturedStderr();
    r.before = bytes;
    r.after = read_file(path);
    return r;
}

std::string xml_read_back(const std::string& bytes) {
    TempDir dir;
    const std::string path = dir.file("back.mov");
    write_file(path, bytes);
    MovFile mov(path.c_str(), false);
    const char* text = nullptr;
    testing::internal::CaptureStderr();
    mov.xml_data(&text);
    testing::internal::GetCapturedStderr();
    return text ? text : "<none>";
}

}  // namespace

TEST(SphericalInsertion, VideoFirstTrackGetsTheAtomAsItsLastChild) {
    const std::string video = trak(0);
    const std::string moov = atom("moov", kMvhd + video + kUdta);
    const size_t moov_at = 20 + kMdat.size();
    const Inserted r =
        insert(atom("ftyp", std::string("qt  \0\0\0\0qt  ", 12)) + kMdat + moov, kXml400);
    ASSERT_EQ(r.result, 0) << r.log;
    ASSERT_EQ(r.after.size(), r.before.size() + 424);
    EXPECT_EQ(get_u32(r.after, moov_at), moov.size() + 424);
    const size_t trak_at = moov_at + 8 + kMvhd.size();
    EXPECT_EQ(get_u32(r.after, trak_at), video.size() + 424);
    // The atom stands at the old end of the trak; udta follows it, moved by 424.
    const size_t old_end = trak_at + video.size();
    EXPECT_EQ(r.after.substr(old_end, 24),
              ByteWriter().u32(424).raw("uuid").raw(kSphericalId).str());
    EXPECT_EQ(r.after.substr(old_end + 24, 400), kXml400);
    EXPECT_EQ(r.after.substr(old_end + 424), kUdta);
    // Everything between the moov and trak size fields is as it was.
    EXPECT_EQ(r.after.substr(moov_at + 4, trak_at - moov_at - 4),
              r.before.substr(moov_at + 4, trak_at - moov_at - 4));
    EXPECT_EQ(r.after.substr(trak_at + 4, video.size() - 4), video.substr(4));
    EXPECT_EQ(xml_read_back(r.after), kXml400);
}

TEST(SphericalInsertion, SoundFirstPutsTheAtomIntoTheSecondTrack) {
    const std::string sound = trak(1), video = trak(0);
    const std::string bytes = kMdat + atom("moov", kMvhd + sound + video + kUdta);
    const Inserted r = insert(bytes, kXml400);
    ASSERT_EQ(r.result, 0) << r.log;
    const size_t sound_at = kMdat.size() + 8 + kMvhd.size();
    const size_t video_at = sound_at + sound.size();
    EXPECT_EQ(r.after.substr(sound_at, sound.size()), sound);  // untouched
    EXPECT_EQ(get_u32(r.after, video_at), video.size() + 424);
    EXPECT_EQ(r.after.substr(video_at + video.size() + 424), kUdta);
    EXPECT_EQ(xml_read_back(r.after), kXml400);

    // Round trip with the exporter's own text.
    const std::string xml = orbv::make_panorama_xml(false, 3840, 1920, "2021-03-04");
    const std::string back = xml_read_back(insert(bytes, xml).after);
    orbv::OwnedText software, date;
    EXPECT_EQ(orbv::parse_panorama_xml(back.c_str(), &software, &date), 0);
    EXPECT_STREQ(software.get(), "VELORA360Viewer win.1.0.0");
    EXPECT_STREQ(date.get(), "2021-03-04");
}

TEST(SphericalInsertion, SixtyFourBitMoovKeepsItsForm) {
    const std::string moov = atom64("moov", trak(0));
    const Inserted r = insert(kMdat + moov, "<a/>");
    ASSERT_EQ(r.result, 0) << r.log;
    const size_t at = kMdat.size();
    EXPECT_EQ(get_u32(r.after, at), 1u);
    EXPECT_EQ(r.after.substr(at + 4, 4), "moov");
    EXPECT_EQ(get_u64(r.after, at + 8), moov.size() + 28);
    EXPECT_EQ(get_u32(r.after, at + 16), trak(0).size() + 28);
}

TEST(SphericalInsertion, RefusalsLeaveTheFileUnchanged) {
    auto unchanged = [](const Inserted& r, const char* why) {
        EXPECT_EQ(r.result, -1) << why;
        EXPECT_EQ(r.after, r.before) << why;
        EXPECT_NE(r.log.find("[.mov .mp4 analyze] insert_spherical_xml error:"), std::string::npos)
            << why;
    };
    const std::string good = kMdat + atom("moov", trak(0));
    unchanged(insert(kMdat + atom("moov", trak(1) + trak(2)), "<a/>"), "no group 0");
    unchanged(insert(kMdat + atom("moov", trak(1)), "<a/>"), "no second track");
    unchanged(insert(kMdat + atom("moov", kUdta), "<a/>"), "no track");
    unchanged(insert(atom("moov", trak(0)) + kMdat, "<a/>"), "media data after moov");
    unchanged(insert(good, "<a/>", false), "read-only");
}

TEST(SphericalInsertion, ThirtyTwoBitSizesDoNotWrapPast4GiB) {
    TempDir dir;
    const std::string path = dir.file("small.mov");
    write_file(path,
               ByteWriter().u32(0xFFFFFF00).raw("moov").u32(1).raw("free").u64(0xFFFFFFFF00).str());
    {
        MovFile mov(path.c_str(), true);
        testing::internal::CaptureStderr();
        EXPECT_EQ(mov.grow_atom_size(0, 0x100), -1);
        EXPECT_EQ(mov.grow_atom_size(0, 0xFF), 0);
        EXPECT_EQ(mov.grow_atom_size(8, 0x100), 0);  // the 64-bit form grows further
        EXPECT_EQ(mov.grow_atom_size(100, 1), -1);   // no header there
        testing::internal::GetCapturedStderr();
    }
    const std::string grown = read_file(path);
    EXPECT_EQ(get_u32(grown, 0), 0xFFFFFFFFu);
    EXPECT_EQ(get_u64(grown, 16), 0x10000000000ULL);

    // A sparse movie whose 32-bit moov is 256 bytes short of 4 GiB: no room for the atom.
    const std::string big = dir.file("big.mov");
    const std::string video = trak(0);
    const uint32_t moov_size = 0xFFFFFF00;
    write_file(big, ByteWriter()
                        .u32(moov_size)
                        .raw("moov")
                        .raw(video)
                        .u32(moov_size - 8 - static_cast<uint32_t>(video.size()))
                        .raw("free")
                        .str());
    ASSERT_EQ(truncate(big.c_str(), moov_size), 0);
    {
        MovFile mov(big.c_str(), true);
        testing::internal::CaptureStderr();
        EXPECT_EQ(mov.insert_spherical_xml(kXml400.c_str()), -1);
        EXPECT_NE(testing::internal::GetCapturedStderr().find("would pass 2^32"),
                  std::string::npos);
    }
    EXPECT_EQ(std::filesystem::file_size(big), moov_size);
}

TEST(SphericalInsertion, RealMovieStillDecodesAndIsEquirectangular) {
    for (const char* program : {"ffmpeg", "ffprobe"}) {
        if (!orbv_test::program_available(program))
            GTEST_SKIP() << program << " is not installed; cannot check a real movie";
    }
    TempDir dir;
    const std::string path = dir.file("real.mov");
    ASSERT_EQ(orbv_test::run_status("ffmpeg -v error -f lavfi -i testsrc=size=320x320:rate=30 "
                                     "-t 1 -c:v libx264 " +
                                     orbv_test::shell_quote(path)),
              0);
    const std::string xml = orbv::make_panorama_xml(false, 320, 320, "2021-03-04T05:06:07");
    {
        MovFile mov(path.c_str(), true);
        testing::internal::CaptureStderr();
        EXPECT_EQ(mov.insert_spherical_xml(xml.c_str()), 0);
        testing::internal::GetCapturedStderr();
    }
    EXPECT_EQ(xml_read_back(read_file(path)), xml);

    std::string out;
    ASSERT_EQ(orbv_test::run_status("ffprobe -v error -count_frames -select_streams v:0 "
                                     "-show_entries stream=nb_read_frames:stream_side_data "
                                     "-of default=noprint_wrappers=1 " +
                                         orbv_test::shell_quote(path) + " 2>&1",
                                     &out),
              0);
    EXPECT_NE(out.find("nb_read_frames=30"), std::string::npos) << out;
    EXPECT_NE(out.find("side_data_type=Spherical Mapping"), std::string::npos) << out;
    EXPECT_NE(out.find("projection=equirectangular"), std::string::npos) << out;
    // Every frame decodes without a complaint.
    ASSERT_EQ(orbv_test::run_status(
                  "ffmpeg -v error -i " + orbv_test::shell_quote(path) + " -f null - 2>&1", &out),
              0);
    EXPECT_EQ(out, "");
}
