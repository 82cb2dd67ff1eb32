// The video export loop on sample shots, for what the C interface cannot show: every picture
// pair once and in order with chosen decoder threads, the sound's exact length, stills, the
// cancel point, log lines and failures the front end never lets through.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "api/host_progress.h"
#include "media/libav_if.h"
#include "sample_shot.h"
#include "stitch/export_params.h"
#include "support/command.h"
#include "support/test_support.h"
#include "util/file_system.h"

using orbv::ExportParams;
using orbv::libavIF;
using orbv_test::probe;
using orbv_test::TempDir;

namespace {

constexpr int kLens = 1440;
constexpr double kRadius = 675.0;
constexpr int kOutWidth = 1440;
constexpr int kOutHeight = 720;
constexpr int kFrames = 30;
constexpr double kFrameSeconds = 1001.0 / 30000.0;

// Every lens picture is one flat grey whose level tells the frame, rising for lens 1 and
// falling for lens 2, so each panorama picture tells which pair it was made from.
int level(int lens, int frame) { return lens == 1 ? 20 + 7 * frame : 230 - 7 * frame; }
int frame_of(int lens, double luma) {
    return static_cast<int>(std::lround(lens == 1 ? (luma - 20) / 7 : (230 - luma) / 7));
}

orbv_sample::Picture flat(int lens, int frame) {
    return orbv_sample::Picture(kLens, kLens, static_cast<uint8_t>(level(lens, frame)));
}

struct MovieSetup {
    int lens = 1;
    int frames = kFrames;
    bool b_frames = false;
    orbv_sample::Sound sound = orbv_sample::Sound::Pcm;
    int channels = 2;
    int sample_rate = 48000;
};

void write_lens_movie(const std::string& path, const MovieSetup& setup) {
    orbv_sample::MovieOptions m;
    m.width = m.height = kLens;
    m.frames = setup.frames;
    m.b_frames = setup.b_frames;
    m.sound = setup.sound;
    m.channels = setup.channels;
    m.sample_rate = setup.sample_rate;
    const int lens = setup.lens;
    m.picture = [lens](int frame) { return flat(lens, frame); };
    orbv_sample::write_movie(path, m);
}

// The record as the export front end fills it for a whole-stream export.
ExportParams export_params() {
    ExportParams p;
    p.output_width = kOutWidth;
    p.output_height = kOutHeight;
    p.lens_radius = kRadius;
    p.luts1 = orbv::make_plane_luts(orbv::kOffsetUnchanged, orbv::kOffsetUnchanged,
                                    orbv::kOffsetUnchanged);
    p.luts2 = p.luts1;
    p.maps =
        orbv::build_stitch_maps({kOutWidth, kOutHeight}, {kLens, kLens}, kRadius, 0, p.rotation);
    p.end_time1 = p.end_time2 = -1;
    return p;
}

// Mean luma of a band of rows around `row`, over the middle half of the columns.
double band_luma(const AVFrame* f, int row) {
    double sum = 0;
    int n = 0;
    for (int r = row - 8; r < row + 8; ++r) {
        for (int x = f->width / 4; x < 3 * f->width / 4; ++x) {
            sum += f->data[0][static_cast<size_t>(r) * f->linesize[0] + x];
            ++n;
        }
    }
    return sum / n;
}

struct Shown {
    int lens1;
    int lens2;
};

// Decodes the output and tells, picture by picture, which frame of each lens it shows: lens 1
// fills the upper half of the panorama, lens 2 the lower.
std::vector<Shown> shown_frames(const std::string& path) {
    std::vector<Shown> shown;
    libavIF media(path.c_str());
    EXPECT_EQ(media.open_input(0), 0) << media.errstr();
    for (;;) {
        AVFrame* raw = nullptr;
        const int ret = media.read_video_frame(&raw);
        orbv::FramePtr frame(raw);
        if (ret != 0 || frame->width == 0) break;
        EXPECT_EQ(frame->width, kOutWidth);
        EXPECT_EQ(frame->height, kOutHeight);
        shown.push_back({frame_of(1, band_luma(frame.get(), frame->height / 4)),
                         frame_of(2, band_luma(frame.get(), 3 * frame->height / 4))});
    }
    return shown;
}

int64_t as_int(const std::string& text) { return text.empty() ? -1 : std::atoll(text.c_str()); }
double as_double(const std::string& text) { return text.empty() ? -1 : std::atof(text.c_str()); }

// The lines of the loop's own log, FFmpeg's lines left out.
std::string loop_lines(const std::string& log) {
    std::string kept;
    size_t at = 0;
    while (at < log.size()) {
        size_t end = log.find('\n', at);
        end = end == std::string::npos ? log.size() : end + 1;
        if (log.compare(at, 22, "[libavIF::write_video]") == 0) kept += log.substr(at, end - at);
        at = end;
    }
    return kept;
}

// Inputs shared by every test: made once, removed at the end.
class ExportLoop : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        inputs_ = new TempDir;
        const std::string& d = inputs_->path();
        write_lens_movie(d + "/lens1.mov", {1, kFrames, false, orbv_sample::Sound::Pcm, 2, 48000});
        write_lens_movie(d + "/lens2.mov", {2, kFrames, false, orbv_sample::Sound::Aac, 1, 32000});
        write_lens_movie(d + "/lens1_b.mov", {1, kFrames, true, orbv_sample::Sound::Pcm, 2, 48000});
        write_lens_movie(d + "/lens2_b.mov",
                         {2, kFrames, true, orbv_sample::Sound::None, 2, 48000});
        write_lens_movie(d + "/lens2_short.mov", {2, 20, false, orbv_sample::Sound::Pcm, 2, 44100});
        orbv_sample::write_still(d + "/lens1.jpg", flat(1, 3), nullptr);
        orbv_sample::write_still(d + "/lens2.jpg", flat(2, 5), nullptr);
    }
    static void TearDownTestSuite() {
        delete inputs_;
        inputs_ = nullptr;
    }
    static std::string input(const std::string& name) { return inputs_->file(name); }

    // Opens both inputs as the front end does and runs the loop.
    int32_t run(libavIF& media, const std::string& out, const ExportParams& params,
                const char* cancel = nullptr) {
        EXPECT_EQ(media.open_input(0), 0) << media.errstr();
        EXPECT_EQ(media.open_input(1), 0) << media.errstr();
        // No callback: a report every 10 pairs is the cancel test alone.
        orbv::ExportProgress progress(nullptr, cancel, "", "", out.c_str());
        return media.write_video(out.c_str(), params, progress);
    }

    static TempDir* inputs_;
    TempDir dir;
};
TempDir* ExportLoop::inputs_ = nullptr;

TEST_F(ExportLoop, MoviePairGivesEveryPairOnceInOrder) {
    struct Case {
        const char* lens1;
        const char* lens2;
        int decoder_threads;
    };
    // Plain streams decoded on the caller's thread; B-frames with frame-threaded decoders,
    // whose pictures come out several packets late.
    for (const Case c : {Case{"lens1.mov", "lens2.mov", 1}, Case{"lens1_b.mov", "lens2_b.mov", 0},
                         Case{"lens1_b.mov", "lens2.mov", 3}}) {
        SCOPED_TRACE(std::string(c.lens1) + " + " + c.lens2);
        const std::string l1 = input(c.lens1), l2 = input(c.lens2);
        const std::string out = dir.file(std::string("pair_") + c.lens1);
        libavIF media(l1.c_str(), l2.c_str());
        media.set_decoder_threads(c.decoder_threads);
        ASSERT_EQ(run(media, out, export_params()), 0) << media.errstr();
        EXPECT_FALSE(media.output_open()) << "the output is closed";
        EXPECT_EQ(media.video_pts(), kFrames * 1001);

        const std::vector<Shown> shown = shown_frames(out);
        ASSERT_EQ(shown.size(), static_cast<size_t>(kFrames));
        for (int k = 0; k < kFrames; ++k) {
            EXPECT_EQ(shown[k].lens1, k) << "picture " << k;
            EXPECT_EQ(shown[k].lens2, k) << "picture " << k;
        }
        EXPECT_EQ(probe(out, "v", "stream=codec_name"), "h264");
        EXPECT_EQ(as_int(probe(out, "v", "stream=nb_frames")), kFrames);
        EXPECT_NEAR(as_double(probe(out, "v", "stream=duration")), kFrames * kFrameSeconds, 1e-4);
    }
}

TEST_F(ExportLoop, SoundComesFromTheChosenInputAndEndsWithThePictures) {
    const std::string l1 = input("lens1.mov"), l2 = input("lens2.mov");
    const std::string shorter = input("lens2_short.mov");
    struct Case {
        std::string lens1, lens2;
        int audio_input;
        int rate;      // the chosen input's sample rate
        int pictures;  // the shorter input's
    };
    // lens1: PCM stereo 48 kHz; lens2: AAC mono 32 kHz; lens2_short: PCM 44.1 kHz, 20 frames.
    for (const Case& c : {Case{l1, l2, 0, 48000, kFrames}, Case{l1, l2, 1, 32000, kFrames},
                          Case{l1, shorter, 0, 48000, 20}, Case{shorter, l1, 1, 48000, 20}}) {
        SCOPED_TRACE("audio_input " + std::to_string(c.audio_input) + ", " +
                     std::to_string(c.pictures) + " pictures");
        const std::string out = dir.file("sound.mov");
        ExportParams params = export_params();
        params.audio_input = c.audio_input;
        libavIF media(c.lens1.c_str(), c.lens2.c_str());
        ASSERT_EQ(run(media, out, params), 0) << media.errstr();
        EXPECT_EQ(as_int(probe(out, "v", "stream=nb_frames")), c.pictures);
        EXPECT_EQ(probe(out, "a", "stream=codec_name"), "pcm_s16le");
        EXPECT_EQ(probe(out, "a", "stream=channels"), "2");
        EXPECT_EQ(as_int(probe(out, "a", "stream=sample_rate")), c.rate);
        // The sound fills the shorter picture span to the sample and goes no further.
        const int64_t samples = as_int(probe(out, "a", "stream=duration_ts"));
        EXPECT_EQ(samples, std::llround(c.pictures * kFrameSeconds * c.rate));
        EXPECT_LE(static_cast<double>(samples) / c.rate,
                  as_double(probe(out, "v", "stream=duration")) + 1e-6);
    }
}

TEST_F(ExportLoop, InputWithoutTheChosenSoundGivesNoSoundStream) {
    const std::string l1 = input("lens1.mov"), l2 = input("lens2_b.mov");
    const std::string out = dir.file("silent.mov");
    ExportParams params = export_params();
    params.audio_input = 1;  // lens2_b has no sound
    libavIF media(l1.c_str(), l2.c_str());
    ASSERT_EQ(run(media, out, params), 0) << media.errstr();
    EXPECT_EQ(probe(out, "a", "stream=codec_name"), "");
    EXPECT_EQ(as_int(probe(out, "v", "stream=nb_frames")), kFrames);
}

TEST_F(ExportLoop, TwoStillsGiveOneMotionJpegPicture) {
    const std::string l1 = input("lens1.jpg"), l2 = input("lens2.jpg");
    // A '%d' in the name is no sequence pattern: the picture goes to exactly this path.
    const std::string out = dir.file("pano%d.jpg");
    libavIF media(l1.c_str(), l2.c_str());
    ASSERT_EQ(run(media, out, export_params()), 0) << media.errstr();
    EXPECT_EQ(media.video_pts(), 1001) << "exactly one pair converted";
    EXPECT_TRUE(orbv::file_exists(out.c_str()));
    EXPECT_FALSE(orbv::file_exists(dir.file("pano1.jpg").c_str()));
    const std::string copy = dir.file("pano.jpg");  // readers take '%d' as a pattern
    std::filesystem::copy_file(out, copy);
    EXPECT_EQ(probe(copy, "v", "stream=codec_name"), "mjpeg");
    const std::vector<Shown> shown = shown_frames(copy);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].lens1, 3);
    EXPECT_EQ(shown[0].lens2, 5);
}

TEST_F(ExportLoop, StillIsRepeatedAgainstEveryMoviePicture) {
    for (int still_slot = 0; still_slot < 2; ++still_slot) {
        SCOPED_TRACE("still in slot " + std::to_string(still_slot));
        const std::string l1 = input(still_slot == 0 ? "lens1.jpg" : "lens1_b.mov");
        const std::string l2 = input(still_slot == 0 ? "lens2_short.mov" : "lens2.jpg");
        const int pictures = still_slot == 0 ? 20 : kFrames;
        const std::string out = dir.file("mixed.mov");
        ExportParams params = export_params();
        params.audio_input = 1 - still_slot;  // the movie's sound
        libavIF media(l1.c_str(), l2.c_str());
        ASSERT_EQ(run(media, out, params), 0) << media.errstr();
        const std::vector<Shown> shown = shown_frames(out);
        ASSERT_EQ(shown.size(), static_cast<size_t>(pictures));
        for (int k = 0; k < pictures; ++k) {
            EXPECT_EQ(shown[k].lens1, still_slot == 0 ? 3 : k) << "picture " << k;
            EXPECT_EQ(shown[k].lens2, still_slot == 0 ? k : 5) << "picture " << k;
        }
        EXPECT_EQ(probe(out, "a", "stream=codec_name"), "pcm_s16le");
    }
}

// The documents and a cancel through a callback are checked through the C interface; without a
// callback the cancel file is still tested at every progress point, and the loop stops there.
TEST_F(ExportLoop, CancelWithoutACallbackStopsAtTheFirstProgressPoint) {
    const std::string l1 = input("lens1.mov"), l2 = input("lens2.mov");
    const std::string cancel = dir.file("cancel");
    orbv_test::write_file(cancel, "");
    libavIF media(l1.c_str(), l2.c_str());
    EXPECT_EQ(run(media, dir.file("cancelled.mov"), export_params(), cancel.c_str()), AVERROR_EXIT);
    EXPECT_TRUE(media.cancelled());
    EXPECT_EQ(media.errnum(), AVERROR_EXIT);
    EXPECT_FALSE(media.output_open());
    EXPECT_EQ(media.video_pts(), 9 * 1001) << "the 10th pair is not converted";
}

TEST_F(ExportLoop, LogLinesAndFailuresOnlyTheLoopSees) {
    const std::string l1 = input("lens1_b.mov"), l2 = input("lens2_b.mov");
    {
        testing::internal::CaptureStderr();
        libavIF media(l1.c_str(), l2.c_str());
        const std::string out = dir.file("logged.mov");
        ASSERT_EQ(run(media, out, export_params()), 0);
        const std::string log = loop_lines(testing::internal::GetCapturedStderr());
        const std::string lines = "[libavIF::write_video] open outputfile " + out +
                                  "\n[libavIF::write_video] format name : mov (QuickTime / MOV)\n"
                                  "[libavIF::write_video] format ext : mov\n"
                                  "[libavIF::write_video] codec use AV_CODEC_ID_H264 \n"
                                  "[libavIF::write_video] add audio stream \n"
                                  "[libavIF::write_video] init swr_context \n"
                                  "[libavIF::write_video] init audio buffer \n"
                                  "[libavIF::write_video] add video stream \n"
                                  "[libavIF::write_video] AV I/O open\n"
                                  "[libavIF::write_video] write header\n"
                                  "[libavIF::write_video] start loop\n"
                                  "[libavIF::write_video] output_frame_size:1000\n";
        EXPECT_EQ(log.substr(0, lines.size()), lines);
        EXPECT_NE(log.find("\n[libavIF::write_video] loop finished 1 1\n"), std::string::npos);
    }
    {
        // A still written through the image muxer into a missing directory fails when the
        // picture is written.
        const std::string s1 = input("lens1.jpg"), s2 = input("lens2.jpg");
        testing::internal::CaptureStderr();
        libavIF media(s1.c_str(), s2.c_str());
        EXPECT_LT(run(media, dir.file("missing/out.jpg"), export_params()), 0);
        const std::string log = testing::internal::GetCapturedStderr();
        EXPECT_NE(log.find("[libavIF::write_video] convert_frame error "), std::string::npos)
            << log;
        EXPECT_FALSE(media.output_open());
    }
    {
        // Maps of another panorama size than the output's: refused before the encoder.
        ExportParams params = export_params();
        params.maps = orbv::build_stitch_maps({720, 360}, {kLens, kLens}, kRadius, 0, {});
        testing::internal::CaptureStderr();
        libavIF media(l1.c_str(), l2.c_str());
        EXPECT_EQ(run(media, dir.file("sizes.mov"), params), AVERROR(EINVAL));
        const std::string log = testing::internal::GetCapturedStderr();
        EXPECT_NE(log.find("[libavIF::write_video] convert_frame error -22:Invalid argument\n"),
                  std::string::npos)
            << log;
    }
}

}  // namespace
