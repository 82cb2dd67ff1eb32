// The video export loop on sample shots: every picture pair exactly once and in order (with
// and without B-frames and decoder threads), the time windows against the front end's frame
// count, the sound and its length, stills, progress and cancel, and failing outputs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "api/export_params.h"
#include "api/progress_interval.h"
#include "media/libav_if.h"
#include "sample_shot.h"
#include "support/command.h"
#include "support/test_support.h"
#include "util/file_system.h"

using orbv::ExportParams;
using orbv::libavIF;
using orbv_test::probe;
using orbv_test::Recorder;
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
ExportParams export_params(int progress_count = kFrames) {
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
    p.progress_interval = orbv::progress_interval(progress_count);
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
    EXPECT_EQ(media.open_input(0), 0) << media.errstr;
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

// The front end's count of frames to export for one input: the window in frames of 1001
// time-base ticks, a negative end or one past the stream meaning the whole stream.
int64_t counted_frames(libavIF& media, int slot, float start, float end) {
    const AVRational tb = media.video_time_base(slot);
    const int32_t first = static_cast<int32_t>(static_cast<float>(tb.den) * start / tb.num / 1001);
    int64_t last = static_cast<int32_t>(static_cast<float>(tb.den) * end / tb.num / 1001);
    if (static_cast<uint64_t>(last) > static_cast<uint64_t>(media.video_frame_count(slot))) {
        last = media.video_frame_count(slot);
    }
    return last - first;
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
                const char* cancel = nullptr, ProgressCallback callback = nullptr) {
        EXPECT_EQ(media.open_input(0), 0) << media.errstr;
        EXPECT_EQ(media.open_input(1), 0) << media.errstr;
        return media.write_video(out.c_str(), cancel, params, callback);
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
        media.decoder_threads = c.decoder_threads;
        ASSERT_EQ(run(media, out, export_params()), 0) << media.errstr;
        EXPECT_FALSE(media.ofmt_ctx) << "the output is closed";
        EXPECT_EQ(media.video_pts, kFrames * 1001);

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
        ASSERT_EQ(run(media, out, params), 0) << media.errstr;
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
    ASSERT_EQ(run(media, out, params), 0) << media.errstr;
    EXPECT_EQ(probe(out, "a", "stream=codec_name"), "");
    EXPECT_EQ(as_int(probe(out, "v", "stream=nb_frames")), kFrames);
}

TEST_F(ExportLoop, TrimmedWindowsAgreeWithTheFrontEndsCount) {
    const std::string l1 = input("lens1.mov"), l2 = input("lens2_b.mov");
    const std::string out = dir.file("trimmed.mov");
    ExportParams params = export_params();
    params.start_time1 = 0.2f;
    params.end_time1 = 0.6f;
    params.start_time2 = 0.5f;  // seeks back to the key picture at 0 s
    params.end_time2 = 0.9f;
    libavIF media(l1.c_str(), l2.c_str());
    ASSERT_EQ(media.open_input(0), 0);
    ASSERT_EQ(media.open_input(1), 0);
    const int64_t count1 = counted_frames(media, 0, params.start_time1, params.end_time1);
    const int64_t count2 = counted_frames(media, 1, params.start_time2, params.end_time2);
    ASSERT_EQ(count1, 12);
    ASSERT_EQ(count2, 12);
    ASSERT_EQ(media.write_video(out.c_str(), nullptr, params, nullptr), 0) << media.errstr;

    // Each picture is tested against its window with the time of the picture before it, so
    // the first picture used is the one after the first at or past the start.
    auto first_used = [](float start) {
        return 1 + static_cast<int>(std::ceil(start / kFrameSeconds - 1e-6));
    };
    const std::vector<Shown> shown = shown_frames(out);
    ASSERT_EQ(static_cast<int64_t>(shown.size()), count1);
    for (size_t j = 0; j < shown.size(); ++j) {
        EXPECT_EQ(shown[j].lens1, first_used(params.start_time1) + static_cast<int>(j));
        EXPECT_EQ(shown[j].lens2, first_used(params.start_time2) + static_cast<int>(j));
    }
    EXPECT_EQ(as_int(probe(out, "a", "stream=duration_ts")), static_cast<int64_t>(0.4 * 48000));
}

TEST_F(ExportLoop, TwoStillsGiveOneMotionJpegPicture) {
    const std::string l1 = input("lens1.jpg"), l2 = input("lens2.jpg");
    // A '%d' in the name is no sequence pattern: the picture goes to exactly this path.
    const std::string out = dir.file("pano%d.jpg");
    libavIF media(l1.c_str(), l2.c_str());
    ASSERT_EQ(run(media, out, export_params(0)), 0) << media.errstr;
    EXPECT_EQ(media.video_pts, 1001) << "exactly one pair converted";
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
        ExportParams params = export_params(pictures);
        params.audio_input = 1 - still_slot;  // the movie's sound
        libavIF media(l1.c_str(), l2.c_str());
        ASSERT_EQ(run(media, out, params), 0) << media.errstr;
        const std::vector<Shown> shown = shown_frames(out);
        ASSERT_EQ(shown.size(), static_cast<size_t>(pictures));
        for (int k = 0; k < pictures; ++k) {
            EXPECT_EQ(shown[k].lens1, still_slot == 0 ? 3 : k) << "picture " << k;
            EXPECT_EQ(shown[k].lens2, still_slot == 0 ? k : 5) << "picture " << k;
        }
        EXPECT_EQ(probe(out, "a", "stream=codec_name"), "pcm_s16le");
    }
}

// The recorder of the progress callback can also create the cancel file at a given count.
std::string g_cancel_file;
std::string g_cancel_at;
void cancelling_callback(int32_t state, const char* json) {
    Recorder::callback(state, json);
    if (!g_cancel_at.empty() && std::string(json).find(g_cancel_at) != std::string::npos) {
        orbv_test::write_file(g_cancel_file, "");
    }
}

TEST_F(ExportLoop, ProgressDocumentsAndCancel) {
    const std::string l1 = input("lens1.mov"), l2 = input("lens2.mov");
    const std::string out = dir.file("progress.mov");
    const std::string cancel = dir.file("cancel");
    auto document = [&](int n) {
        return "{\"movie_path1\":\"" + l1 + "\",\"movie_path2\":\"" + l2 + "\",\"export_path\":\"" +
               out + "\",\"frame_count\":" + std::to_string(n) + "}";
    };
    {
        Recorder recorder;
        libavIF media(l1.c_str(), l2.c_str());
        ASSERT_EQ(run(media, out, export_params(), cancel.c_str(), Recorder::callback), 0);
        ASSERT_EQ(recorder.records().size(), 3u);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(recorder.records()[i].state, STATE_PROGRESS);
            EXPECT_EQ(recorder.records()[i].document, document(10 * (i + 1)));
        }
        EXPECT_FALSE(media.cancelled);
    }
    {
        // The host cancels while the export runs: the loop stops right after the report.
        Recorder recorder;
        g_cancel_file = cancel;
        g_cancel_at = "\"frame_count\":20}";
        libavIF media(l1.c_str(), l2.c_str());
        EXPECT_EQ(run(media, out, export_params(), cancel.c_str(), cancelling_callback),
                  AVERROR_EXIT);
        g_cancel_at.clear();
        EXPECT_TRUE(media.cancelled);
        EXPECT_EQ(media.errnum, AVERROR_EXIT);
        EXPECT_FALSE(media.ofmt_ctx);
        ASSERT_EQ(recorder.records().size(), 2u);
        EXPECT_EQ(recorder.records()[1].document, document(20));
        EXPECT_EQ(media.video_pts, 19 * 1001) << "the 20th pair is not converted";
    }
    {
        // Without a callback the cancel file is still tested at every progress point.
        libavIF media(l1.c_str(), l2.c_str());
        EXPECT_EQ(run(media, out, export_params(), cancel.c_str()), AVERROR_EXIT);
        EXPECT_TRUE(media.cancelled);
        EXPECT_EQ(media.video_pts, 9 * 1001);
    }
}

TEST_F(ExportLoop, LogLinesAndFailingOutputs) {
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
        testing::internal::CaptureStderr();
        libavIF media(l1.c_str(), l2.c_str());
        const std::string out = dir.file("missing/out.mov");
        EXPECT_EQ(run(media, out, export_params()), AVERROR(ENOENT));
        const std::string log = testing::internal::GetCapturedStderr();
        EXPECT_EQ(media.errnum, AVERROR(ENOENT));
        EXPECT_STREQ(media.errstr, "No such file or directory");
        EXPECT_NE(
            log.find("[libavIF::write_video] AV I/O open error -2:No such file or directory\n"),
            std::string::npos)
            << log;
        EXPECT_FALSE(media.ofmt_ctx);
        EXPECT_FALSE(media.cancelled);
    }
    {
        testing::internal::CaptureStderr();
        libavIF media(l1.c_str(), l2.c_str());
        EXPECT_EQ(run(media, dir.file("out.unknown"), export_params()), AVERROR(EINVAL));
        const std::string log = testing::internal::GetCapturedStderr();
        EXPECT_NE(log.find("[libavIF::write_video] open outputfile error -22:Invalid argument\n"),
                  std::string::npos)
            << log;
    }
    {
        // A still written through the image muxer into a missing directory fails when the
        // picture is written.
        const std::string s1 = input("lens1.jpg"), s2 = input("lens2.jpg");
        testing::internal::CaptureStderr();
        libavIF media(s1.c_str(), s2.c_str());
        EXPECT_LT(run(media, dir.file("missing/out.jpg"), export_params(0)), 0);
        const std::string log = testing::internal::GetCapturedStderr();
        EXPECT_NE(log.find("[libavIF::write_video] convert_frame error "), std::string::npos)
            << log;
        EXPECT_FALSE(media.ofmt_ctx);
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
