// ORBV_get_audio seen by a host: the samples that come out, to the sample. Its failure documents
// are checked with the other front ends', its faults and cancels with the others.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "orbv.h"
#include "support/fixtures.h"
#include "support/test_support.h"

using namespace orbv_test;

TEST(Audio, StereoPcmComesOutSampleForSample) {
    const std::string source =
        shot("stereo", 3, false, [](auto& o) { o.lens_width = 64, o.sound_seconds = 1.5; }).lens1;
    TempDir dir;
    for (const char* name : {"track.wav", "track.mov"}) {
        const std::string out = dir.file(name);
        Recorder rec;
        EXPECT_EQ(ORBV_get_audio(source.c_str(), out.c_str(), 0, nullptr, &Recorder::callback), 0);
        EXPECT_EQ(rec.final_record().document,
                  "{\"movie_path\":\"" + source + "\",\"audio_path\":\"" + out + "\"}");
        EXPECT_EQ(probe(out, "a", "stream=codec_name,sample_rate,channels"), "pcm_s16le\n48000\n2");
        // Interleaved 16-bit samples as the ffmpeg program decodes them against the tone.
        const std::string raw =
            run_command("ffmpeg -v error -i " + shell_quote(out) + " -f s16le -");
        std::vector<int16_t> s(raw.size() / 2);
        std::memcpy(s.data(), raw.data(), s.size() * 2);
        ASSERT_EQ(s.size(), 1.5 * 48000 * 2) << name;
        size_t differing = 0;
        for (size_t i = 0; i < s.size(); ++i) {
            differing += s[i] != orbv_sample::tone_sample(static_cast<int>(i % 2), i / 2, 48000);
        }
        EXPECT_EQ(differing, 0u) << name;
    }
}
