// The thumbnail writer: its size rules, the eight EXIF orientations (square pictures as
// before, non-square quarter turns with swapped sides), and files without a picture.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "media/libav_if.h"
#include "media/orientation.h"
#include "sample_shot.h"
#include "support/command.h"
#include "support/test_support.h"

using orbv::FramePtr;
using orbv::libavIF;
using orbv_test::probe;
using orbv_test::run_command;
using orbv_test::shell_quote;
using orbv_test::TempDir;

namespace {

FramePtr yuv420_frame(int width, int height) {
    FramePtr frame = orbv::make_frame();
    frame->width = width;
    frame->height = height;
    frame->format = AV_PIX_FMT_YUV420P;
    EXPECT_EQ(av_frame_get_buffer(frame.get(), 32), 0);
    return frame;
}

// A 4:2:0 frame whose every luma and chroma sample is distinct (modulo 256).
FramePtr numbered_frame(int width, int height) {
    FramePtr frame = yuv420_frame(width, height);
    for (int p = 0; p < 3; ++p) {
        const int w = p == 0 ? width : (width + 1) / 2;
        const int h = p == 0 ? height : (height + 1) / 2;
        for (int r = 0; r < h; ++r)
            for (int x = 0; x < w; ++x)
                frame->data[p][r * frame->linesize[p] + x] = (r * w + x + p * 97) & 0xFF;
    }
    return frame;
}

FramePtr blank_frame(int width, int height) {
    FramePtr frame = yuv420_frame(width, height);
    for (int p = 0; p < 3; ++p) {
        const int h = p == 0 ? height : (height + 1) / 2;
        std::fill(frame->data[p], frame->data[p] + frame->linesize[p] * h, 0xEE);
    }
    return frame;
}

// Where output pixel (x, y) of an oriented picture comes from in the source (W x H).
void source_of(int orientation, int W, int H, int x, int y, int* sx, int* sy) {
    switch (orientation) {
        case 2:
            *sx = W - 1 - x;
            *sy = y;
            break;
        case 3:
            *sx = W - 1 - x;
            *sy = H - 1 - y;
            break;
        case 4:
            *sx = x;
            *sy = H - 1 - y;
            break;
        case 6:
            *sx = y;
            *sy = H - 1 - x;
            break;  // turned clockwise
        case 8:
            *sx = W - 1 - y;
            *sy = x;
            break;  // turned counter-clockwise
        default:
            *sx = x;
            *sy = y;
            break;
    }
}

// The four quadrants of the pattern picture, each a flat colour.
const uint8_t kQuadY[4] = {40, 100, 160, 220};
const uint8_t kQuadU[4] = {60, 200, 110, 160};
int quadrant(int x, int y, int W, int H) { return (x >= W / 2 ? 1 : 0) + (y >= H / 2 ? 2 : 0); }

orbv_sample::Picture quadrant_picture(int W, int H) {
    orbv_sample::Picture p(W, H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) p.luma(x, y) = kQuadY[quadrant(x, y, W, H)];
    for (int j = 0; j < p.chroma_height(); ++j)
        for (int i = 0; i < p.chroma_width(); ++i)
            p.u[j * p.chroma_width() + i] = kQuadU[quadrant(2 * i, 2 * j, W, H)];
    return p;
}

struct Decoded {
    int width = 0, height = 0;
    std::string yuv;  // planar 4:2:0 as ffmpeg decodes the file
};

// The thumbnail as the ffmpeg program decodes it.
Decoded decode_with_ffmpeg(const std::string& path) {
    Decoded d;
    d.width = std::stoi(probe(path, "v", "stream=width"));
    d.height = std::stoi(probe(path, "v", "stream=height"));
    d.yuv =
        run_command("ffmpeg -v error -i " + shell_quote(path) + " -f rawvideo -pix_fmt yuvj420p -");
    return d;
}

int32_t thumbnail(const std::string& source, const std::string& out, int width, int orientation) {
    libavIF media(source.c_str());
    EXPECT_EQ(media.open_input(0), 0) << media.errstr();
    const int32_t result = media.write_thumbnail(out.c_str(), width, orientation);
    EXPECT_FALSE(media.output_open()) << "the output side is closed on return";
    return result;
}

}  // namespace

TEST(OrientFrame, EveryOrientationMovesEverySampleExactly) {
    // Odd and even, square and not: chroma planes are the rounded-up halves.
    for (auto [W, H] : {std::pair{6, 4}, std::pair{8, 8}, std::pair{7, 5}}) {
        FramePtr src = numbered_frame(W, H);
        for (int o = -1; o <= 9; ++o) {
            SCOPED_TRACE("size " + std::to_string(W) + "x" + std::to_string(H) + " orientation " +
                         std::to_string(o));
            const bool quarter = orbv::is_quarter_turn(o);
            const int OW = quarter ? H : W;
            const int OH = quarter ? W : H;
            FramePtr dst = blank_frame(OW, OH);
            orbv::orient_frame(src.get(), dst.get(), o);
            for (int p = 0; p < 3; ++p) {
                const int pw = p == 0 ? W : (W + 1) / 2, ph = p == 0 ? H : (H + 1) / 2;
                const int ow = p == 0 ? OW : (OW + 1) / 2, oh = p == 0 ? OH : (OH + 1) / 2;
                for (int y = 0; y < oh; ++y) {
                    for (int x = 0; x < ow; ++x) {
                        int sx, sy;
                        source_of(o, pw, ph, x, y, &sx, &sy);
                        ASSERT_EQ(dst->data[p][y * dst->linesize[p] + x],
                                  src->data[p][sy * src->linesize[p] + sx])
                            << "plane " << p << " at " << x << "," << y;
                    }
                }
            }
        }
    }
}

TEST(OrientFrame, NeverWritesOutsideAWronglySizedDestination) {
    FramePtr src = numbered_frame(64, 16);
    for (int o : {1, 3, 4, 6, 8}) {
        // A destination of the source's size cannot hold a quarter turn, and one of the
        // turned size cannot hold a copy: the writer stays inside the planes (ASan checks).
        FramePtr same = blank_frame(64, 16);
        FramePtr turned = blank_frame(16, 64);
        orbv::orient_frame(src.get(), same.get(), o);
        orbv::orient_frame(src.get(), turned.get(), o);
        EXPECT_EQ(same->width, 64);
    }
}

class Thumbnail : public ::testing::Test {
  protected:
    TempDir dir;
};

TEST_F(Thumbnail, WidthRules) {
    const std::string square = dir.file("square.jpg");
    const std::string wide = dir.file("wide.jpg");
    orbv_sample::write_still(square, orbv_sample::LensRenderer(1440).render(1, 0), nullptr);
    orbv_sample::write_still(wide, quadrant_picture(1920, 1080), nullptr);
    struct Case {
        const std::string* source;
        int width;
        int expect_w, expect_h;
    };
    for (const Case& c : {Case{&square, 0, 1440, 1440}, Case{&square, 5000, 1440, 1440},
                          Case{&square, 160, 160, 160}, Case{&wide, 160, 160, 90},
                          Case{&wide, 0, 1920, 1080}, Case{&wide, 161, 161, 90}}) {
        SCOPED_TRACE(*c.source + " width " + std::to_string(c.width));
        const std::string out = dir.file("thumb.jpg");
        ASSERT_EQ(thumbnail(*c.source, out, c.width, 1), 0);
        EXPECT_EQ(probe(out, "v", "stream=codec_name"), "mjpeg");
        EXPECT_EQ(probe(out, "v", "stream=width"), std::to_string(c.expect_w));
        EXPECT_EQ(probe(out, "v", "stream=height"), std::to_string(c.expect_h));
    }
}

TEST_F(Thumbnail, EightOrientationsOfSquareAndWidePictures) {
    for (auto [W, H] : {std::pair{240, 240}, std::pair{320, 192}}) {
        const std::string source = dir.file("pattern.jpg");
        orbv_sample::write_still(source, quadrant_picture(W, H), nullptr);
        for (int o = 1; o <= 8; ++o) {
            SCOPED_TRACE(std::to_string(W) + "x" + std::to_string(H) + " orientation " +
                         std::to_string(o));
            const std::string out = dir.file("oriented.jpg");
            ASSERT_EQ(thumbnail(source, out, W / 2, o), 0);
            const Decoded d = decode_with_ffmpeg(out);
            const int w = W / 2, h = H * w / W;
            const bool quarter = o == 6 || o == 8;
            ASSERT_EQ(d.width, quarter ? h : w);
            ASSERT_EQ(d.height, quarter ? w : h);
            const uint8_t* Y = reinterpret_cast<const uint8_t*>(d.yuv.data());
            const uint8_t* U = Y + d.width * d.height;
            // The centre of each output quadrant shows the source quadrant it came from.
            for (int qy : {1, 3}) {
                for (int qx : {1, 3}) {
                    const int x = d.width * qx / 4, y = d.height * qy / 4;
                    int sx, sy;
                    source_of(o, w, h, x, y, &sx, &sy);
                    const int q = quadrant(sx, sy, w, h);
                    EXPECT_NEAR(Y[y * d.width + x], kQuadY[q], 6) << "at " << x << "," << y;
                    EXPECT_NEAR(U[(y / 2) * ((d.width + 1) / 2) + x / 2], kQuadU[q], 6)
                        << "chroma at " << x << "," << y;
                }
            }
        }
    }
}

TEST_F(Thumbnail, FirstPictureOfAMovieWithBFrames) {
    orbv_sample::LensRenderer renderer(320);
    orbv_sample::MovieOptions m;
    m.width = m.height = 320;
    m.frames = 8;
    m.b_frames = true;
    m.preset = "veryfast";
    m.picture = [&](int frame) { return renderer.render(1, frame); };
    const std::string movie = dir.file("bframes.mov");
    orbv_sample::write_movie(movie, m);
    const std::string out = dir.file("movie.jpg");
    ASSERT_EQ(thumbnail(movie, out, 0, 1), 0);
    const Decoded d = decode_with_ffmpeg(out);
    ASSERT_EQ(d.width, 320);
    EXPECT_EQ(orbv_sample::read_frame_code(reinterpret_cast<const uint8_t*>(d.yuv.data()), d.width,
                                           d.width, d.height),
              0);
}

TEST_F(Thumbnail, FileEndingBeforeAnyPicture) {
    // A movie with its index first, cut off where its media data begins: it opens, but no picture
    // can be decoded. That is no thumbnail, and no file of the name is left.
    orbv_sample::LensRenderer renderer(320);
    orbv_sample::MovieOptions m;
    m.width = m.height = 320;
    m.frames = 4;
    m.sound = orbv_sample::Sound::None;
    m.picture = [&](int frame) { return renderer.render(1, frame); };
    const std::string movie = dir.file("movie.mov");
    orbv_sample::write_movie(movie, m);
    const std::string faststart = dir.file("faststart.mov");
    run_command("ffmpeg -v error -i " + shell_quote(movie) + " -c copy -movflags +faststart " +
                shell_quote(faststart));
    const std::string bytes = orbv_test::read_file(faststart);
    const size_t mdat = bytes.find("mdat");
    ASSERT_NE(mdat, std::string::npos);
    const std::string cut = dir.file("cut.mov");
    orbv_test::write_file(cut, bytes.substr(0, mdat + 4));

    const std::string out = dir.file("none.jpg");
    libavIF media(cut.c_str());
    ASSERT_EQ(media.open_input(0), 0) << media.errstr();
    EXPECT_EQ(media.write_thumbnail(out.c_str(), 160, 1), AVERROR_EOF);
    EXPECT_EQ(media.errnum(), AVERROR_EOF);
    EXPECT_STREQ(media.errstr(), "End of file");
    EXPECT_NE(::access(out.c_str(), F_OK), 0) << "no picture, so no JPEG file";

    // Cut inside the first picture's data: the decoder's failure is reported, not a crash.
    orbv_test::write_file(cut, bytes.substr(0, mdat + 40));
    libavIF broken(cut.c_str());
    ASSERT_EQ(broken.open_input(0), 0) << broken.errstr();
    EXPECT_EQ(broken.write_thumbnail(out.c_str(), 160, 1), AVERROR_INVALIDDATA);
    EXPECT_STREQ(broken.errstr(), "Invalid data found when processing input");
    EXPECT_FALSE(broken.output_open());
}

TEST_F(Thumbnail, OddPaths) {
    const std::string source = dir.file("pattern.jpg");
    orbv_sample::write_still(source, quadrant_picture(64, 64), nullptr);
    {
        const std::string out = dir.file("thumb.unknownext");
        libavIF media(source.c_str());
        ASSERT_EQ(media.open_input(0), 0);
        EXPECT_EQ(media.write_thumbnail(out.c_str(), 32, 1), AVERROR_EXIT);
        EXPECT_EQ(std::string(media.errstr()), "Colud Not Open OutputFile:" + out);
        EXPECT_EQ(media.errnum(), 0);
    }
    {
        // A '%d' in the name is no sequence pattern: the picture goes to that very path.
        const std::string out = dir.file("thumb%d.jpg");
        libavIF media(source.c_str());
        ASSERT_EQ(media.open_input(0), 0);
        EXPECT_EQ(media.write_thumbnail(out.c_str(), 32, 1), 0);
        EXPECT_EQ(orbv_test::read_file(out).substr(0, 2), "\xFF\xD8");
        EXPECT_TRUE(orbv_test::read_file(dir.file("thumb1.jpg")).empty());
    }
    {
        const std::string out = dir.file("no/such/dir/thumb.mov");
        libavIF media(source.c_str());
        ASSERT_EQ(media.open_input(0), 0);
        EXPECT_EQ(media.write_thumbnail(out.c_str(), 32, 1), AVERROR(ENOENT));
        EXPECT_EQ(media.errnum(), AVERROR(ENOENT));
        EXPECT_FALSE(media.output_open());
    }
}
