// A whole frame pair: two lens pictures rendered from a known scene with the dual-fisheye
// lens model must stitch into that scene's equirectangular picture.
#include <gtest/gtest.h>

#include <cmath>
#include <opencv2/core.hpp>
#include <utility>

#include "stitch/frame_converter.h"

namespace orbv {
namespace {

constexpr double kPi = 3.141592653589793;

// The scene: smooth, with no symmetry in x, y or z, so a mirrored or swapped lens shows.
cv::Vec3d scene(const cv::Vec3d& d) {
    const double y = 128 + 55 * d[0] + 30 * d[1] * d[2] + 25 * std::sin(3 * d[2] + 2 * d[0]) +
                     15 * std::cos(4 * d[1] - d[0]);
    const double u = 128 + 45 * d[1] - 20 * d[0] * d[2];
    const double v = 128 + 40 * d[2] + 25 * std::sin(2 * d[0] - 3 * d[1]);
    return {y, u, v};
}

// Rz(a3) * Rx(a2) * Ry(a4): world directions to the lens frame, whose z is the lens-1 axis.
cv::Matx33d lens_frame(const Rotation& a) {
    const cv::Matx33d ry(std::cos(a[4]), 0, std::sin(a[4]), 0, 1, 0, -std::sin(a[4]), 0,
                         std::cos(a[4]));
    const cv::Matx33d rx(1, 0, 0, 0, std::cos(a[2]), -std::sin(a[2]), 0, std::sin(a[2]),
                         std::cos(a[2]));
    const cv::Matx33d rz(std::cos(a[3]), -std::sin(a[3]), 0, std::sin(a[3]), std::cos(a[3]), 0, 0,
                         0, 1);
    return rz * rx * ry;
}

// The world direction seen by pixel (x, y) of one lens picture: an equidistant 180-degree
// fisheye of radius R around (cx, cy). Lens 1 looks along the frame's +z with azimuth
// measured from +y toward +x and turned by a0; lens 2 looks along -z, mirrored in x, turned
// by a1.
cv::Vec3d lens_direction(int lens, double x, double y, double cx, double cy, double R,
                         const Rotation& a) {
    const double k = R / (kPi / 2), dx = x - cx, dy = y - cy, rho = std::hypot(dx, dy);
    double theta, psi;
    if (lens == 1) {
        theta = rho / k;
        psi = std::atan2(dy, dx) - a[0];
    } else {
        theta = kPi - rho / k;
        psi = std::atan2(dx, dy) + kPi / 2 - a[1];
    }
    const cv::Vec3d in_frame(std::sin(theta) * std::sin(psi), std::sin(theta) * std::cos(psi),
                             std::cos(theta));
    return lens_frame(a).t() * in_frame;
}

// One lens picture as a 4:2:0 frame; chroma samples use the half-size lens geometry.
FramePtr render_lens(int lens, int size, double radius, const Rotation& a) {
    FramePtr f(av_frame_alloc());
    f->width = f->height = size;
    f->format = AV_PIX_FMT_YUV420P;
    EXPECT_EQ(av_frame_get_buffer(f.get(), 32), 0);
    for (int k = 0; k < 3; ++k) {
        const int n = k ? size / 2 : size;
        const double c = n / 2, r = k ? static_cast<int>(radius * 0.5) : radius;
        for (int y = 0; y < n; ++y) {
            for (int x = 0; x < n; ++x) {
                const double value = scene(lens_direction(lens, x, y, c, c, r, a))[k];
                f->data[k][y * f->linesize[k] + x] = cv::saturate_cast<uint8_t>(value);
            }
        }
    }
    return f;
}

// PSNR of the stitched luma against the scene, over pixels at least 6 degrees from the seam.
double luma_psnr(const cv::Mat& luma, const Rotation& a) {
    const cv::Matx33d to_frame = lens_frame(a);
    double squared = 0;
    long count = 0;
    for (int i = 0; i < luma.rows; ++i) {
        for (int j = 0; j < luma.cols; ++j) {
            const double lambda = j * 2 * kPi / luma.cols - kPi, phi = i * kPi / luma.rows;
            const cv::Vec3d d(std::sin(phi) * std::cos(lambda), std::sin(phi) * std::sin(lambda),
                              std::cos(phi));
            const double z = (to_frame * d)[2];
            if (std::fabs(z) < std::sin(6 * kPi / 180)) continue;
            const double e = luma.at<uint8_t>(i, j) - cv::saturate_cast<uint8_t>(scene(d)[0]);
            squared += e * e;
            ++count;
        }
    }
    return 10 * std::log10(255.0 * 255.0 / (squared / count));
}

double stitched_psnr(const AVFrame* lens1, const AVFrame* lens2, const ExportParams& params) {
    FrameConverter converter;
    cv::Mat luma;
    const int32_t result = converter.convert_frame(lens1, lens2, params, [&](AVFrame* f) {
        luma = cv::Mat(f->height, f->width, CV_8UC1, f->data[0], f->linesize[0]).clone();
        return 0;
    });
    EXPECT_EQ(result, 0);
    return luma_psnr(luma, params.rotation);
}

TEST(Panorama, StitchedLensPicturesReproduceTheScene) {
    const int size = 480;
    const double radius = 225;  // the camera's ratio of radius to width
    ExportParams params;
    params.rotation = Rotation{0.3, -0.2, 0, 0, 20 * kPi / 180};
    params.maps = build_stitch_maps({2 * size, size}, {size, size}, radius, 0, params.rotation);
    const FramePtr lens1 = render_lens(1, size, radius, params.rotation);
    const FramePtr lens2 = render_lens(2, size, radius, params.rotation);
    EXPECT_GE(stitched_psnr(lens1.get(), lens2.get(), params), 35.0);

    // A swapped pair and a mirrored lens picture must not pass.
    EXPECT_LT(stitched_psnr(lens2.get(), lens1.get(), params), 35.0);
    const FramePtr mirrored(av_frame_clone(lens2.get()));
    ASSERT_EQ(av_frame_make_writable(mirrored.get()), 0);
    for (int k = 0; k < 3; ++k) {
        const int n = k ? size / 2 : size;
        cv::Mat plane(n, n, CV_8UC1, mirrored->data[k], mirrored->linesize[k]);
        cv::flip(plane.clone(), plane, 1);
    }
    EXPECT_LT(stitched_psnr(lens1.get(), mirrored.get(), params), 35.0);
}

}  // namespace
}  // namespace orbv
