// Decoding an image into scaled planes and laying it out as the seam band.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "media/image_planes.h"
#include "support/test_support.h"

namespace orbv {
namespace {

// A binary PPM whose colours change along both axes.
std::string ppm(int w, int h) {
    std::string bytes = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            bytes += static_cast<char>((x * 7 + y * 3) & 255);
            bytes += static_cast<char>((y * 11) & 255);
            bytes += static_cast<char>((x / 5 + y) & 255);
        }
    }
    return bytes;
}

bool same(const cv::Mat& a, const cv::Mat& b) {
    return a.size() == b.size() && cv::norm(a, b, cv::NORM_INF) == 0;
}

// Checks one band plane against the decoded plane it was made of.
void expect_band_layout(const cv::Mat& band, const cv::Mat& image) {
    const int R = image.rows, half = image.cols / 2;
    ASSERT_EQ(band.size(), cv::Size(half, 2 * R + 6));
    const cv::Mat left = image.colRange(0, half), right = image.colRange(half, 2 * half);
    EXPECT_TRUE(same(band.row(0), left.row(0)));
    EXPECT_TRUE(same(band.row(1), left.row(0)));
    EXPECT_TRUE(same(band.rowRange(2, R + 2), left));
    EXPECT_TRUE(same(band.row(R + 2), left.row(R - 1)));
    EXPECT_TRUE(same(band.row(R + 3), right.row(0)));
    EXPECT_TRUE(same(band.rowRange(R + 4, 2 * R + 4), right));
    EXPECT_TRUE(same(band.row(2 * R + 4), right.row(R - 1)));
    EXPECT_TRUE(same(band.row(2 * R + 5), right.row(R - 1)));
}

TEST(SeamBand, StripsAndGuardRowsOfA2880By180Image) {
    orbv_test::TempDir dir;
    const std::string path = dir.file("band.ppm");
    orbv_test::write_file(path, ppm(2880, 180));
    const PlaneSet image = decode_image_planes(path.c_str(), 2880);
    ASSERT_EQ(image.valid, 1);
    EXPECT_EQ(image.planes[0].size(), cv::Size(2880, 180));
    EXPECT_EQ(image.planes[1].size(), cv::Size(1440, 90));

    const PlaneSet band = load_seam_band(path.c_str(), 1440);
    ASSERT_EQ(band.valid, 1);
    ASSERT_EQ(band.planes.size(), 3u);
    EXPECT_EQ(band.planes[0].rows, 366);  // band_rows
    EXPECT_TRUE(same(band.planes[0].row(184), image.planes[0].row(0).colRange(1440, 2880)));
    EXPECT_EQ(band.planes[1].size(), cv::Size(720, 186));
    for (int k = 0; k < 3; ++k) expect_band_layout(band.planes[k], image.planes[k]);
}

TEST(SeamBand, ScaledToTwiceTheLensWidthKeepingTheAspect) {
    orbv_test::TempDir dir;
    const std::string path = dir.file("band.ppm");
    orbv_test::write_file(path, ppm(1000, 100));
    const PlaneSet image = decode_image_planes(path.c_str(), 3872);
    ASSERT_EQ(image.valid, 1);
    EXPECT_EQ(image.planes[0].size(), cv::Size(3872, 387));
    EXPECT_EQ(image.planes[2].size(), cv::Size(1936, 193));
    const PlaneSet band = load_seam_band(path.c_str(), 1936);
    ASSERT_EQ(band.valid, 1);
    EXPECT_EQ(band.planes[0].size(), cv::Size(1936, 780));
    EXPECT_EQ(band.planes[1].size(), cv::Size(968, 392));
}

TEST(SeamBand, UnusableImagesGiveNoBand) {
    orbv_test::TempDir dir;
    const std::string text = dir.file("notes.txt"), one_row = dir.file("row.ppm"),
                      flat = dir.file("flat.ppm"), tall = dir.file("tall.ppm");
    orbv_test::write_file(text, "not a picture at all\n");
    orbv_test::write_file(one_row, ppm(200, 1));  // 1 row at 200 wide: no chroma rows
    orbv_test::write_file(flat, ppm(4000, 1));    // 0 rows at 200 wide
    orbv_test::write_file(tall, ppm(2, 600));     // 60,000 rows at 200 wide
    for (const std::string& path : {dir.file("missing.jpg"), text, one_row, flat, tall}) {
        const PlaneSet band = load_seam_band(path.c_str(), 100);
        EXPECT_EQ(band.valid, 0) << path;
        EXPECT_TRUE(band.planes.empty()) << path;
    }
    EXPECT_EQ(load_seam_band(nullptr, 100).valid, 0);
    EXPECT_EQ(decode_image_planes(one_row.c_str(), 0).valid, 0);
}

TEST(SeamBand, JpegBandImage) {
    if (std::system("ffmpeg -version > /dev/null 2>&1") != 0) GTEST_SKIP() << "no ffmpeg";
    orbv_test::TempDir dir;
    const std::string path = dir.file("band.jpg");
    const std::string command =
        "ffmpeg -loglevel error -f lavfi -i testsrc=size=320x40 "
        "-frames:v 1 -y " +
        path;
    ASSERT_EQ(std::system(command.c_str()), 0);
    const PlaneSet band = load_seam_band(path.c_str(), 160);
    ASSERT_EQ(band.valid, 1);
    EXPECT_EQ(band.planes[0].size(), cv::Size(160, 86));
    EXPECT_EQ(band.planes[2].size(), cv::Size(80, 46));
}

}  // namespace
}  // namespace orbv
