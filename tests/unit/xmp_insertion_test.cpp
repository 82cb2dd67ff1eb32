// JpegFile::insert_xmp on JPEGs built byte by byte and on a real JPEG read back by exiftool.
#include <gtest/gtest.h>

#include <string>

#include "metadata/jpeg_file.h"
#include "metadata/panorama_xml.h"
#include "support/byte_writer.h"
#include "support/command.h"
#include "support/test_support.h"

using orbv::JpegFile;
using orbv_test::get_u16;
using orbv_test::read_file;
using orbv_test::segment;
using orbv_test::TempDir;
using orbv_test::write_file;

namespace {

const std::string kSoi("\xFF\xD8", 2);
const std::string kExif = segment(0xE1, std::string("Exif\0\0MM\0\x2A\0\0\0\x08\0\0", 16));
const std::string kScan = segment(0xDA, "\x01\x01\x00") + "\x12\x34\xFF\xD9";

struct Result {
    int32_t result;
    std::string after, log;
};

Result insert(const std::string& path, const std::string& text, bool writable = true) {
    Result r;
    testing::internal::CaptureStderr();
    {
        JpegFile jpeg(path.c_str(), writable);
        r.result = jpeg.insert_xmp(text.c_str());
    }
    r.log = testing::internal::GetCapturedStderr();
    r.after = read_file(path);
    return r;
}

}  // namespace

TEST(XmpInsertion, SegmentGoesRightAfterTheStartMarker) {
    TempDir dir;
    const std::string path = dir.file("still.jpg");
    std::string jpeg = kSoi + kExif;
    for (size_t i = 0; jpeg.size() < 50000 - kScan.size(); ++i) jpeg += static_cast<char>(i * 7);
    jpeg.resize(50000 - kScan.size());
    jpeg += kScan;
    ASSERT_EQ(jpeg.size(), 50000u);
    write_file(path, jpeg);
    const std::string packet(1000, 'p');

    const Result r = insert(path, packet);
    ASSERT_EQ(r.result, 0) << r.log;
    ASSERT_EQ(r.after.size(), 51035u);
    EXPECT_EQ(r.after.substr(0, 2), kSoi);
    EXPECT_EQ(r.after.substr(2, 2), "\xFF\xE1");
    EXPECT_EQ(get_u16(r.after, 4), 1033);
    EXPECT_EQ(r.after.substr(6, 29), std::string(orbv::kXmpSignature, 29));
    EXPECT_EQ(r.after.substr(35, 1000), packet);
    EXPECT_EQ(r.after.substr(1035, 2), std::string(2, '\0'));  // the filler
    EXPECT_EQ(r.after.substr(1037), jpeg.substr(2));
}

namespace {

// What the still analysis reads back: the EXIF block and the XMP text.
struct Read {
    std::string exif, xmp;
    int64_t slot0 = -1;
};
Read read_back(const std::string& path) {
    JpegFile jpeg(path.c_str(), false);
    const uint8_t* block;
    size_t size;
    const char* text;
    Read r;
    testing::internal::CaptureStderr();
    if (jpeg.exif_data(&block, &size) == 0)
        r.exif.assign(reinterpret_cast<const char*>(block), size);
    if (jpeg.xmp_data(&text) == 0) r.xmp = text;
    testing::internal::GetCapturedStderr();
    r.slot0 = jpeg.app1_start[0];
    return r;
}

}  // namespace

TEST(XmpInsertion, ReadersFindXmpInSlotZeroAndCameraExifInSlotOne) {
    TempDir dir;
    const std::string path = dir.file("still.jpg");
    write_file(path, kSoi + kExif + kScan);
    const std::string packet = orbv::make_panorama_xml(true, 3840, 1920, "2021:03:04 05:06:07");
    ASSERT_EQ(insert(path, packet).result, 0);
    Read r = read_back(path);
    EXPECT_EQ(r.slot0, 6);
    EXPECT_EQ(r.exif, kExif.substr(10));
    EXPECT_EQ(r.xmp, packet);  // the zero filler ends the text
    orbv::OwnedText software, date;
    EXPECT_EQ(orbv::parse_panorama_xml(r.xmp.c_str(), &software, &date), 0);
    EXPECT_STREQ(date.get(), "2021:03:04 05:06:07");

    // A second packet goes in front of the first.
    ASSERT_EQ(insert(path, "<second/>").result, 0);
    r = read_back(path);
    EXPECT_EQ(r.xmp, "<second/>");
    EXPECT_EQ(r.exif, kExif.substr(10));
    const std::string after = read_file(path);
    const size_t older = 2 + 4 + 29 + 9 + 2;
    EXPECT_EQ(after.substr(older, 2), "\xFF\xE1");
    EXPECT_EQ(after.substr(older + 4 + 29, packet.size()), packet);
}

TEST(XmpInsertion, RefusalsLeaveTheFileUnchanged) {
    TempDir dir;
    const std::string path = dir.file("still.jpg");
    const std::string jpeg = kSoi + kExif + kScan;
    write_file(path, jpeg);
    // 65502 bytes is the most a segment length of L + 33 can carry.
    Result r = insert(path, std::string(65503, 'x'));
    EXPECT_EQ(r.result, -1);
    EXPECT_EQ(r.after, jpeg);
    EXPECT_NE(r.log.find("[.jpeg analyze] insert_xmp error:"), std::string::npos);
    r = insert(path, "<a/>", false);
    EXPECT_EQ(r.result, -1);
    EXPECT_EQ(r.after, jpeg);
    write_file(path, "\xFF");
    EXPECT_EQ(insert(path, "<a/>").after, "\xFF");

    write_file(path, jpeg);
    r = insert(path, std::string(65502, 'x'));
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(get_u16(r.after, 4), 0xFFFF);
}

TEST(XmpInsertion, ExiftoolReadsTheGPanoFieldsOfARealJpeg) {
    for (const char* program : {"ffmpeg", "exiftool"}) {
        if (!orbv_test::program_available(program))
            GTEST_SKIP() << program << " is not installed; cannot check a real JPEG";
    }
    TempDir dir;
    const std::string path = dir.file("real.jpg");
    ASSERT_EQ(orbv_test::run_status("ffmpeg -v error -f lavfi -i testsrc=size=320x160 "
                                     "-frames:v 1 " +
                                     orbv_test::shell_quote(path)),
              0);
    ASSERT_EQ(insert(path, orbv::make_panorama_xml(true, 320, 160, "2021:03:04 05:06:07")).result,
              0);
    std::string out;
    ASSERT_EQ(
        orbv_test::run_status("exiftool -s -XMP-GPano:all " + orbv_test::shell_quote(path), &out),
        0);
    for (const char* line :
         {"UsePanoramaViewer               : True",
          "StitchingSoftware               : VELORA360Viewer win.1.0.0",
          "ProjectionType                  : equirectangular",
          "CroppedAreaImageWidthPixels     : 320", "FullPanoHeightPixels            : 160",
          "FirstPhotoDate                  : 2021:03:04 05:06:07"}) {
        EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
    }
    // The picture itself still decodes.
    ASSERT_EQ(orbv_test::run_status(
                  "ffmpeg -v error -i " + orbv_test::shell_quote(path) + " -f null - 2>&1", &out),
              0);
    EXPECT_EQ(out, "");
}
