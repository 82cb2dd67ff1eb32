// JpegFile's marker walk, APP1 slots and payload reads on JPEGs built byte by byte.
#include "metadata/jpeg_file.h"

#include <gtest/gtest.h>

#include <string>

#include "support/byte_writer.h"
#include "support/test_support.h"
#include "util/error.h"

using orbv::JpegFile;
using orbv_test::segment;
using orbv_test::TempDir;

namespace {

const std::string kSoi("\xFF\xD8", 2);
const std::string kTiff("MM\0\x2A\0\0\0\x08\0\0", 10);

std::string exif_app1(const std::string& tiff = kTiff) {
    return segment(0xE1, std::string("Exif\0\0", 6) + tiff);
}
std::string xmp_app1(const std::string& text) {
    return segment(0xE1, std::string(orbv::kXmpSignature, orbv::kXmpSignatureSize) + text);
}
// Start of scan, entropy-coded bytes, end of image.
std::string scan() {
    return segment(0xDA, std::string("\x01\x01\x00\x00\x3F\x00", 6)) + "\x12\x34\xFF\xD9";
}

struct Reads {
    int32_t exif_result = 0, xmp_result = 0;
    std::string exif, xmp, exif_err, xmp_err, log;
};

Reads read_both(const std::string& bytes) {
    TempDir dir;
    const std::string path = dir.file("still.jpg");
    orbv_test::write_file(path, bytes);
    JpegFile jpeg(path.c_str(), false);
    Reads r;
    const uint8_t* block;
    size_t size;
    const char* text;
    testing::internal::CaptureStderr();
    r.exif_result = jpeg.exif_data(&block, &size);
    r.exif_err = jpeg.errstr;
    r.xmp_result = jpeg.xmp_data(&text);
    r.xmp_err = jpeg.errstr;
    r.log = testing::internal::GetCapturedStderr();
    if (r.exif_result == 0)
        r.exif.assign(reinterpret_cast<const char*>(block), size);
    else
        EXPECT_EQ(block, nullptr);
    if (r.xmp_result == 0)
        r.xmp = text;
    else
        EXPECT_EQ(text, nullptr);
    return r;
}

}  // namespace

TEST(JpegFile, ExifOnlyGivesTheBlockAndNoXmp) {
    const Reads r = read_both(kSoi + segment(0xE0, "JFIF\0") + exif_app1() + scan());
    EXPECT_EQ(r.exif_result, 0);
    EXPECT_EQ(r.exif, kTiff);  // the payload less "Exif", NUL, NUL
    EXPECT_EQ(r.xmp_result, -1);
    EXPECT_EQ(r.xmp_err, "XMP Not Found");
    EXPECT_NE(r.log.find("[.jpeg analyze] exif_data start\n[.jpeg analyze] app1 maker\n"
                         "[.jpeg analyze] end maker\n[.jpeg analyze] exif_data end \n"),
              std::string::npos)
        << r.log;
}

TEST(JpegFile, ExifAndXmpAreFoundInEitherOrder) {
    for (bool xmp_first : {true, false}) {
        const std::string app1s =
            xmp_first ? xmp_app1("<x>1</x>") + exif_app1() : exif_app1() + xmp_app1("<x>1</x>");
        const Reads r = read_both(kSoi + app1s + scan());
        EXPECT_EQ(r.exif_result, 0) << xmp_first;
        EXPECT_EQ(r.exif, kTiff);
        EXPECT_EQ(r.xmp_result, 0);
        EXPECT_EQ(r.xmp, "<x>1</x>");
    }
}

TEST(JpegFile, ThreeApp1SegmentsKeepTheFirstAndTheLast) {
    // Exif, XMP, extended XMP: slot 1 ends as the extended packet, which starts with "http" too.
    const std::string extended = segment(
        0xE1, std::string("http://ns.adobe.com/xmp/extension/\0", 35) + "0123456789ABCDEFext");
    const Reads r = read_both(kSoi + exif_app1() + xmp_app1("<main/>") + extended + scan());
    EXPECT_EQ(r.exif, kTiff);
    EXPECT_EQ(r.xmp_result, 0);
    EXPECT_EQ(r.xmp, "sion/");  // 29 bytes into "http://ns.adobe.com/xmp/extension/", NUL
}

TEST(JpegFile, SegmentsAfterTheScanAndMissingApp1AreNotFound) {
    const Reads r = read_both(kSoi + segment(0xDB, std::string(65, '\1')) + scan() + exif_app1());
    EXPECT_EQ(r.exif_result, -1);
    EXPECT_EQ(r.exif_err, "APP1(0xFFE1) MAKER not Found");
    EXPECT_EQ(r.xmp_err, "APP1(0xFFE1) MAKER not Found");
    EXPECT_NE(r.log.find("[.jpeg analyze] APP1(0xFFE1) MAKER not Found\n"), std::string::npos);

    const Reads x = read_both(kSoi + xmp_app1("<x/>") + scan());
    EXPECT_EQ(x.exif_err, "Exif Not Found");
    EXPECT_NE(x.log.find("[.jpeg analyze] Exif Not Found\n"), std::string::npos);
}

TEST(JpegFile, OtherFilesAreNotJpeg) {
    const Reads png = read_both("\x89PNG\r\n\x1a\n rest of a png");
    EXPECT_EQ(png.exif_result, -1);
    EXPECT_EQ(png.exif_err, "Not Jpeg File");
    EXPECT_NE(png.log.find("[.jpeg analyze] start Marker:5089 Not Jpeg File\n"), std::string::npos);
    EXPECT_EQ(read_both("").exif_err, "Not Jpeg File");
}

TEST(JpegFile, MalformedSegmentsAreRefusedLikeMissingOnes) {
    // A length below 2 ends the walk: the APP1 behind it is never reached.
    const std::string bad_length = std::string("\xFF\xE0\x00\x01", 4);
    EXPECT_EQ(read_both(kSoi + bad_length + exif_app1() + scan()).exif_err,
              "APP1(0xFFE1) MAKER not Found");
    // Payloads shorter than their signatures: "Exif" with 5 bytes, "http" with 28 bytes.
    const Reads shorts = read_both(kSoi + segment(0xE1, std::string("Exif\0", 5)) +
                                   segment(0xE1, std::string(orbv::kXmpSignature, 28)) + scan());
    EXPECT_EQ(shorts.exif_err, "Exif Not Found");
    EXPECT_EQ(shorts.xmp_err, "XMP Not Found");
    // A signature-sized payload is an empty block or text.
    const Reads empty = read_both(kSoi + exif_app1("") + xmp_app1("") + scan());
    EXPECT_EQ(empty.exif_result, 0);
    EXPECT_EQ(empty.exif, "");
    EXPECT_EQ(empty.xmp_result, 0);
    EXPECT_EQ(empty.xmp, "");
    // A segment that runs past the end of the file is not recorded; the one before it is.
    std::string cut = kSoi + xmp_app1("<kept/>") + exif_app1(std::string(4000, 'x'));
    cut.resize(cut.size() - 100);
    const Reads truncated = read_both(cut);
    EXPECT_EQ(truncated.exif_err, "Exif Not Found");
    EXPECT_EQ(truncated.xmp, "<kept/>");
    // A file that ends after the start marker or inside a length field.
    EXPECT_EQ(read_both(kSoi).exif_err, "APP1(0xFFE1) MAKER not Found");
    EXPECT_EQ(read_both(kSoi + "\xFF\xE1\x00").exif_err, "APP1(0xFFE1) MAKER not Found");
}

TEST(JpegFile, OpenFailureThrowsTheSystemText) {
    TempDir dir;
    const std::string missing = dir.file("missing.jpg");
    testing::internal::CaptureStderr();
    try {
        JpegFile jpeg(missing.c_str(), false);
        ADD_FAILURE() << "no throw";
    } catch (const orbv::Error& e) {
        EXPECT_STREQ(e.what(), "No such file or directory");
    }
    EXPECT_THROW(JpegFile(dir.path().c_str(), false), orbv::Error);  // a directory
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "[.jpeg analyze] file open error, errnum:2 errstr:No such file or directory \n"
              "[.jpeg analyze] file open error, errnum:21 errstr:Is a directory \n");
}
