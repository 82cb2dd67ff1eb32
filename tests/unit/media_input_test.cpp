// Opening inputs and getting their pictures out: every field of an opened slot, the failures
// of opening, and picture delivery that loses nothing whatever the decoder's delay.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "media/libav_if.h"
#include "sample_shot.h"
#include "support/command.h"
#include "support/test_support.h"

using orbv::FramePtr;
using orbv::libavIF;
using orbv::PacketPtr;
using orbv_test::probe;
using orbv_test::TempDir;

namespace {

constexpr int kSize = 320;
constexpr int kFrames = 12;

struct Files {
    TempDir dir;
    std::string movie;       // stereo PCM, no B-frames
    std::string bframes;     // B-frames, mono AAC
    std::string silent;      // video only
    std::string still;       // JPEG still
    std::string not_media;   // text
    std::string sound_only;  // WAV
};
Files* files = nullptr;

class MediaInput : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        files = new Files;
        Files& f = *files;
        orbv_sample::LensRenderer renderer(kSize);
        orbv_sample::MovieOptions m;
        m.width = m.height = kSize;
        m.frames = kFrames;
        m.picture = [&](int frame) { return renderer.render(1, frame); };
        f.movie = f.dir.file("movie.mov");
        orbv_sample::write_movie(f.movie, m);
        m.b_frames = true;
        m.preset = "veryfast";
        m.sound = orbv_sample::Sound::Aac;
        m.channels = 1;
        f.bframes = f.dir.file("bframes.mov");
        orbv_sample::write_movie(f.bframes, m);
        m.b_frames = false;
        m.preset = "ultrafast";
        m.sound = orbv_sample::Sound::None;
        m.with_camera = false;
        f.silent = f.dir.file("silent.mov");
        orbv_sample::write_movie(f.silent, m);
        f.still = f.dir.file("still.jpg");
        orbv_sample::write_still(f.still, renderer.render(2, 0), nullptr);
        f.not_media = f.dir.file("notes.mov");
        orbv_test::write_file(f.not_media, std::string(4000, 'x'));
        f.sound_only = f.dir.file("tone.wav");
        orbv_test::run_command("ffmpeg -v error -f lavfi -i sine=frequency=440:duration=0.3 " +
                               orbv_test::shell_quote(f.sound_only));
    }
    static void TearDownTestSuite() {
        delete files;
        files = nullptr;
    }
};

struct Picture {
    int code;
    int64_t timestamp;
    std::vector<uint8_t> luma;
};

// Reads every packet of slot 0's video through its decoder wrapper and takes pictures as they
// come; with `hold`, nothing is taken until the stream has been drained.
std::vector<Picture> decode_all(libavIF& media, bool hold) {
    std::vector<Picture> pictures;
    PacketPtr packet = orbv::make_packet();
    FramePtr frame = orbv::make_frame();
    orbv::VideoDecoder& decoder = media.input(0).video_decoder();
    auto take_all = [&] {
        while (decoder.take_picture(frame.get()) == 1) {
            Picture p;
            p.code = orbv_sample::read_frame_code(frame->data[0], frame->linesize[0], frame->width,
                                                  frame->height);
            p.timestamp = frame->best_effort_timestamp;
            for (int row = 0; row < frame->height; ++row) {
                const uint8_t* line = frame->data[0] + row * frame->linesize[0];
                p.luma.insert(p.luma.end(), line, line + frame->width);
            }
            pictures.push_back(std::move(p));
        }
    };
    while (av_read_frame(media.input(0).container(), packet.get()) >= 0) {
        if (packet->stream_index == media.input(0).video_index()) {
            EXPECT_EQ(decoder.send_packet(packet.get()), 0);
            if (!hold) take_all();
        }
        av_packet_unref(packet.get());
    }
    EXPECT_EQ(decoder.drain(), 0);
    take_all();
    EXPECT_TRUE(decoder.finished());
    return pictures;
}

void expect_every_picture_in_order(const std::vector<Picture>& pictures) {
    ASSERT_EQ(pictures.size(), static_cast<size_t>(kFrames));
    for (int i = 0; i < kFrames; ++i) {
        EXPECT_EQ(pictures[i].code, i) << "picture " << i;
        EXPECT_EQ(pictures[i].timestamp, int64_t{i} * 1001) << "picture " << i;
    }
}

}  // namespace

TEST_F(MediaInput, MovieFillsEveryFieldOfItsSlot) {
    libavIF media(files->movie.c_str());
    ASSERT_EQ(media.open_input(0), 0) << media.errstr();
    EXPECT_EQ(media.errnum(), 0);
    EXPECT_EQ(media.width(), kSize);
    EXPECT_EQ(media.height(), kSize);
    EXPECT_EQ(media.nb_frames(), std::stoll(probe(files->movie, "v", "stream=nb_frames")));
    EXPECT_NEAR(media.duration(), std::stod(probe(files->movie, "v", "stream=duration")), 1e-6);
    EXPECT_NEAR(media.duration(), kFrames * 1001.0 / 30000.0, 1e-9);
    EXPECT_FALSE(media.input(0).still());
    EXPECT_GE(media.input(0).video_index(), 0);
    EXPECT_GE(media.input(0).audio_index(), 0);
    EXPECT_NE(media.input(0).audio_index(), media.input(0).video_index());
    EXPECT_EQ(media.audio_codec_id(), AV_CODEC_ID_PCM_S16LE);
    ASSERT_TRUE(media.input(0).video_decoder());
    ASSERT_TRUE(media.input(0).audio_decoder());
    EXPECT_EQ(media.input(0).audio_decoder()->ch_layout.nb_channels, 2);
    EXPECT_EQ(media.input(0).video_time_base().num, 1);
    EXPECT_EQ(media.input(0).video_time_base().den, 30000);
    EXPECT_EQ(media.input(0).video_frame_count(), kFrames);
    // Debian's FFmpeg has no "libopenh264": FFmpeg's own decoder stands in.
    const AVCodec* expected = avcodec_find_decoder_by_name("libopenh264");
    if (expected == nullptr) expected = avcodec_find_decoder(AV_CODEC_ID_H264);
    EXPECT_EQ(media.input(0).video_decoder()->codec, expected);
    EXPECT_FALSE(media.input(1).is_open());
    media.close_input();
    media.close_input();
    EXPECT_FALSE(media.input(0).is_open());
    EXPECT_FALSE(media.input(0).video_decoder());
}

TEST_F(MediaInput, StillAndSilentMovieAndSecondSlot) {
    libavIF media(files->silent.c_str(), files->still.c_str());
    ASSERT_EQ(media.open_input(0), 0) << media.errstr();
    EXPECT_EQ(media.input(0).audio_index(), -1);
    EXPECT_FALSE(media.input(0).audio_decoder());
    EXPECT_EQ(media.audio_codec_id(), 0);
    EXPECT_FALSE(media.input(0).still());

    // Opening slot 1 describes slot 1 in the shared fields and leaves slot 0 open.
    ASSERT_EQ(media.open_input(1), 0) << media.errstr();
    EXPECT_TRUE(media.input(1).still());
    EXPECT_EQ(media.nb_frames(), 0);
    EXPECT_EQ(media.width(), kSize);
    EXPECT_TRUE(media.input(0).is_open());
    EXPECT_TRUE(media.input(1).is_open());
    EXPECT_EQ(media.input(1).video_decoder()->codec_id, AV_CODEC_ID_MJPEG);
}

TEST_F(MediaInput, FailuresReportTheirCodeAndText) {
    {
        // Not media: FFmpeg's code and text; nothing else changes.
        libavIF media(files->not_media.c_str());
        EXPECT_EQ(media.open_input(0), AVERROR_INVALIDDATA);
        EXPECT_EQ(media.errnum(), AVERROR_INVALIDDATA);
        EXPECT_STREQ(media.errstr(), "Invalid data found when processing input");
        EXPECT_EQ(media.width(), 0);
        EXPECT_EQ(media.nb_frames(), 0);
        EXPECT_EQ(media.duration(), -1.0);
        EXPECT_EQ(media.input(0).video_index(), -1);
        EXPECT_FALSE(media.input(0).is_open());
    }
    {
        const std::string missing = files->dir.file("missing.mov");
        libavIF media(missing.c_str());
        EXPECT_EQ(media.open_input(0), AVERROR(ENOENT));
        EXPECT_STREQ(media.errstr(), "No such file or directory");
    }
    {
        // Sound without pictures: the fixed message, AVERROR_EXIT, errnum as left by the
        // stream probe.
        libavIF media(files->sound_only.c_str());
        EXPECT_EQ(media.open_input(0), AVERROR_EXIT);
        EXPECT_STREQ(media.errstr(), "Not Found Video Stream");
        EXPECT_GE(media.errnum(), 0);
        EXPECT_FALSE(media.input(0).is_open());
    }
    {
        // A failed second slot closes the first as well.
        libavIF media(files->movie.c_str(), files->not_media.c_str());
        ASSERT_EQ(media.open_input(0), 0);
        EXPECT_EQ(media.open_input(1), AVERROR_INVALIDDATA);
        EXPECT_TRUE(media.input(0).is_open())
            << "a failure before the container opened keeps slot 0";
        libavIF media2(files->movie.c_str(), files->sound_only.c_str());
        ASSERT_EQ(media2.open_input(0), 0);
        EXPECT_EQ(media2.open_input(1), AVERROR_EXIT);
        EXPECT_FALSE(media2.input(0).is_open());
        EXPECT_FALSE(media2.input(0).video_decoder());
    }
    {
        libavIF media(files->movie.c_str());
        EXPECT_EQ(media.open_input(1), AVERROR(EINVAL)) << "no second path was given";
    }
    {
        // FFmpeg's image demuxer takes any file named .jpg and finds no picture size in it:
        // that is no picture, not a picture of 0 x 0.
        const std::string text_jpg = files->dir.file("text.jpg");
        orbv_test::write_file(text_jpg, "not a picture at all\n");
        libavIF media(text_jpg.c_str());
        EXPECT_EQ(media.open_input(0), AVERROR_INVALIDDATA);
        EXPECT_STREQ(media.errstr(), "Invalid data found when processing input");
        EXPECT_FALSE(media.input(0).is_open());
        EXPECT_FALSE(media.input(0).video_decoder());
    }
}

TEST_F(MediaInput, DecoderWrapperDeliversEveryPictureOnceInOrder) {
    for (const std::string* path : {&files->movie, &files->bframes}) {
        for (int threads : {1, 0}) {
            for (bool hold : {false, true}) {
                SCOPED_TRACE(*path + " threads " + std::to_string(threads) +
                             (hold ? " holding" : " taking"));
                libavIF media(path->c_str());
                media.set_decoder_threads(threads);
                ASSERT_EQ(media.open_input(0), 0);
                expect_every_picture_in_order(decode_all(media, hold));
            }
        }
    }
}

TEST_F(MediaInput, DecoderThreadsGiveIdenticalPictures) {
    libavIF single(files->bframes.c_str());
    single.set_decoder_threads(1);
    ASSERT_EQ(single.open_input(0), 0);
    libavIF threaded(files->bframes.c_str());
    threaded.set_decoder_threads(4);
    ASSERT_EQ(threaded.open_input(0), 0);
    EXPECT_GT(threaded.input(0).video_decoder()->thread_count, 1);
    const std::vector<Picture> a = decode_all(single, false);
    const std::vector<Picture> b = decode_all(threaded, false);
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) EXPECT_TRUE(a[i].luma == b[i].luma) << "picture " << i;
}

TEST_F(MediaInput, FlushAfterSeekStartsAgain) {
    libavIF media(files->bframes.c_str());
    ASSERT_EQ(media.open_input(0), 0);
    const std::vector<Picture> first = decode_all(media, false);
    ASSERT_EQ(first.size(), static_cast<size_t>(kFrames));
    ASSERT_GE(av_seek_frame(media.input(0).container(), media.input(0).video_index(), 0,
                            AVSEEK_FLAG_BACKWARD),
              0);
    media.input(0).video_decoder().flush();
    EXPECT_FALSE(media.input(0).video_decoder().finished());
    expect_every_picture_in_order(decode_all(media, false));
}

TEST_F(MediaInput, ReadVideoFrameGivesEachPictureThenAnEmptyFrame) {
    for (const std::string* path : {&files->bframes, &files->still}) {
        SCOPED_TRACE(*path);
        libavIF media(path->c_str());
        ASSERT_EQ(media.open_input(0), 0);
        const int expected = path == &files->still ? 1 : kFrames;
        for (int i = 0; i < expected; ++i) {
            AVFrame* raw = nullptr;
            ASSERT_EQ(media.read_video_frame(&raw), 0);
            FramePtr frame(raw);
            ASSERT_GT(frame->width, 0) << "picture " << i;
            if (path == &files->bframes) {
                EXPECT_EQ(orbv_sample::read_frame_code(frame->data[0], frame->linesize[0],
                                                       frame->width, frame->height),
                          i);
                EXPECT_EQ(frame->pts, int64_t{i} * 1001);
            }
        }
        AVFrame* raw = nullptr;
        EXPECT_EQ(media.read_video_frame(&raw), 0);
        FramePtr end(raw);
        EXPECT_EQ(end->width, 0);
        EXPECT_EQ(media.errnum(), 0);
    }
}
