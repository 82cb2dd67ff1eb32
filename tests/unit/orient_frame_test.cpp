// The thumbnails' EXIF orientation transform: every sample lands exactly where the orientation
// puts it, and nothing is written outside the destination's planes, even one of the wrong size.
// And the reduced decode of still thumbnails against the full-size one.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "media/libav_if.h"
#include "media/orientation.h"
#include "media/thumbnail_job.h"
#include "sample_shot.h"
#include "support/test_support.h"

namespace orbv {
namespace {

int plane_side(int side, int plane) { return plane ? (side + 1) / 2 : side; }

// A 4:2:0 frame in one buffer (as FFmpeg allocates it) filled with 0xEE, and with distinct samples
// (modulo 256) in its planes when `numbered`.
FramePtr frame(int w, int h, bool numbered) {
    FramePtr f = make_frame();
    f->width = w, f->height = h, f->format = AV_PIX_FMT_YUV420P;
    EXPECT_EQ(av_frame_get_buffer(f.get(), 32), 0);
    EXPECT_EQ(f->buf[1], nullptr);
    std::fill_n(f->buf[0]->data, f->buf[0]->size, 0xEE);
    for (int p = 0; p < 3 && numbered; ++p) {
        const int pw = plane_side(w, p);
        for (int r = 0; r < plane_side(h, p); ++r) {
            for (int x = 0; x < pw; ++x) f->data[p][r * f->linesize[p] + x] = (r * pw + x + p * 97);
        }
    }
    return f;
}

// Whether every byte of the buffer outside the planes' samples still holds 0xEE.
bool outside_untouched(const AVFrame& f) {
    const uint8_t* base = f.buf[0]->data;
    std::vector<bool> inside(f.buf[0]->size);
    for (int p = 0; p < 3; ++p) {
        for (int r = 0; r < plane_side(f.height, p); ++r) {
            std::fill_n(inside.begin() + (f.data[p] - base) + r * f.linesize[p],
                        plane_side(f.width, p), true);
        }
    }
    for (size_t i = 0; i < inside.size(); ++i) {
        if (!inside[i] && base[i] != 0xEE) return false;
    }
    return true;
}

// Where destination sample (x, y) comes from in a W x H source plane: mirrored (2), turned by a
// half (3), flipped (4), transposed (5), turned clockwise (6), transposed across the other
// diagonal (7) or turned counter-clockwise (8); other values leave it.
std::pair<int, int> source_of(int o, int W, int H, int x, int y) {
    if (o == 2) return {W - 1 - x, y};
    if (o == 3) return {W - 1 - x, H - 1 - y};
    if (o == 4) return {x, H - 1 - y};
    if (o == 5) return {y, x};
    if (o == 6) return {y, H - 1 - x};
    if (o == 7) return {W - 1 - y, H - 1 - x};
    if (o == 8) return {W - 1 - y, x};
    return {x, y};
}

TEST(OrientFrame, MovesEverySampleExactlyAndWritesNothingOutside) {
    // Odd and even, square and not: chroma planes are the rounded-up halves.
    for (auto [W, H] : {std::pair{6, 4}, {8, 8}, {7, 5}, {64, 16}}) {
        const FramePtr src = frame(W, H, true);
        for (int o = -1; o <= 9; ++o) {
            const bool quarter = is_quarter_turn(o);
            for (bool right_size : {true, false}) {
                SCOPED_TRACE(std::to_string(W) + "x" + std::to_string(H) + " orientation " +
                             std::to_string(o) + (right_size ? "" : " into the wrong size"));
                const FramePtr dst =
                    quarter == right_size ? frame(H, W, false) : frame(W, H, false);
                orient_frame(src.get(), dst.get(), o);
                EXPECT_TRUE(outside_untouched(*dst));
                for (int p = 0; p < 3 && right_size; ++p) {
                    for (int y = 0; y < plane_side(dst->height, p); ++y) {
                        for (int x = 0; x < plane_side(dst->width, p); ++x) {
                            const auto [sx, sy] =
                                source_of(o, plane_side(W, p), plane_side(H, p), x, y);
                            ASSERT_EQ(dst->data[p][y * dst->linesize[p] + x],
                                      src->data[p][sy * src->linesize[p] + sx])
                                << "plane " << p << " at " << x << "," << y;
                        }
                    }
                }
            }
        }
    }
}

// A still's thumbnail decoded reduced looks like the one decoded at full size (luma PSNR of at
// least 35 dB) and turns alike, a quarter turn swapping width and height.
TEST(StillThumbnail, ReducedDecodeLooksLikeTheFullSizeOne) {
    const orbv_sample::Picture lens = orbv_sample::LensRenderer(1936).render(1, 0);
    orbv_sample::Picture wide(1936, 1452);  // the middle rows of the lens picture
    std::copy_n(lens.y.begin() + 242 * 1936, wide.y.size(), wide.y.begin());
    std::copy_n(lens.u.begin() + 121 * 968, wide.u.size(), wide.u.begin());
    std::copy_n(lens.v.begin() + 121 * 968, wide.v.size(), wide.v.begin());
    orbv_test::TempDir dir;
    const std::string still = dir.file("still.jpg"), reduced = dir.file("reduced.jpg");
    orbv_sample::write_still(still, wide, nullptr);
    struct Row {
        int width, orientation;
        std::string size;
    };
    for (const Row& r : std::vector<Row>{{160, 1, "160\n120"},
                                         {320, 1, "320\n240"},
                                         {320, 6, "240\n320"},
                                         {100, 8, "75\n100"}}) {
        SCOPED_TRACE(std::to_string(r.width) + " orientation " + std::to_string(r.orientation));
        for (const auto decode : {ThumbnailDecode::Reduced, ThumbnailDecode::FullSize}) {
            libavIF media(still.c_str());
            const std::string out =
                decode == ThumbnailDecode::Reduced ? reduced : dir.file("full.jpg");
            ASSERT_EQ(media.open_input(0), 0);
            ThumbnailJob job(media.take_input(0));
            ASSERT_FALSE(job.write_thumbnail(out.c_str(), r.width, r.orientation, decode).failed());
        }
        EXPECT_EQ(orbv_test::probe(reduced, "v", "stream=width,height"), r.size);
        EXPECT_GE(orbv_test::luma_psnr(reduced, dir.file("full.jpg")), 35.0);
    }
}

}  // namespace
}  // namespace orbv
