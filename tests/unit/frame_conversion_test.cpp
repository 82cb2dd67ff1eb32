// Frames to planes and back, and the per-export frame conversion against the plain sequence
// of the same steps.
#include <gtest/gtest.h>

#include <climits>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "stitch/frame_converter.h"
#include "stitch/frame_planes.h"
#include "support/plain_stitch.h"

extern "C" {
#include <libavutil/error.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace orbv {
namespace {

using orbv_test::any_enabled;
using orbv_test::apply_plane_luts;

// A frame with its own buffers (rows padded to 32 bytes), every byte random.
FramePtr random_frame(int w, int h, AVPixelFormat format, cv::RNG& rng) {
    FramePtr f(av_frame_alloc());
    f->width = w;
    f->height = h;
    f->format = format;
    EXPECT_EQ(av_frame_get_buffer(f.get(), 32), 0);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    for (int k = 0; k < 3 && f->data[k]; ++k) {
        const int rows = k ? AV_CEIL_RSHIFT(h, desc->log2_chroma_h) : h;
        cv::Mat plane(rows, f->linesize[k], CV_8UC1, f->data[k]);
        rng.fill(plane, cv::RNG::UNIFORM, 0, 256);
    }
    return f;
}

std::vector<uint8_t> frame_bytes(const AVFrame& f) {
    std::vector<uint8_t> bytes;
    for (int k = 0; k < 3; ++k) {
        const int rows =
            k ? (f.format == AV_PIX_FMT_YUV420P ? (f.height + 1) / 2 : f.height) : f.height;
        bytes.insert(bytes.end(), f.data[k], f.data[k] + static_cast<size_t>(f.linesize[k]) * rows);
    }
    return bytes;
}

bool same(const cv::Mat& a, const cv::Mat& b) {
    return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

// The conversion step by step as first written down: a new 4:2:0 frame and scaler per 4:2:2
// input, deep copies, tables, stacks and the matrix library's remap.
std::vector<cv::Mat> plain_conversion(const AVFrame* f1, const AVFrame* f2,
                                      const ExportParams& params) {
    const AVFrame* lens[2] = {f1, f2};
    FramePtr converted[2];
    for (int s = 0; s < 2; ++s) {
        const int format = lens[s]->format;
        if (format != AV_PIX_FMT_YUV422P && format != AV_PIX_FMT_YUVJ422P) continue;
        converted[s].reset(av_frame_alloc());
        converted[s]->width = f1->width;
        converted[s]->height = f1->height;
        converted[s]->format = AV_PIX_FMT_YUV420P;
        EXPECT_EQ(av_frame_get_buffer(converted[s].get(), 32), 0);
        SwsContext* scaler =
            sws_getContext(lens[s]->width, lens[s]->height, AV_PIX_FMT_YUV422P, f1->width,
                           f1->height, AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr);
        sws_scale(scaler, lens[s]->data, lens[s]->linesize, 0, lens[s]->height, converted[s]->data,
                  converted[s]->linesize);
        sws_freeContext(scaler);
        lens[s] = converted[s].get();
    }
    PlaneSet one = frame_to_planes(lens[0]), two = frame_to_planes(lens[1]);
    if (any_enabled(params.luts1)) apply_plane_luts(one, params.luts1);
    if (any_enabled(params.luts2)) apply_plane_luts(two, params.luts2);
    std::vector<cv::Mat> out;
    for (int k = 0; k < 3; ++k) {
        std::vector<cv::Mat> stack{one.planes[k], two.planes[k]};
        if (params.band.valid) stack.push_back(params.band.planes[k]);
        cv::Mat canvas, result;
        cv::vconcat(stack, canvas);
        cv::remap(canvas, result, k ? params.maps.map_x_half : params.maps.map_x,
                  k ? params.maps.map_y_half : params.maps.map_y, cv::INTER_LINEAR,
                  cv::BORDER_CONSTANT, cv::Scalar());
        out.push_back(result);
    }
    return out;
}

// What the encoder step received.
struct Capture {
    std::vector<cv::Mat> planes;
    int64_t pts = -1;
    int format = -1;
    int calls = 0;
    int32_t result = 0;
    FrameConverter::EncodeStep step() {
        return [this](AVFrame* f) {
            ++calls;
            pts = f->pts;
            format = f->format;
            planes.clear();
            for (int k = 0; k < 3; ++k) {
                const int rows = k ? f->height / 2 : f->height, cols = k ? f->width / 2 : f->width;
                planes.push_back(cv::Mat(rows, cols, CV_8UC1, f->data[k], f->linesize[k]).clone());
            }
            return result;
        };
    }
};

ExportParams params_for(int w, int h, int band_strip, cv::RNG& rng) {
    ExportParams p;
    if (band_strip > 0) {
        p.band.planes = {cv::Mat(2 * band_strip + 6, w, CV_8UC1),
                         cv::Mat(band_strip + 6, w / 2, CV_8UC1),
                         cv::Mat(band_strip + 6, w / 2, CV_8UC1)};
        for (cv::Mat& m : p.band.planes) rng.fill(m, cv::RNG::UNIFORM, 0, 256);
        p.band.valid = 1;
        p.band_rows = 2 * band_strip + 6;
    }
    p.maps = build_stitch_maps({2 * w, w}, {w, h}, w * 0.47, p.band_rows,
                               Rotation{0.2, -0.3, 0, 0, 0.4});
    return p;
}

TEST(FramePlanes, SplitCopiesAndWrapBorrows) {
    cv::RNG rng(5);
    FramePtr frame = random_frame(37, 21, AV_PIX_FMT_YUV420P, rng);
    const PlaneSet set = frame_to_planes(frame.get());
    ASSERT_EQ(set.valid, 1);
    ASSERT_EQ(set.planes.size(), 3u);
    EXPECT_EQ(set.planes[0].size(), cv::Size(37, 21));
    EXPECT_EQ(set.planes[1].size(), cv::Size(18, 10));
    EXPECT_TRUE(set.planes[2].isContinuous());
    const uint8_t first = set.planes[1].at<uint8_t>(9, 17);
    EXPECT_EQ(first, frame->data[1][9 * frame->linesize[1] + 17]);
    frame->data[1][9 * frame->linesize[1] + 17] ^= 0xff;  // the set holds its own copy
    EXPECT_EQ(set.planes[1].at<uint8_t>(9, 17), first);

    FramePtr wrapped = planes_to_frame(set);
    ASSERT_TRUE(wrapped);
    EXPECT_EQ(wrapped->width, 37);
    EXPECT_EQ(wrapped->height, 21);
    EXPECT_EQ(wrapped->format, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(wrapped->data[2], set.planes[2].data);
    EXPECT_EQ(wrapped->linesize[1], 18);
    EXPECT_EQ(wrapped->buf[0], nullptr);
    EXPECT_FALSE(planes_to_frame(PlaneSet()));

    // Frames that do not split into three 4:2:0 planes give an invalid, empty set.
    FramePtr one_row = random_frame(16, 1, AV_PIX_FMT_YUV420P, rng);
    FramePtr two_planes = random_frame(16, 16, AV_PIX_FMT_NV12, rng);
    FramePtr coarse = random_frame(16, 16, AV_PIX_FMT_YUV410P, rng);
    for (const AVFrame* f : {one_row.get(), two_planes.get(), coarse.get()}) {
        const PlaneSet bad = frame_to_planes(f);
        EXPECT_EQ(bad.valid, 0);
        EXPECT_TRUE(bad.planes.empty());
    }
}

TEST(FrameConverter, EqualsThePlainSequenceBitForBit) {
    cv::RNG rng(11);
    struct Case {
        int w, h, strip;
        AVPixelFormat f1, f2;
        int offsets1[3], offsets2[3];
    };
    const int off = kOffsetUnchanged;
    const Case cases[] = {
        {240, 240, 0, AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P, {off, off, off}, {off, off, off}},
        {240, 240, 20, AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUVJ420P, {10, -5, 3}, {0, off, -40}},
        {242, 242, 9, AV_PIX_FMT_YUVJ422P, AV_PIX_FMT_YUVJ422P, {-300, 0, off}, {off, 7, off}},
        {246, 246, 0, AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV422P, {off, off, 300}, {12, 12, 12}},
    };
    for (const Case& c : cases) {
        ExportParams params = params_for(c.w, c.h, c.strip, rng);
        params.luts1 = make_plane_luts(c.offsets1[0], c.offsets1[1], c.offsets1[2]);
        params.luts2 = make_plane_luts(c.offsets2[0], c.offsets2[1], c.offsets2[2]);
        FrameConverter converter;
        Capture capture;
        for (int call = 0; call < 3; ++call) {
            FramePtr f1 = random_frame(c.w, c.h, c.f1, rng);
            FramePtr f2 = random_frame(c.w, c.h, c.f2, rng);
            ASSERT_EQ(converter.convert_frame(f1.get(), f2.get(), params, capture.step()), 0);
            const std::vector<cv::Mat> expected = plain_conversion(f1.get(), f2.get(), params);
            EXPECT_EQ(capture.pts, 1001 * call);
            EXPECT_EQ(capture.format, AV_PIX_FMT_YUV420P);
            for (int k = 0; k < 3; ++k)
                EXPECT_TRUE(same(capture.planes[k], expected[k])) << c.w << " plane " << k;
        }
        EXPECT_EQ(converter.video_pts, 3003);
        EXPECT_EQ(converter.errnum, 0);
    }
}

TEST(FrameConverter, AStillFrameIsNeverModified) {
    cv::RNG rng(9);
    ExportParams params = params_for(128, 128, 4, rng);
    params.luts1 = make_plane_luts(40, -40, 25);
    params.luts2 = make_plane_luts(-30, 30, kOffsetUnchanged);
    FramePtr still = random_frame(128, 128, AV_PIX_FMT_YUVJ422P, rng);
    FramePtr movie = random_frame(128, 128, AV_PIX_FMT_YUV420P, rng);
    const std::vector<uint8_t> before = frame_bytes(*still), movie_before = frame_bytes(*movie);
    FrameConverter converter;
    Capture capture;
    std::vector<cv::Mat> first;
    for (int call = 0; call < 4; ++call) {
        ASSERT_EQ(converter.convert_frame(still.get(), movie.get(), params, capture.step()), 0);
        if (call == 0) first = capture.planes;
        for (int k = 0; k < 3; ++k) EXPECT_TRUE(same(capture.planes[k], first[k])) << call;
    }
    EXPECT_EQ(frame_bytes(*still), before);
    EXPECT_EQ(frame_bytes(*movie), movie_before);
}

TEST(FrameConverter, EncoderResultsAndUnusableInputs) {
    cv::RNG rng(4);
    const ExportParams params = params_for(64, 64, 0, rng);
    FramePtr f1 = random_frame(64, 64, AV_PIX_FMT_YUV420P, rng);
    FramePtr f2 = random_frame(64, 64, AV_PIX_FMT_YUV420P, rng);
    FrameConverter converter;
    converter.video_pts = 5005;
    Capture capture;
    capture.result = AVERROR(EIO);
    EXPECT_EQ(converter.convert_frame(f1.get(), f2.get(), params, capture.step()), AVERROR(EIO));
    EXPECT_EQ(converter.errnum, AVERROR(EIO));
    EXPECT_EQ(capture.pts, 5005);
    capture.result = 1;  // "no packet": success
    EXPECT_EQ(converter.convert_frame(f1.get(), f2.get(), params, capture.step()), 0);
    EXPECT_EQ(converter.errnum, 1);
    EXPECT_EQ(converter.video_pts, 7007);

    // Rejected before stamping: nothing reaches the encoder and the clock stands still.
    capture.result = 0;
    capture.calls = 0;
    FramePtr empty(av_frame_alloc());
    FramePtr packed = random_frame(64, 64, AV_PIX_FMT_NV12, rng);
    FramePtr narrow = random_frame(62, 64, AV_PIX_FMT_YUV420P, rng);
    for (const AVFrame* bad : {empty.get(), packed.get(), narrow.get()}) {
        EXPECT_EQ(converter.convert_frame(f1.get(), bad, params, capture.step()), AVERROR(EINVAL));
        EXPECT_EQ(converter.errnum, AVERROR(EINVAL));
    }
    ExportParams no_maps = params;
    no_maps.maps = StitchMaps();
    EXPECT_EQ(converter.convert_frame(f1.get(), f2.get(), no_maps, capture.step()),
              AVERROR(EINVAL));
    ExportParams tall_band = params;
    tall_band.band.planes = {cv::Mat(SHRT_MAX, 64, CV_8UC1, cv::Scalar(1)),
                             cv::Mat(10, 32, CV_8UC1), cv::Mat(10, 32, CV_8UC1)};
    tall_band.band.valid = 1;
    EXPECT_EQ(converter.convert_frame(f1.get(), f2.get(), tall_band, capture.step()),
              AVERROR(EINVAL));
    EXPECT_EQ(capture.calls, 0);
    EXPECT_EQ(converter.video_pts, 7007);
}

}  // namespace
}  // namespace orbv
