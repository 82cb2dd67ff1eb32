// The sound path's time window and the announced packet count; the rest of the output side is
// checked through the exports' and audio extraction's outputs.
#include <gtest/gtest.h>

#include <string>

#include "media/libav_if.h"
#include "sample_shot.h"
#include "support/command.h"
#include "support/test_support.h"

using orbv::libavIF;
using orbv::PacketPtr;
using orbv_test::TempDir;

namespace {

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

// The sound path as the writers build it: an audio output to a WAV file for slot 0's sound,
// resampler and FIFO ready.
struct SoundPath {
    orbv::MediaError error;
    orbv::OutputFile output;
    orbv::SoundPipeline sound{error};

    void open(libavIF& media, const std::string& wav) {
        ASSERT_EQ(media.open_input(0), 0) << media.errstr();
        const orbv::InputSlot& input = media.input(0);
        ASSERT_GE(output.create(wav.c_str(), nullptr), 0);
        ASSERT_EQ(output.add_audio_stream(0, input.audio_decoder(), error), 0) << error.text();
        ASSERT_EQ(
            sound.init_swr_context(input.audio_decoder(), input.audio_stream(), &output.audio()), 0)
            << error.text();
        ASSERT_EQ(sound.init_audio_fifo(), 0) << error.text();
        ASSERT_GE(output.open_file(wav.c_str()), 0);
        ASSERT_GE(output.write_header(), 0);
    }
};

}  // namespace

class MediaOutput : public ::testing::Test {
  protected:
    TempDir dir;
};

TEST_F(MediaOutput, WindowDropsEarlyFramesAndFlagsTheEnd) {
    const std::string source = movie(dir.file("tone.mov"), 64, 3, orbv_sample::Sound::Pcm, 2, 1.5);
    libavIF media(source.c_str());
    SoundPath path;
    path.open(media, dir.file("window.wav"));
    PacketPtr packet = orbv::make_packet();
    int32_t past_end = 0;
    int past_end_at = -1;
    int index = 0;
    while (av_read_frame(media.input(0).container(), packet.get()) >= 0) {
        if (packet->stream_index == media.input(0).audio_index()) {
            ASSERT_GE(path.sound.decode_audio_to_fifo(packet.get(), &past_end, 0.5f, 1.0f), 0);
            if (past_end && past_end_at < 0) past_end_at = index;
            ++index;
        }
        av_packet_unref(packet.get());
    }
    // Packets of 1024 samples start at k * 1024 / 48000 s: k = 24 .. 46 lie in [0.5, 1.0].
    EXPECT_EQ(path.sound.fifo_size(), 23 * 1024);
    EXPECT_EQ(past_end_at, 47);
}

TEST_F(MediaOutput, AnnouncedPacketCount) {
    const std::string source = movie(dir.file("count.mov"), 64, 3, orbv_sample::Sound::Pcm, 2, 1.5);
    libavIF media(source.c_str());
    ASSERT_EQ(media.open_input(0), 0);
    const AVStream* stream = media.input(0).audio_stream();
    PacketPtr packet = orbv::make_packet();
    do {
        av_packet_unref(packet.get());
        ASSERT_GE(av_read_frame(media.input(0).container(), packet.get()), 0);
    } while (packet->stream_index != media.input(0).audio_index());
    const AVCodecContext* decoder = media.input(0).audio_decoder();
    // 72,000 ticks over packets of 1024.
    EXPECT_EQ(
        libavIF::estimate_audio_packets(media.input(0).container(), stream, decoder, packet.get()),
        70);
    // A packet without duration is measured by its size: 4096 bytes of 16-bit stereo.
    packet->duration = 0;
    EXPECT_EQ(
        libavIF::estimate_audio_packets(media.input(0).container(), stream, decoder, packet.get()),
        70);

    // A container that states no stream length (Matroska): the container's length counts.
    const std::string mkv = dir.file("count.mkv");
    orbv_test::run_command("ffmpeg -v error -i " + orbv_test::shell_quote(source) + " -c copy " +
                           orbv_test::shell_quote(mkv));
    libavIF other(mkv.c_str());
    ASSERT_EQ(other.open_input(0), 0) << other.errstr();
    const AVStream* mkv_stream = other.input(0).audio_stream();
    ASSERT_EQ(mkv_stream->duration, AV_NOPTS_VALUE);
    do {
        av_packet_unref(packet.get());
        ASSERT_GE(av_read_frame(other.input(0).container(), packet.get()), 0);
    } while (packet->stream_index != other.input(0).audio_index());
    const int64_t estimate = libavIF::estimate_audio_packets(
        other.input(0).container(), mkv_stream, other.input(0).audio_decoder(), packet.get());
    EXPECT_GE(estimate, 65);
    EXPECT_LE(estimate, 75);
}
