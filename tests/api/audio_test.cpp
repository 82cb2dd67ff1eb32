// ORBV_get_audio seen by a host: the samples that come out and the documents of a whole run. Its
// failures are with the other front ends', its faults and cancels with the others.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "orbv.h"
#include "support/fixtures.h"
#include "support/test_support.h"

namespace {

using namespace orbv_test;

constexpr int kRate = 48000;

std::string movie(const std::string& name, orbv_sample::Sound sound, int channels, double seconds) {
    orbv_sample::ShotOptions o = shot_options(name);
    o.lens_width = 64;
    o.sound = sound;
    o.channels = channels;
    o.sound_seconds = seconds;
    return shot(o).lens1;
}

// Interleaved 16-bit samples of a file, as the ffmpeg program decodes it.
std::vector<int16_t> samples(const std::string& path, const std::string& options = "") {
    const std::string raw =
        run_command("ffmpeg -v error -i " + shell_quote(path) + " " + options + " -f s16le -");
    std::vector<int16_t> s(raw.size() / 2);
    std::memcpy(s.data(), raw.data(), s.size() * 2);
    return s;
}

CallbackRecord get_audio(const std::string& movie, const std::string& out) {
    Recorder rec;
    EXPECT_EQ(ORBV_get_audio(movie.c_str(), out.c_str(), 0, nullptr, &Recorder::callback), 0);
    return rec.final_record();
}

TEST(Audio, StereoPcmComesOutSampleForSample) {
    const std::string source = movie("stereo", orbv_sample::Sound::Pcm, 2, 1.5);
    TempDir dir;
    for (const char* name : {"track.wav", "track.mov"}) {
        const std::string out = dir.file(name);
        EXPECT_EQ(get_audio(source, out).document,
                  "{\"movie_path\":\"" + source + "\",\"audio_path\":\"" + out + "\"}");
        EXPECT_EQ(probe(out, "a", "stream=codec_name,sample_rate,channels"), "pcm_s16le\n48000\n2");
        const std::vector<int16_t> s = samples(out);
        ASSERT_EQ(s.size(), static_cast<size_t>(1.5 * kRate) * 2) << name;
        size_t differing = 0;
        for (size_t i = 0; i < s.size(); ++i) {
            differing += s[i] != orbv_sample::tone_sample(static_cast<int>(i % 2), i / 2, kRate);
        }
        EXPECT_EQ(differing, 0u) << name;
    }
}

TEST(Audio, MonoAacBecomesTwoEqualChannels) {
    const std::string source = movie("mono", orbv_sample::Sound::Aac, 1, 1.0);
    TempDir dir;
    ASSERT_EQ(get_audio(source, dir.file("mono.wav")).state, STATE_DONE);
    const std::vector<int16_t> ours = samples(dir.file("mono.wav"));
    // The ffmpeg program's own decoding and upmix of the source is the reference.
    const std::vector<int16_t> reference = samples(source, "-ac 2");
    ASSERT_EQ(ours.size(), reference.size());
    ASSERT_GE(ours.size(), static_cast<size_t>(kRate) * 2);
    size_t unequal = 0, off = 0;
    double energy = 0;
    for (size_t i = 0; i + 1 < ours.size(); i += 2) {
        unequal += ours[i] != ours[i + 1];
        off += std::abs(ours[i] - reference[i]) > 1;
        energy += std::abs(ours[i]);
    }
    EXPECT_EQ(unequal, 0u);
    EXPECT_EQ(off, 0u);
    EXPECT_GT(energy / (ours.size() / 2), 1000.0) << "the tone is there";
}

}  // namespace
