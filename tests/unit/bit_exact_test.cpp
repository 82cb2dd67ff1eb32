// The optimised stitching steps against their straightforward versions, bit for bit: the maps
// against the projection computed term by term, the remap against the matrix library's, and the
// frame conversion against the plain sequence of its steps.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "media/frame_converter.h"
#include "media/frame_planes.h"
#include "stitch/bilinear_remap.h"
#include "stitch/seam_band.h"

extern "C" {
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace orbv {
namespace {

constexpr double kPi = 3.141592653589793, kHalfPi = kPi / 2;

// A float's bits: bit-exact means -0 differs from 0 and NaNs compare by payload.
uint32_t bits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, sizeof(u));
    return u;
}

void apply_luts(PlaneSet& set, const PlaneLuts& luts) {
    for (int p = 0; p < 3; ++p) {
        for (uint8_t* b = set.planes[p].data; luts.planes[p].enabled && b < set.planes[p].dataend;
             ++b)
            *b = luts.planes[p].table[*b];
    }
}

// The projection of output pixel (j, i) written out term by term, nothing hoisted.
SourcePoint straightforward(int j, int i, int Wm, int Hm, int ws, int hs, int R, int B,
                            const Rotation& a) {
    const double lambda = j * 6.283185307179586 / Wm - kPi, phi = i * kPi / Hm, Rd = R;
    const double X = Rd * std::sin(phi) * std::cos(lambda);
    const double Y = Rd * std::sin(phi) * std::sin(lambda);
    const double Z = Rd * std::cos(phi);
    const double c2 = std::cos(a.about_x), s2 = std::sin(a.about_x), c3 = std::cos(a.about_z);
    const double s3 = std::sin(a.about_z), c4 = std::cos(a.about_y), s4 = std::sin(a.about_y);
    const double Xr = (c3 * c4 - s3 * s2 * s4) * X - s3 * c2 * Y + (s3 * s2 * c4 + c3 * s4) * Z;
    const double Yr = (c3 * s2 * s4 + s3 * c4) * X + c3 * c2 * Y + (s3 * s4 - c3 * s2 * c4) * Z;
    const double Zr = -c2 * s4 * X + s2 * Y + c2 * c4 * Z;
    const double theta = std::acos(std::max(-1.0, std::min(1.0, Zr / Rd)));
    const double psi = std::atan2(Xr, Yr);
    const int guard = SeamBandLayout::kGuardRows;
    const double strip = SeamBandLayout::strip(B), delta = strip * kPi / ws * 0.5;
    if (B > 0 && kHalfPi - delta < theta && theta < kHalfPi + delta) {
        double u = (4.71238898038469 - psi) * ws / kPi;
        if (u > 2 * ws) u -= 2 * ws;
        const double v = (theta - (kHalfPi - delta)) * hs / kPi;
        if (u < ws) return {std::min(u, ws - 1.0), 2 * hs + v + guard};
        return {std::min(u, 2 * ws - 1.0) - ws, 2 * hs + v + strip + 2 * guard};
    }
    const double k = Rd / kHalfPi;
    const int cx = ws / 2, cy = hs / 2;
    if (theta < kHalfPi) {
        return {cx + k * theta * std::cos(psi + a.lens1_roll),
                cy + k * theta * std::sin(psi + a.lens1_roll)};
    }
    const double rho = k * (kPi - theta);
    return {cx + rho * std::sin(psi - kHalfPi + a.lens2_roll),
            cy + hs + rho * std::cos(psi - kHalfPi + a.lens2_roll)};
}

bool same(const cv::Mat& a, const cv::Mat& b) {
    return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

// Both code paths of each pass, and the fixed-point maps an export gets.
TEST(BitExact, MapsEqualTheProjectionTermByTerm) {
    struct Config {
        int W, H, w;
        double radius;
        int band;
        Rotation a;
    };
    for (const Config& c : {
             Config{3840, 1920, 1936, 907.0, 0, {0.1, -0.2, 0, 0, 15 * kPi / 180}},
             Config{720, 360, 1440, 675.0, 186, {0.3, 2.5, 0.2, -0.1, 1.0}},
             Config{721, 363, 3888, 1821.0, 366, {-4.71238898038469, 3.14159, 0, 0, -kHalfPi}},
             Config{400, 200, 1936, 907.0, 0, {40.0, -50.0, 0, 0, 0.5}},  // rolls past a turn
         }) {
        const StitchMaps maps = build_stitch_maps({c.W, c.H}, {c.w, c.w}, c.radius, c.band, c.a);
        for (SimdPath path : {SimdPath::kFast, SimdPath::kPortable}) {
            long differing = 0;
            for (int half = 0; half < 2; ++half) {  // luma, then chroma at half the sizes
                const int W = c.W >> half, H = c.H >> half, w = c.w >> half;
                const int R = static_cast<int>(half ? c.radius * 0.5 : c.radius);
                const int B = half ? static_cast<int>(SeamBandLayout::strip(c.band) +
                                                      SeamBandLayout::kExtraRows)
                                   : c.band;
                cv::Mat mx, my;
                build_pass_maps({W, H}, {w, w}, {w / 2, w / 2}, R, B, c.a, path, mx, my);
                ASSERT_EQ(mx.size(), cv::Size(W, H));
                for (int i = 0; i < H; ++i) {
                    for (int j = 0; j < W; ++j) {
                        const SourcePoint s = straightforward(j, i, W, H, w, w, R, B, c.a);
                        const float x = static_cast<float>(s.x), y = static_cast<float>(s.y);
                        differing += bits(x) != bits(mx.at<float>(i, j)) ||
                                     bits(y) != bits(my.at<float>(i, j));
                    }
                }
                const FixedPointMap fixed = to_fixed_point(mx, my);
                const FixedPointMap& built = half ? maps.map_half : maps.map;
                EXPECT_TRUE(same(built.taps, fixed.taps) && same(built.fractions, fixed.fractions));
            }
            EXPECT_EQ(differing, 0) << c.W << "x" << c.H << " band " << c.band;
        }
    }
}

cv::Mat random_plane(int rows, int cols, cv::RNG& rng) {
    cv::Mat m(rows, cols, CV_8UC1);
    rng.fill(m, cv::RNG::UNIFORM, 0, 256);
    return m;
}

cv::Mat cv_remap(const cv::Mat& src, const cv::Mat& mx, const cv::Mat& my) {
    cv::Mat out;
    cv::remap(src, out, mx, my, cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar());
    return out;
}

// Random planes and positions, with positions outside, on the edges, not a number and huge
// sprinkled in, through both code paths and the paired form, against the matrix library's remap
// of the same fixed-point map (its float-map path reads infinite positions otherwise on ARM64).
TEST(BitExact, RemapEqualsTheMatrixLibrarys) {
    cv::RNG rng(7);
    orbv::BandPool pool(orbv::kMaxRowBands);  // the map's two rows of tiles in two bands
    for (int trial = 0; trial < 300; ++trial) {
        const int w = 1 + rng.uniform(0, 40), h = 1 + rng.uniform(0, 40);
        const cv::Mat src = random_plane(h, w, rng), other = random_plane(h, w, rng);
        cv::Mat mx(20, 150, CV_32FC1), my(20, 150, CV_32FC1);  // whole and cut tiles
        rng.fill(mx, cv::RNG::UNIFORM, -3.f, w + 3.f);
        rng.fill(my, cv::RNG::UNIFORM, -3.f, h + 3.f);
        const float specials[] = {NAN,   INFINITY, -INFINITY, 1e10f,      -1e10f,   -0.5f,
                                  -1.0f, w - 1.0f, h - 1.0f,  -1.0f / 64, w - 0.5f, 0.0f};
        for (int q = 0; q < 200; ++q) {
            mx.at<float>(rng.uniform(0, 20), rng.uniform(0, 150)) = specials[rng.uniform(0, 12)];
            my.at<float>(rng.uniform(0, 20), rng.uniform(0, 150)) = specials[rng.uniform(0, 12)];
        }
        const FixedPointMap map = to_fixed_point(mx, my);
        for (SimdPath path : {SimdPath::kFast, SimdPath::kPortable}) {
            cv::Mat single, first, second;
            remap_bilinear(src, map, single, path, &pool);
            remap_bilinear_pair(src, other, map, first, second, path, &pool);
            ASSERT_TRUE(same(single, cv_remap(src, map.taps, map.fractions))) << w << "x" << h;
            ASSERT_TRUE(same(first, single) &&
                        same(second, cv_remap(other, map.taps, map.fractions)));
        }
    }
}

// A frame with its own buffers (rows padded to 32 bytes), every byte random.
FramePtr random_frame(int w, AVPixelFormat format, cv::RNG& rng) {
    FramePtr f(av_frame_alloc());
    f->width = f->height = w;
    f->format = format;
    EXPECT_EQ(av_frame_get_buffer(f.get(), 32), 0);
    for (int k = 0; k < 3; ++k) {
        const int rows = k ? AV_CEIL_RSHIFT(w, av_pix_fmt_desc_get(format)->log2_chroma_h) : w;
        cv::Mat plane(rows, f->linesize[k], CV_8UC1, f->data[k]);
        rng.fill(plane, cv::RNG::UNIFORM, 0, 256);
    }
    return f;
}

std::string frame_bytes(const AVFrame& f) {
    const int shift = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(f.format))->log2_chroma_h;
    std::string bytes;
    for (int k = 0; k < 3; ++k) {
        const int rows = k ? AV_CEIL_RSHIFT(f.height, shift) : f.height;
        bytes.append(reinterpret_cast<const char*>(f.data[k]), size_t(f.linesize[k]) * rows);
    }
    return bytes;
}

// The conversion as the plain sequence of its steps: a new 4:2:0 frame and scaler per 4:2:2
// input, deep copies, the tables, and the stacks remapped by the matrix library.
std::vector<cv::Mat> plain_conversion(const AVFrame* f1, const AVFrame* f2, const StitchSetup& p) {
    const AVFrame* lens[2] = {f1, f2};
    FramePtr converted[2];
    for (int s = 0; s < 2; ++s) {
        if (lens[s]->format != AV_PIX_FMT_YUV422P && lens[s]->format != AV_PIX_FMT_YUVJ422P)
            continue;
        converted[s].reset(av_frame_alloc());
        converted[s]->width = converted[s]->height = f1->width;
        converted[s]->format = AV_PIX_FMT_YUV420P;
        EXPECT_EQ(av_frame_get_buffer(converted[s].get(), 32), 0);
        const int w = f1->width;
        SwsContext* scaler = sws_getContext(w, w, AV_PIX_FMT_YUV422P, w, w, AV_PIX_FMT_YUV420P,
                                            SWS_BICUBIC, nullptr, nullptr, nullptr);
        sws_scale(scaler, lens[s]->data, lens[s]->linesize, 0, w, converted[s]->data,
                  converted[s]->linesize);
        sws_freeContext(scaler);
        lens[s] = converted[s].get();
    }
    PlaneSet one = frame_to_planes(lens[0]), two = frame_to_planes(lens[1]);
    apply_luts(one, p.luts1), apply_luts(two, p.luts2);
    std::vector<cv::Mat> out(3);
    for (int k = 0; k < 3; ++k) {
        std::vector<cv::Mat> stack{one.planes[k], two.planes[k]};
        if (p.band.valid) stack.push_back(p.band.planes[k]);
        cv::Mat canvas;
        cv::vconcat(stack, canvas);
        const FixedPointMap& map = k ? p.maps.map_half : p.maps.map;
        out[k] = cv_remap(canvas, map.taps, map.fractions);
    }
    return out;
}

// Formats, sizes, bands and colour offsets of every kind, three pairs a converter; the inputs are
// only read.
TEST(BitExact, FrameConversionEqualsThePlainSequence) {
    cv::RNG rng(11);
    const std::optional<int32_t> off;
    struct Case {
        int w, strip;
        AVPixelFormat f1, f2;
        std::optional<int32_t> offsets1[3], offsets2[3];
    };
    for (const Case& c : {
             Case{240, 0, AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P, {off, off, off}, {off, off, off}},
             Case{240, 20, AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUVJ420P, {10, -5, 3}, {0, off, -40}},
             Case{242, 9, AV_PIX_FMT_YUVJ422P, AV_PIX_FMT_YUVJ422P, {-300, 0, off}, {off, 7, off}},
             Case{246, 0, AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV422P, {off, off, 300}, {12, 12, 12}},
         }) {
        StitchSetup p;
        const int band_rows = c.strip > 0 ? SeamBandLayout::rows(c.strip) : 0;
        if (c.strip > 0) {
            const int chroma_rows = c.strip + SeamBandLayout::kExtraRows;  // the maps' half band
            p.band.planes = {random_plane(band_rows, c.w, rng),
                             random_plane(chroma_rows, c.w / 2, rng),
                             random_plane(chroma_rows, c.w / 2, rng)};
            p.band.valid = 1;
        }
        p.maps = build_stitch_maps({2 * c.w, c.w}, {c.w, c.w}, c.w * 0.47, band_rows,
                                   Rotation{0.2, -0.3, 0, 0, 0.4});
        p.luts1 = make_plane_luts(c.offsets1[0], c.offsets1[1], c.offsets1[2]);
        p.luts2 = make_plane_luts(c.offsets2[0], c.offsets2[1], c.offsets2[2]);
        FrameConverter converter;
        for (int call = 0; call < 3; ++call) {
            FramePtr f1 = random_frame(c.w, c.f1, rng), f2 = random_frame(c.w, c.f2, rng);
            const std::string before1 = frame_bytes(*f1), before2 = frame_bytes(*f2);
            std::vector<cv::Mat> got;
            ASSERT_EQ(
                converter.convert_frame(
                    f1.get(), f2.get(), p,
                    [&](AVFrame* f) {
                        for (int k = 0; k < 3; ++k) {
                            const int n = k ? c.w / 2 : c.w;
                            got.push_back(
                                cv::Mat(n, 2 * n, CV_8UC1, f->data[k], f->linesize[k]).clone());
                        }
                        return 0;
                    }),
                0);
            const std::vector<cv::Mat> expected = plain_conversion(f1.get(), f2.get(), p);
            for (int k = 0; k < 3; ++k) EXPECT_TRUE(same(got[k], expected[k])) << c.w << " " << k;
            EXPECT_TRUE(frame_bytes(*f1) == before1 && frame_bytes(*f2) == before2);
        }
    }
}

}  // namespace
}  // namespace orbv
