// The fisheye-to-equirectangular maps: reference positions, the band, and bit-identity of the
// optimised builder with a plain per-pixel computation.
#include "stitch/stitch_maps.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace orbv {
namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kHalfPi = 1.5707963267948966;

// The projection written out term by term, one pixel at a time, with nothing hoisted.
SourcePoint straightforward(int j, int i, int Wm, int Hm, int ws, int hs, int cx, int cy, int R,
                            int B, const Rotation& a) {
    const double lambda = j * 6.283185307179586 / Wm - kPi;
    const double phi = i * kPi / Hm;
    const double Rd = R;
    const double X = Rd * std::sin(phi) * std::cos(lambda);
    const double Y = Rd * std::sin(phi) * std::sin(lambda);
    const double Z = Rd * std::cos(phi);
    const double c2 = std::cos(a[2]), s2 = std::sin(a[2]), c3 = std::cos(a[3]);
    const double s3 = std::sin(a[3]), c4 = std::cos(a[4]), s4 = std::sin(a[4]);
    const double Xr = (c3 * c4 - s3 * s2 * s4) * X - s3 * c2 * Y + (s3 * s2 * c4 + c3 * s4) * Z;
    const double Yr = (c3 * s2 * s4 + s3 * c4) * X + c3 * c2 * Y + (s3 * s4 - c3 * s2 * c4) * Z;
    const double Zr = -c2 * s4 * X + s2 * Y + c2 * c4 * Z;
    double cosine = Zr / Rd;  // held at the axis where rounding leaves [-1, 1]
    if (cosine > 1) cosine = 1;
    if (cosine < -1) cosine = -1;
    const double theta = std::acos(cosine);
    const double psi = std::atan2(Xr, Yr);
    if (B > 0) {
        const double strip = (B - 6) * 0.5;
        const double delta = strip * kPi / ws * 0.5;
        if (kHalfPi - delta < theta && theta < kHalfPi + delta) {
            double u = (4.71238898038469 - psi) * ws / kPi;
            if (u > 2 * ws) u -= 2 * ws;
            const double v = (theta - (kHalfPi - delta)) * hs / kPi;
            if (u < ws) return {std::min(u, ws - 1.0), 2 * hs + v + 2};
            return {std::min(u, 2 * ws - 1.0) - ws, 2 * hs + v + strip + 4};
        }
    }
    const double k = Rd / kHalfPi;
    if (theta < kHalfPi) {
        const double rho = k * theta;
        return {cx + rho * std::cos(psi + a[0]), cy + rho * std::sin(psi + a[0])};
    }
    const double rho = k * (kPi - theta);
    return {cx + rho * std::sin(psi - kHalfPi + a[1]),
            cy + hs + rho * std::cos(psi - kHalfPi + a[1])};
}

// Counts the map entries that differ in any bit from the straightforward computation.
long differences(const StitchMaps& maps, int W, int H, int w, int h, double radius, int band,
                 const Rotation& a) {
    long count = 0;
    for (int pass = 0; pass < 2; ++pass) {
        const int Wm = pass ? W / 2 : W, Hm = pass ? H / 2 : H;
        const int ws = pass ? w / 2 : w, hs = pass ? h / 2 : h;
        const int R = static_cast<int>(pass ? radius * 0.5 : radius);
        const int B = pass ? static_cast<int>((band - 6) * 0.5 + 6) : band;
        const cv::Mat& mx = pass ? maps.map_x_half : maps.map_x;
        const cv::Mat& my = pass ? maps.map_y_half : maps.map_y;
        EXPECT_EQ(mx.size(), cv::Size(Wm, Hm));
        EXPECT_EQ(my.size(), cv::Size(Wm, Hm));
        for (int i = 0; i < Hm; ++i) {
            for (int j = 0; j < Wm; ++j) {
                const SourcePoint s =
                    straightforward(j, i, Wm, Hm, ws, hs, ws / 2, hs / 2, R, B, a);
                const float x = static_cast<float>(s.x), y = static_cast<float>(s.y);
                if (std::memcmp(&x, &mx.at<float>(i, j), 4) != 0 ||
                    std::memcmp(&y, &my.at<float>(i, j), 4) != 0)
                    ++count;
            }
        }
    }
    return count;
}

SourcePoint small(int j, int i, const Rotation& a = Rotation{}) {
    return project_to_source(j, i, {8, 4}, {1440, 1440}, {720, 720}, 675, 0, a);
}

TEST(ProjectToSource, ZeroRotationSamplesTheLensCentresAndRings) {
    const struct {
        int j, i;
        double x, y;
    } cases[] = {{0, 0, 720, 720},   {4, 1, 720, 1057.5}, {0, 1, 720, 382.5},
                 {2, 1, 382.5, 720}, {6, 1, 1057.5, 720}, {4, 3, 720, 2497.5}};
    for (const auto& c : cases) {
        const SourcePoint s = small(c.j, c.i);
        EXPECT_NEAR(s.x, c.x, 1e-9) << c.j << "," << c.i;
        EXPECT_NEAR(s.y, c.y, 1e-9) << c.j << "," << c.i;
    }
    // The equator has theta exactly pi/2: lens 2, at distance R below its centre.
    const SourcePoint equator = small(4, 2);
    EXPECT_NEAR(equator.x, 720, 1e-9);
    EXPECT_NEAR(equator.y, 2160 + 675, 1e-9);
}

TEST(ProjectToSource, RotationsTurnTheSphereAndTheLensImages) {
    const Rotation about_y{0, 0, 0, 0, kHalfPi};
    EXPECT_NEAR(small(4, 2, about_y).x, 720, 1e-5);
    EXPECT_NEAR(small(4, 2, about_y).y, 2160, 1e-5);
    EXPECT_NEAR(small(0, 2, about_y).x, 720, 1e-5);
    EXPECT_NEAR(small(0, 2, about_y).y, 720, 1e-5);
    const SourcePoint rolled = small(1, 1, Rotation{0.5, 0, 0, 0, 0});
    EXPECT_NEAR(rolled.x, 624.980, 5e-4);
    EXPECT_NEAR(rolled.y, 396.152, 5e-4);
}

TEST(ProjectToSource, BandPixelsAddressTheStripsBelowTheLenses) {
    auto band = [](int j, int i) {
        return project_to_source(j, i, {2880, 1440}, {1440, 1440}, {720, 720}, 675, 186,
                                 Rotation{});
    };
    EXPECT_NEAR(band(720, 700).x, 720, 1e-6);
    EXPECT_NEAR(band(720, 700).y, 2907, 1e-6);  // left strip, its row 25
    EXPECT_NEAR(band(2160, 740).x, 720, 1e-6);
    EXPECT_NEAR(band(2160, 740).y, 3039, 1e-6);  // right strip
    EXPECT_NEAR(band(1442, 720).x, 2, 1e-6);
    EXPECT_NEAR(band(1442, 720).y, 3019, 1e-6);  // right strip, its column 2
    // Empty strips (6 rows) and no band: the lens images only.
    for (int b : {0, 3, 6}) {
        const SourcePoint s =
            project_to_source(720, 700, {2880, 1440}, {1440, 1440}, {720, 720}, 675, b, Rotation{});
        EXPECT_LT(s.y, 2880) << b;
    }
}

TEST(ProjectToSource, PointsOnALensAxisKeepAPosition) {
    // Rounding puts z/R just above 1 here; the pixel samples the lens-1 centre.
    const SourcePoint s = project_to_source(0, 160, {3840, 1920}, {1936, 1936}, {968, 968}, 907, 0,
                                            Rotation{0, 0, 0, 0, 15 * kPi / 180});
    EXPECT_DOUBLE_EQ(s.x, 968);
    EXPECT_DOUBLE_EQ(s.y, 968);
}

TEST(BuildStitchMaps, HalfPassHalvesSizesRadiusAndBand) {
    const StitchMaps maps = build_stitch_maps({16, 8}, {1440, 1440}, 675.0, 0, Rotation{});
    EXPECT_EQ(maps.map_x.size(), cv::Size(16, 8));
    EXPECT_EQ(maps.map_x_half.size(), cv::Size(8, 4));
    EXPECT_EQ(maps.map_x.type(), CV_32FC1);
    EXPECT_EQ(maps.output_size, cv::Size(16, 8));
    EXPECT_EQ(maps.source_size, cv::Size(1440, 1440));
    EXPECT_EQ(maps.band_rows, 0);
    EXPECT_FLOAT_EQ(maps.map_x_half.at<float>(1, 4), 360);
    EXPECT_FLOAT_EQ(maps.map_y_half.at<float>(1, 4), 528.5);
    EXPECT_FLOAT_EQ(maps.map_y_half.at<float>(3, 4), 1248.5);
    // Width 1936: radius 907 for luma and 453 for chroma.
    const StitchMaps wide = build_stitch_maps({16, 8}, {1936, 1936}, 907.0, 0, Rotation{});
    EXPECT_FLOAT_EQ(wide.map_y.at<float>(6, 8), 968 + 1936 + 453.5);
    EXPECT_FLOAT_EQ(wide.map_y_half.at<float>(3, 4), 484 + 968 + 226.5);
    // Width 3888: 1821 and 910.
    const StitchMaps large = build_stitch_maps({16, 8}, {3888, 3888}, 1821.0, 0, Rotation{});
    EXPECT_FLOAT_EQ(large.map_y.at<float>(6, 8), 1944 + 3888 + 910.5);
    EXPECT_FLOAT_EQ(large.map_y_half.at<float>(3, 4), 972 + 1944 + 455);
}

TEST(BuildStitchMaps, EqualsThePlainComputationBitForBit) {
    struct Config {
        int W, H, w, h;
        double radius;
        int band;
        Rotation a;
    };
    const Config configs[] = {
        {3840, 1920, 1936, 1936, 907.0, 0, {0.1, -0.2, 0, 0, 15 * kPi / 180}},
        {960, 480, 1440, 1440, 675.0, 0, {0, 0, 0, 0, 0}},
        {720, 360, 1440, 1440, 675.0, 186, {0.3, 2.5, 0.2, -0.1, 1.0}},
        {721, 363, 3888, 3888, 1821.0, 366, {-4.71238898038469, 3.14159, 0, 0, -kHalfPi}},
        {400, 200, 1936, 1936, 907.0, 0, {40.0, -50.0, 0, 0, 0.5}},  // rolls beyond the shortcut
    };
    for (const Config& c : configs) {
        const StitchMaps maps = build_stitch_maps({c.W, c.H}, {c.w, c.h}, c.radius, c.band, c.a);
        EXPECT_EQ(differences(maps, c.W, c.H, c.w, c.h, c.radius, c.band, c.a), 0)
            << c.W << "x" << c.H << " band " << c.band;
        EXPECT_EQ(cv::countNonZero(maps.map_x != maps.map_x), 0) << "NaN in the maps";
    }
}

TEST(BuildStitchMaps, EmptyOutputGivesEmptyMapsAndCopiesShareBuffers) {
    const StitchMaps empty = build_stitch_maps({0, 8}, {1440, 1440}, 675.0, 0, Rotation{});
    EXPECT_TRUE(empty.map_x.empty());
    EXPECT_TRUE(empty.map_y_half.empty());
    StitchMaps maps = build_stitch_maps({16, 8}, {1440, 1440}, 675.0, 0, Rotation{});
    const float before = maps.map_x.at<float>(1, 4);
    {
        const StitchMaps copy = maps;
        EXPECT_EQ(copy.map_x.data, maps.map_x.data);
        EXPECT_EQ(copy.map_y_half.data, maps.map_y_half.data);
    }
    EXPECT_EQ(maps.map_x.at<float>(1, 4), before);
}

}  // namespace
}  // namespace orbv
