// The output side and the sound path between decoder and encoder: stream parameters, the
// choice of source, the time window, the FIFO's frames, encoder draining and the release of
// everything, plus the announced packet count.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "media/libav_if.h"
#include "sample_shot.h"
#include "support/command.h"
#include "support/test_support.h"

using orbv::libavIF;
using orbv::PacketPtr;
using orbv_test::TempDir;

namespace {

constexpr int kRate = 48000;

std::string movie(const std::string& path, int size, int frames, orbv_sample::Sound sound,
                  int channels, double seconds) {
    orbv_sample::MovieOptions m;
    m.width = m.height = size;
    m.frames = frames;
    m.sound = sound;
    m.channels = channels;
    m.sound_seconds = seconds;
    m.picture = [size](int) { return orbv_sample::Picture(size, size, 100); };
    orbv_sample::write_movie(path, m);
    return path;
}

// An output container for `path` in the object, as the writers make it.
void new_output(libavIF& media, const std::string& path) {
    AVFormatContext* raw = nullptr;
    ASSERT_GE(avformat_alloc_output_context2(&raw, nullptr, nullptr, path.c_str()), 0);
    media.ofmt_ctx.reset(raw);
}

void open_file(libavIF& media, const std::string& path) {
    ASSERT_GE(avio_open(&media.ofmt_ctx->pb, path.c_str(), AVIO_FLAG_WRITE), 0);
    ASSERT_GE(avformat_write_header(media.ofmt_ctx.get(), nullptr), 0);
}

// Slot 0 open with an audio output to a WAV file, resampler and FIFO ready.
void audio_pipeline(libavIF& media, const std::string& wav) {
    ASSERT_EQ(media.open_input(0), 0) << media.errstr;
    new_output(media, wav);
    ASSERT_EQ(media.add_audio_stream(0), 0) << media.errstr;
    ASSERT_EQ(media.init_swr_context(), 0) << media.errstr;
    ASSERT_EQ(media.init_audio_fifo(), 0) << media.errstr;
    open_file(media, wav);
}

int fifo_size(const libavIF& media) { return av_audio_fifo_size(media.audio_fifo.get()); }

}  // namespace

class MediaOutput : public ::testing::Test {
  protected:
    TempDir dir;
};

TEST_F(MediaOutput, VideoStreamParametersFollowTheSource) {
    const std::string source = movie(dir.file("a.mov"), 64, 3, orbv_sample::Sound::Pcm, 2, -1);
    libavIF media(source.c_str());
    ASSERT_EQ(media.open_input(0), 0);
    const int64_t source_rate = media.video_dec_ctx[0]->bit_rate;
    ASSERT_GT(source_rate, 0);

    new_output(media, dir.file("out.mov"));
    ASSERT_EQ(media.add_video_stream(AV_CODEC_ID_H264, 128, 64, 0), 0) << media.errstr;
    // Twice the area asks for twice the bit rate (libx264 keeps whole kbit/s of it).
    EXPECT_EQ(media.video_enc_ctx->bit_rate, 2 * source_rate / 1000 * 1000);
    EXPECT_EQ(media.video_enc_ctx->pix_fmt, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(media.video_stream->time_base.den, 30000);
    EXPECT_EQ(media.video_stream->time_base.num, 1);
    EXPECT_EQ(av_q2d(media.video_enc_ctx->framerate), 30000.0 / 1001.0);
    EXPECT_EQ(media.video_stream->id, 0);
    EXPECT_TRUE(media.video_enc_ctx->flags & AV_CODEC_FLAG_GLOBAL_HEADER);
    EXPECT_EQ(media.video_stream->codecpar->width, 128);
    EXPECT_EQ(media.init_sws_context(), 0);
    EXPECT_TRUE(media.sws_ctx);
    media.close_output();
    EXPECT_FALSE(media.ofmt_ctx);
    EXPECT_EQ(media.video_stream, nullptr);
    EXPECT_FALSE(media.video_enc_ctx);
    media.close_output();

    new_output(media, dir.file("out.jpg"));
    ASSERT_EQ(media.add_video_stream(AV_CODEC_ID_MJPEG, 96, 48, 0), 0) << media.errstr;
    EXPECT_EQ(media.video_enc_ctx->bit_rate,
              static_cast<int64_t>(std::floor(96.0 / 64 * source_rate * (48.0 / 64))));
    EXPECT_EQ(media.video_enc_ctx->pix_fmt, AV_PIX_FMT_YUVJ420P);
    EXPECT_EQ(media.video_enc_ctx->time_base.num, 1001);
    EXPECT_EQ(media.video_enc_ctx->time_base.den, 30000);
    media.close_output();

    new_output(media, dir.file("out2.mov"));
    EXPECT_EQ(media.add_video_stream(AV_CODEC_ID_NONE, 64, 64, 0), AVERROR_EXIT);
    EXPECT_STREQ(media.errstr, "Colud not finde encoder");
}

TEST_F(MediaOutput, NonZeroSourceChoiceTakesTheLongerContainer) {
    const std::string small = movie(dir.file("small.mov"), 64, 3, orbv_sample::Sound::Pcm, 2, 0.1);
    const std::string large = movie(dir.file("large.mov"), 96, 3, orbv_sample::Sound::Pcm, 2, 0.1);
    const std::string longer =
        movie(dir.file("longer.mov"), 64, 3, orbv_sample::Sound::Pcm, 2, 2.0);
    auto chosen_rate = [&](const std::string& a, const std::string& b) {
        libavIF media(a.c_str(), b.c_str());
        EXPECT_EQ(media.open_input(0), 0);
        EXPECT_EQ(media.open_input(1), 0);
        new_output(media, dir.file("choice.jpg"));
        EXPECT_EQ(media.add_video_stream(AV_CODEC_ID_MJPEG, 32, 32, 1), 0) << media.errstr;
        const int64_t rate = media.video_enc_ctx->bit_rate;
        auto expected = [&](int s) {
            const AVCodecContext* d = media.video_dec_ctx[s].get();
            return static_cast<int64_t>(std::floor(
                32.0 / d->width * static_cast<double>(d->bit_rate) * (32.0 / d->height)));
        };
        const int64_t r0 = expected(0);
        const int64_t r1 = expected(1);
        media.close_output();
        EXPECT_NE(r0, r1);
        return rate == r0 ? 0 : rate == r1 ? 1 : -1;
    };
    EXPECT_EQ(chosen_rate(small, large), 1) << "equal lengths: slot 1";
    EXPECT_EQ(chosen_rate(longer, large), 0) << "slot 0 is longer";
}

TEST_F(MediaOutput, AudioStreamIsStereoPcmAtTheSourceRate) {
    const std::string mono = movie(dir.file("mono.mov"), 64, 3, orbv_sample::Sound::Aac, 1, 0.5);
    libavIF media(mono.c_str());
    ASSERT_EQ(media.open_input(0), 0);
    new_output(media, dir.file("out.wav"));
    ASSERT_EQ(media.add_audio_stream(0), 0) << media.errstr;
    EXPECT_EQ(media.audio_enc_ctx->codec_id, AV_CODEC_ID_PCM_S16LE);
    EXPECT_EQ(media.audio_enc_ctx->sample_fmt, AV_SAMPLE_FMT_S16);
    EXPECT_EQ(media.audio_enc_ctx->sample_rate, kRate);
    const AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    EXPECT_EQ(av_channel_layout_compare(&media.audio_enc_ctx->ch_layout, &stereo), 0);
    EXPECT_EQ(media.audio_stream->time_base.den, kRate);
    EXPECT_EQ(media.audio_stream->codecpar->ch_layout.nb_channels, 2);
    EXPECT_EQ(media.init_swr_context(), 0) << media.errstr;
    EXPECT_EQ(media.init_audio_fifo(), 0);
    media.close_output();
    EXPECT_FALSE(media.swr_ctx);
    EXPECT_FALSE(media.audio_fifo);
    EXPECT_FALSE(media.audio_enc_ctx);
}

TEST_F(MediaOutput, WindowDropsEarlyFramesAndFlagsTheEnd) {
    const std::string source = movie(dir.file("tone.mov"), 64, 3, orbv_sample::Sound::Pcm, 2, 1.5);
    libavIF media(source.c_str());
    audio_pipeline(media, dir.file("window.wav"));
    PacketPtr packet = orbv::make_packet();
    int32_t past_end = 0;
    int past_end_at = -1;
    int index = 0;
    while (av_read_frame(media.fmt_ctx[0].get(), packet.get()) >= 0) {
        if (packet->stream_index == media.audio_stream_idx[0]) {
            ASSERT_GE(media.decode_audio_to_fifo(0, packet.get(), &past_end, 0.5f, 1.0f), 0);
            if (past_end && past_end_at < 0) past_end_at = index;
            ++index;
        }
        av_packet_unref(packet.get());
    }
    // Packets of 1024 samples start at k * 1024 / 48000 s: k = 24 .. 46 lie in [0.5, 1.0].
    EXPECT_EQ(fifo_size(media), 23 * 1024);
    EXPECT_EQ(past_end_at, 47);
    media.close_output();
}

TEST_F(MediaOutput, FifoFramesOfThousandSamples) {
    const std::string source = movie(dir.file("tone.mov"), 64, 3, orbv_sample::Sound::Pcm, 2, 1.0);
    libavIF media(source.c_str());
    audio_pipeline(media, dir.file("frames.wav"));
    ASSERT_EQ(media.audio_enc_ctx->frame_size, 0);
    PacketPtr packet = orbv::make_packet();
    int32_t past_end = 0;
    std::vector<int> left;
    int audio_packets = 0;
    while (audio_packets < 4 && av_read_frame(media.fmt_ctx[0].get(), packet.get()) >= 0) {
        if (packet->stream_index != media.audio_stream_idx[0]) {
            av_packet_unref(packet.get());
            continue;
        }
        ++audio_packets;
        // A window ending after the second packet: the third is past it and adds nothing.
        ASSERT_EQ(media.write_audio_packet(0, packet.get(), &past_end, 1000, 0, 0.03f), 0);
        left.push_back(fifo_size(media));
        EXPECT_EQ(packet->size, 0) << "the packet is released";
    }
    EXPECT_EQ(media.audio_enc_ctx->frame_size, 1000);
    // 1024 in, 1000 out: 24 wait; then 48; then the end of the window leaves the 48 alone.
    EXPECT_EQ(left, (std::vector<int>{24, 48, 48, 48}));
    EXPECT_EQ(past_end, 1);
    EXPECT_EQ(media.audio_pts, 2000);

    int32_t got = 1;
    ASSERT_EQ(media.encode_audio_from_fifo(), 0);
    EXPECT_EQ(media.audio_pts, 2048);
    EXPECT_EQ(fifo_size(media), 0);
    EXPECT_EQ(media.encode_audio_frame(nullptr, &got), 0);
    EXPECT_EQ(got, 0) << "PCM holds nothing back";
    ASSERT_GE(av_write_trailer(media.ofmt_ctx.get()), 0);
    media.close_output();
    const std::string samples = orbv_test::run_command(
        "ffmpeg -v error -i " + orbv_test::shell_quote(dir.file("frames.wav")) + " -f s16le -");
    EXPECT_EQ(samples.size(), 2048u * 4);
}

TEST_F(MediaOutput, VideoEncoderDrainsThenSaysSo) {
    const std::string source = movie(dir.file("v.mov"), 64, 3, orbv_sample::Sound::None, 2, 0);
    libavIF media(source.c_str());
    ASSERT_EQ(media.open_input(0), 0);
    const std::string out = dir.file("v_out.mov");
    new_output(media, out);
    ASSERT_EQ(media.add_video_stream(AV_CODEC_ID_H264, 64, 64, 0), 0) << media.errstr;
    open_file(media, out);
    orbv::FramePtr frame = orbv::make_frame();
    frame->width = frame->height = 64;
    frame->format = AV_PIX_FMT_YUV420P;
    ASSERT_EQ(av_frame_get_buffer(frame.get(), 32), 0);
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(av_frame_make_writable(frame.get()), 0);
        for (int p = 0; p < 3; ++p)
            memset(frame->data[p], 60 + 30 * i, frame->linesize[p] * (p ? 32 : 64));
        frame->pts = media.video_pts;
        media.video_pts += 1001;
        ASSERT_EQ(media.encode_video_frame(frame.get()), 0) << media.errstr;
    }
    int drained = 0;
    int32_t ret;
    while ((ret = media.encode_video_frame(nullptr)) == 0) ++drained;
    EXPECT_EQ(ret, 1);
    EXPECT_EQ(media.encode_video_frame(nullptr), 1) << "a drained encoder stays drained";
    ASSERT_GE(av_write_trailer(media.ofmt_ctx.get()), 0);
    media.close_output();
    media.close_output();
    EXPECT_EQ(orbv_test::probe(out, "v", "stream=nb_frames"), "5");
    EXPECT_EQ(orbv_test::probe(out, "v", "stream=time_base"), "1/30000");
    EXPECT_EQ(orbv_test::probe(out, "v", "stream=duration_ts"), "5005");
    EXPECT_EQ(orbv_test::run_command("ffprobe -v error -select_streams v:0 -show_entries "
                                     "packet=pts -of csv=p=0 " +
                                     orbv_test::shell_quote(out) + " | sort -n | tr '\\n' ' '"),
              "0 1001 2002 3003 4004 ");
}

TEST_F(MediaOutput, AnnouncedPacketCount) {
    const std::string source = movie(dir.file("count.mov"), 64, 3, orbv_sample::Sound::Pcm, 2, 1.5);
    libavIF media(source.c_str());
    ASSERT_EQ(media.open_input(0), 0);
    const AVStream* stream = media.input_audio_stream(0);
    PacketPtr packet = orbv::make_packet();
    do {
        av_packet_unref(packet.get());
        ASSERT_GE(av_read_frame(media.fmt_ctx[0].get(), packet.get()), 0);
    } while (packet->stream_index != media.audio_stream_idx[0]);
    const AVCodecContext* decoder = media.audio_dec_ctx[0].get();
    // 72,000 ticks over packets of 1024.
    EXPECT_EQ(
        libavIF::estimate_audio_packets(media.fmt_ctx[0].get(), stream, decoder, packet.get()), 70);
    // A packet without duration is measured by its size: 4096 bytes of 16-bit stereo.
    packet->duration = 0;
    EXPECT_EQ(
        libavIF::estimate_audio_packets(media.fmt_ctx[0].get(), stream, decoder, packet.get()), 70);

    // A container that states no stream length (Matroska): the container's length counts.
    const std::string mkv = dir.file("count.mkv");
    orbv_test::run_command("ffmpeg -v error -i " + orbv_test::shell_quote(source) + " -c copy " +
                           orbv_test::shell_quote(mkv));
    libavIF other(mkv.c_str());
    ASSERT_EQ(other.open_input(0), 0) << other.errstr;
    const AVStream* mkv_stream = other.input_audio_stream(0);
    ASSERT_EQ(mkv_stream->duration, AV_NOPTS_VALUE);
    do {
        av_packet_unref(packet.get());
        ASSERT_GE(av_read_frame(other.fmt_ctx[0].get(), packet.get()), 0);
    } while (packet->stream_index != other.audio_stream_idx[0]);
    const int64_t estimate = libavIF::estimate_audio_packets(
        other.fmt_ctx[0].get(), mkv_stream, other.audio_dec_ctx[0].get(), packet.get());
    EXPECT_GE(estimate, 65);
    EXPECT_LE(estimate, 75);
}
