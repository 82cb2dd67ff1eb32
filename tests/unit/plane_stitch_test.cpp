// Colour tables, the exact bilinear remap and the stacking of lens and band planes.
#include <gtest/gtest.h>

#include <cmath>
#include <opencv2/imgproc.hpp>

#include "stitch/bilinear_remap.h"
#include "stitch/plane_luts.h"
#include "support/plain_stitch.h"

namespace orbv {
namespace {

using orbv_test::any_enabled;
using orbv_test::apply_plane_luts;
using orbv_test::stitch_planes;

cv::Mat random_plane(int rows, int cols, cv::RNG& rng) {
    cv::Mat m(rows, cols, CV_8UC1);
    rng.fill(m, cv::RNG::UNIFORM, 0, 256);
    return m;
}

PlaneSet random_set(int w, int h, cv::RNG& rng) {
    PlaneSet s;
    s.planes = {random_plane(h, w, rng), random_plane(h / 2, w / 2, rng),
                random_plane(h / 2, w / 2, rng)};
    s.valid = 1;
    return s;
}

cv::Mat cv_remap(const cv::Mat& src, const cv::Mat& mx, const cv::Mat& my) {
    cv::Mat out;
    cv::remap(src, out, mx, my, cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar());
    return out;
}

bool same(const cv::Mat& a, const cv::Mat& b) {
    return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

TEST(PlaneLuts, OffsetsSaturateAndTheSentinelDisables) {
    const PlaneLuts luts = make_plane_luts(-300, 300, 0);
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(luts.planes[0].table[i], 0);
        EXPECT_EQ(luts.planes[1].table[i], 255);
        EXPECT_EQ(luts.planes[2].table[i], i);
    }
    const PlaneLuts brighter = make_plane_luts(10, kOffsetUnchanged, kOffsetUnchanged);
    EXPECT_EQ(brighter.planes[0].enabled, 1);
    EXPECT_EQ(brighter.planes[0].table[0], 10);
    EXPECT_EQ(brighter.planes[0].table[244], 254);
    EXPECT_EQ(brighter.planes[0].table[245], 255);
    EXPECT_EQ(brighter.planes[0].table[255], 255);
    for (int p = 1; p < 3; ++p) {
        EXPECT_EQ(brighter.planes[p].enabled, 0);
        for (int i = 0; i < 256; ++i) EXPECT_EQ(brighter.planes[p].table[i], 0);
    }
    EXPECT_TRUE(any_enabled(brighter));
    EXPECT_FALSE(
        any_enabled(make_plane_luts(kOffsetUnchanged, kOffsetUnchanged, kOffsetUnchanged)));
    EXPECT_EQ(make_plane_luts(INT32_MIN, INT32_MAX, 0).planes[1].table[0], 255);
}

TEST(PlaneLuts, ApplyRewritesEnabledPlanesOnly) {
    cv::RNG rng(1);
    PlaneSet set = random_set(16, 8, rng);
    const PlaneSet before{{set.planes[0].clone(), set.planes[1].clone(), set.planes[2].clone()}, 1};
    apply_plane_luts(set, make_plane_luts(kOffsetUnchanged, -20, kOffsetUnchanged));
    EXPECT_TRUE(same(set.planes[0], before.planes[0]));
    EXPECT_TRUE(same(set.planes[2], before.planes[2]));
    cv::Mat expected;
    cv::subtract(before.planes[1], cv::Scalar(20), expected);  // saturating
    EXPECT_TRUE(same(set.planes[1], expected));
}

TEST(RemapBilinear, MatchesTheMatrixLibraryOnEveryKindOfPosition) {
    cv::RNG rng(7);
    for (int trial = 0; trial < 300; ++trial) {
        const int w = 1 + rng.uniform(0, 40), h = 1 + rng.uniform(0, 40);
        const cv::Mat src = random_plane(h, w, rng);
        cv::Mat mx(9, 37, CV_32FC1), my(9, 37, CV_32FC1);
        rng.fill(mx, cv::RNG::UNIFORM, -3.f, w + 3.f);
        rng.fill(my, cv::RNG::UNIFORM, -3.f, h + 3.f);
        const float specials[] = {NAN,   INFINITY, -INFINITY, 1e10f,      -1e10f,   -0.5f,
                                  -1.0f, w - 1.0f, h - 1.0f,  -1.0f / 64, w - 0.5f, 0.0f};
        for (int q = 0; q < 30; ++q) {
            mx.at<float>(rng.uniform(0, 9), rng.uniform(0, 37)) = specials[rng.uniform(0, 12)];
            my.at<float>(rng.uniform(0, 9), rng.uniform(0, 37)) = specials[rng.uniform(0, 12)];
        }
        const cv::Mat expected = cv_remap(src, mx, my);
        const cv::Mat other = random_plane(h, w, rng);
        const cv::Mat expected_other = cv_remap(other, mx, my);
        for (RemapPath path : {RemapPath::kFast, RemapPath::kPortable}) {
            cv::Mat single, first, second;
            remap_bilinear(src, mx, my, single, path);
            remap_bilinear_pair(src, other, mx, my, first, second, path);
            ASSERT_TRUE(same(single, expected)) << w << "x" << h;
            ASSERT_TRUE(same(first, expected)) << w << "x" << h;
            ASSERT_TRUE(same(second, expected_other)) << w << "x" << h;
        }
    }
    // Every 1/32 fraction in both axes, inside a plane seen through a region (row stride
    // larger than its width).
    const cv::Mat parent = random_plane(64, 80, rng);
    const cv::Mat view = parent(cv::Rect(5, 3, 60, 50));
    cv::Mat mx(32, 32 * 8, CV_32FC1), my(32, 32 * 8, CV_32FC1);
    for (int i = 0; i < mx.rows; ++i) {
        for (int j = 0; j < mx.cols; ++j) {
            mx.at<float>(i, j) = 3 + j / 32.0f;
            my.at<float>(i, j) = 2 + i / 32.0f + (j % 5);
        }
    }
    cv::Mat fast;
    remap_bilinear(view, mx, my, fast);
    EXPECT_TRUE(same(fast, cv_remap(view, mx, my)));
    // The matrix library's size limit holds too.
    const cv::Mat tall(40000, 4, CV_8UC1, cv::Scalar(1));
    EXPECT_THROW(remap_bilinear(tall, mx, my, fast), cv::Exception);
}

// Maps that read one fixed canvas position in every pixel.
StitchMaps point_maps(float x, float y, float half_x, float half_y) {
    StitchMaps maps;
    maps.map_x = cv::Mat(4, 8, CV_32FC1, cv::Scalar(x));
    maps.map_y = cv::Mat(4, 8, CV_32FC1, cv::Scalar(y));
    maps.map_x_half = cv::Mat(2, 4, CV_32FC1, cv::Scalar(half_x));
    maps.map_y_half = cv::Mat(2, 4, CV_32FC1, cv::Scalar(half_y));
    return maps;
}

TEST(StitchPlanes, StacksLensOneLensTwoAndTheBand) {
    cv::RNG rng(3);
    const int w = 20, h = 12, strip = 5;
    const PlaneSet lens1 = random_set(w, h, rng), lens2 = random_set(w, h, rng);
    PlaneSet band;
    band.planes = {random_plane(2 * strip + 6, w, rng),
                   random_plane(2 * (strip / 2) + 6, w / 2, rng),
                   random_plane(2 * (strip / 2) + 6, w / 2, rng)};
    band.valid = 1;
    const PlaneSet no_band;

    // Last row of lens 2, then the first left-strip row (y = 2h + 2), in luma and chroma.
    PlaneSet out = stitch_planes(lens1, lens2, band, point_maps(3, 2 * h - 1, 1, h - 1));
    EXPECT_EQ(out.valid, 1);
    EXPECT_EQ(out.planes[0].size(), cv::Size(8, 4));
    EXPECT_EQ(out.planes[1].size(), cv::Size(4, 2));
    EXPECT_EQ(out.planes[0].at<uint8_t>(2, 5), lens2.planes[0].at<uint8_t>(h - 1, 3));
    EXPECT_EQ(out.planes[2].at<uint8_t>(1, 1), lens2.planes[2].at<uint8_t>(h / 2 - 1, 1));
    out = stitch_planes(lens1, lens2, band, point_maps(4, 2 * h + 2, 2, h + 2));
    EXPECT_EQ(out.planes[0].at<uint8_t>(0, 0), band.planes[0].at<uint8_t>(2, 4));
    EXPECT_EQ(out.planes[1].at<uint8_t>(0, 0), band.planes[1].at<uint8_t>(2, 2));
    // Without the band the canvas ends after lens 2: the same position is outside.
    out = stitch_planes(lens1, lens2, no_band, point_maps(4, 2 * h + 2, 2, h + 2));
    for (int k = 0; k < 3; ++k) EXPECT_EQ(cv::countNonZero(out.planes[k]), 0) << k;
    out = stitch_planes(lens1, lens2, no_band, point_maps(3, 2 * h - 1, 1, h - 1));
    EXPECT_EQ(out.planes[0].at<uint8_t>(0, 0), lens2.planes[0].at<uint8_t>(h - 1, 3));
    // Left of the canvas: 0 in every plane.
    out = stitch_planes(lens1, lens2, band, point_maps(-5, 3, -5, 3));
    for (int k = 0; k < 3; ++k) EXPECT_EQ(cv::countNonZero(out.planes[k]), 0) << k;
    // Lens images of different widths cannot be stacked.
    const PlaneSet narrow = random_set(w - 2, h, rng);
    EXPECT_THROW(stitch_planes(lens1, narrow, band, point_maps(1, 1, 1, 1)), cv::Exception);
}

}  // namespace
}  // namespace orbv
