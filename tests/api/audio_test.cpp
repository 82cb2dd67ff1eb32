// ORBV_get_audio seen by a host: the samples that come out in each container, to the sample or
// within the codec's tolerance. Its failure documents are checked with the other front ends', its
// faults and cancels with the others.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "orbv.h"
#include "support/fixtures.h"
#include "support/test_support.h"

using namespace orbv_test;

// PCM and FLAC give the samples back exactly; AAC, MP3 and Opus (192 kb/s unless asked otherwise)
// within their tolerance, a decoder adding at most the rest of its last frame.
TEST(Audio, EachContainerGetsItsSoundBack) {
    const std::string source =
        shot("stereo", 3, false, [](auto& o) { o.lens_width = 64, o.sound_seconds = 1.5; }).lens1;
    // Opus takes 48 kHz only: 44.1 kHz is resampled, the resampler's last samples drained too.
    const std::string cd = shot("stereo44", 3, false, [](auto& o) {
                               o.lens_width = 64, o.sound_seconds = 1.5, o.sample_rate = 44100;
                           }).lens1;
    TempDir dir;
    const struct {
        const char* name;
        int32_t bit_rate;
        const char* codec;
        int64_t rate_min, rate_max;
        const std::string* from = nullptr;
    } cases[] = {{"track.wav", 0, "pcm_s16le", 1536000, 1536000},
                 {"track.mov", 0, "pcm_s16le", 1536000, 1536000},
                 {"track.flac", 0, "flac", 0, 0},
                 {"track.m4a", 0, "aac", 180000, 200000},
                 {"track.mp4", 96000, "aac", 90000, 100000},
                 {"track.mp3", 0, "mp3", 180000, 200000},
                 {"track.opus", 0, "opus", 0, 200000},
                 {"track.OGG", 0, "opus", 0, 200000},
                 {"cd.opus", 0, "opus", 0, 200000, &cd}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string out = dir.file(c.name), &in = c.from ? *c.from : source;
        Recorder rec;
        EXPECT_EQ(ORBV_get_audio(in.c_str(), out.c_str(), c.bit_rate, nullptr, &Recorder::callback),
                  0);
#ifdef _WIN32
        // The Windows build's FFmpeg has no MP3 or Opus encoder: those names are refused first.
        if (std::string(c.codec) == "mp3" || std::string(c.codec) == "opus") {
            EXPECT_EQ(json_field(rec.final_record().document, "errnum"), "20003");
            EXPECT_FALSE(exists(out));
            continue;
        }
#endif
        EXPECT_EQ(rec.final_record().document,
                  "{\"movie_path\":\"" + in + "\",\"audio_path\":\"" + out + "\"}");
        EXPECT_EQ(probe(out, "a", "stream=codec_name,sample_rate,channels"),
                  std::string(c.codec) + "\n48000\n2");
        const int64_t rate = std::max<int64_t>(probe_int(out, "a", "stream=bit_rate"), 0);
        EXPECT_TRUE(rate >= c.rate_min && rate <= c.rate_max) << rate;
        // Interleaved 16-bit samples as the ffmpeg program decodes them against the tone.
        const std::string raw =
            run_command("ffmpeg -v error -i " + shell_quote(out) + " -f s16le -");
        std::vector<int16_t> s(raw.size() / 2);
        std::memcpy(s.data(), raw.data(), s.size() * 2);
        const bool lossy = std::string(c.codec) != "pcm_s16le" && std::string(c.codec) != "flac";
        ASSERT_GE(s.size(), 1.5 * 48000 * 2);
        ASSERT_LT(s.size(), (1.5 * 48000 + (lossy ? 1152 : 1)) * 2);
        double error = 0, signal = 0;
        // Past the first frames: a sound one sample early or late would fall below 23 dB.
        for (size_t i = lossy ? 4096 : 0; i < 1.5 * 48000 * 2; ++i) {
            const int16_t t = orbv_sample::tone_sample(static_cast<int>(i % 2), i / 2, 48000);
            error += (s[i] - t) * static_cast<double>(s[i] - t);
            signal += t * static_cast<double>(t);
        }
        if (lossy) {
            EXPECT_GT(10 * std::log10(signal / std::max(error, 1.0)), 25.0) << "dB";
        } else {
            EXPECT_EQ(error, 0);
        }
    }
}
