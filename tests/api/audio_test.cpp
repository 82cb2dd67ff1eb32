// ORBV_get_audio seen by a host: the samples that come out, the documents of every outcome,
// progress and cancellation, and that a failed audio file is never left behind.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "orbv.h"
#include "sample_shot.h"
#include "support/command.h"
#include "support/test_support.h"

using orbv_test::probe;
using orbv_test::Recorder;
using orbv_test::run_command;
using orbv_test::shell_quote;
using orbv_test::TempDir;

namespace {

constexpr int kRate = 48000;

struct Sources {
    TempDir dir;
    std::string pcm_stereo;  // 1.5 s of the stereo tone as 16-bit PCM
    std::string aac_mono;    // 1.0 s of the mono tone as AAC
    std::string long_pcm;    // 22 s: more than 1,009 audio packets
    std::string silent;      // pictures only
    std::string not_media;
};
Sources* sources = nullptr;

std::string movie(const std::string& path, orbv_sample::Sound sound, int channels, double seconds) {
    orbv_sample::MovieOptions m;
    m.width = m.height = 64;
    m.frames = 3;
    m.sound = sound;
    m.channels = channels;
    m.sample_rate = kRate;
    m.sound_seconds = seconds;
    m.picture = [](int frame) {
        orbv_sample::Picture p(64, 64, 80);
        orbv_sample::stamp_frame_code(p, frame);
        return p;
    };
    orbv_sample::write_movie(path, m);
    return path;
}

class GetAudio : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        sources = new Sources;
        Sources& s = *sources;
        s.pcm_stereo = movie(s.dir.file("stereo.mov"), orbv_sample::Sound::Pcm, 2, 1.5);
        s.aac_mono = movie(s.dir.file("mono.mov"), orbv_sample::Sound::Aac, 1, 1.0);
        s.long_pcm = movie(s.dir.file("long.mov"), orbv_sample::Sound::Pcm, 2, 22.0);
        s.silent = movie(s.dir.file("silent.mov"), orbv_sample::Sound::None, 2, 0);
        s.not_media = s.dir.file("text.mov");
        orbv_test::write_file(s.not_media, "not a movie at all");
    }
    static void TearDownTestSuite() {
        delete sources;
        sources = nullptr;
    }
    TempDir out;
};

// Interleaved 16-bit samples of a file, as the ffmpeg program decodes it.
std::vector<int16_t> decoded_samples(const std::string& path, const std::string& extra = "") {
    const std::string raw =
        run_command("ffmpeg -v error -i " + shell_quote(path) + " " + extra + " -f s16le -");
    std::vector<int16_t> samples(raw.size() / 2);
    std::memcpy(samples.data(), raw.data(), samples.size() * 2);
    return samples;
}

int audio_packet_count(const std::string& path) {
    return std::stoi(
        run_command("ffprobe -v error -select_streams a:0 -count_packets "
                    "-show_entries stream=nb_read_packets -of csv=p=0 " +
                    shell_quote(path)));
}

std::string audio_error(int errnum, const std::string& errstr, int api_errnum,
                        const std::string& api_errstr, const std::string& movie_path,
                        const std::string& audio_path) {
    return "{\"errnum\":\"" + std::to_string(errnum) + "\",\"errstr\":\"" + errstr +
           "\",\"api_errnum\":" + std::to_string(api_errnum) + ",\"api_errstr\":\"" + api_errstr +
           "\",\"movie_path\":\"" + movie_path + "\",\"audio_path\":\"" + audio_path + "\"}";
}

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

}  // namespace

TEST_F(GetAudio, StereoPcmComesOutSampleForSample) {
    for (const char* name : {"track.wav", "track.mov"}) {
        SCOPED_TRACE(name);
        const std::string path = out.file(name);
        Recorder rec;
        ASSERT_EQ(ORBV_get_audio(sources->pcm_stereo.c_str(), path.c_str(), 0, nullptr,
                                 &Recorder::callback),
                  0);
        const auto r = rec.final_record();
        ASSERT_EQ(r.state, STATE_DONE) << r.document;
        EXPECT_EQ(r.document, "{\"movie_path\":\"" + sources->pcm_stereo + "\",\"audio_path\":\"" +
                                  path + "\"}");
        EXPECT_EQ(probe(path, "a", "stream=codec_name"), "pcm_s16le");
        EXPECT_EQ(probe(path, "a", "stream=channels"), "2");
        EXPECT_EQ(probe(path, "a", "stream=sample_rate"), std::to_string(kRate));
        const std::vector<int16_t> samples = decoded_samples(path);
        ASSERT_EQ(samples.size(), static_cast<size_t>(1.5 * kRate) * 2);
        size_t differing = 0;
        for (size_t i = 0; i < samples.size(); ++i) {
            if (samples[i] != orbv_sample::tone_sample(static_cast<int>(i % 2), i / 2, kRate)) {
                ++differing;
            }
        }
        EXPECT_EQ(differing, 0u);
    }
}

TEST_F(GetAudio, MonoAacBecomesTwoEqualChannels) {
    const std::string path = out.file("mono.wav");
    Recorder rec;
    ORBV_get_audio(sources->aac_mono.c_str(), path.c_str(), 0, nullptr, &Recorder::callback);
    ASSERT_EQ(rec.final_record().state, STATE_DONE) << rec.final_record().document;
    EXPECT_EQ(probe(path, "a", "stream=channels"), "2");
    const std::vector<int16_t> ours = decoded_samples(path);
    // The ffmpeg program's own decoding and upmix of the source is the reference.
    const std::vector<int16_t> reference = decoded_samples(sources->aac_mono, "-ac 2");
    ASSERT_EQ(ours.size(), reference.size());
    ASSERT_GE(ours.size(), static_cast<size_t>(kRate) * 2);
    size_t unequal = 0, off = 0;
    double energy = 0;
    for (size_t i = 0; i + 1 < ours.size(); i += 2) {
        if (ours[i] != ours[i + 1]) ++unequal;
        if (std::abs(ours[i] - reference[i]) > 1) ++off;
        energy += std::abs(ours[i]);
    }
    EXPECT_EQ(unequal, 0u);
    EXPECT_EQ(off, 0u);
    EXPECT_GT(energy / (ours.size() / 2), 1000.0) << "the tone is there";
}

TEST_F(GetAudio, ProgressEveryTenOrHundredPackets) {
    struct Case {
        const std::string* movie;
        int interval;
    };
    for (const Case& c : {Case{&sources->pcm_stereo, 10}, Case{&sources->long_pcm, 100}}) {
        SCOPED_TRACE(*c.movie);
        const std::string path = out.file("progress.wav");
        Recorder rec;
        ORBV_get_audio(c.movie->c_str(), path.c_str(), 0, nullptr, &Recorder::callback);
        const auto& records = rec.records();
        ASSERT_GE(records.size(), 2u);
        const int packets = audio_packet_count(*c.movie);
        // The announced total is the stream's length over the first packet's length.
        const long long total =
            std::stoll(probe(*c.movie, "a", "stream=duration_ts")) /
            std::stoll(run_command("ffprobe -v error -select_streams a:0 -show_entries "
                                   "packet=duration -read_intervals %+#1 -of csv=p=0 " +
                                   shell_quote(*c.movie)));
        EXPECT_EQ(records.front().state, STATE_START);
        EXPECT_EQ(records.front().document,
                  "{\"movie_path\":\"" + *c.movie + "\",\"audio_path\":\"" + path +
                      "\",\"frame_count\":" + std::to_string(total) + "}");
        std::vector<std::string> progress;
        for (const auto& r : records)
            if (r.state == STATE_PROGRESS) progress.push_back(r.document);
        ASSERT_EQ(progress.size(), static_cast<size_t>(packets / c.interval));
        for (size_t i = 0; i < progress.size(); ++i) {
            EXPECT_EQ(progress[i],
                      "{\"movie_path\":\"" + *c.movie + "\",\"audio_path\":\"" + path +
                          "\",\"frame_count\":" + std::to_string((i + 1) * c.interval) + "}");
        }
        EXPECT_EQ(records.back().state, STATE_DONE);
    }
}

// A cancel through the callback at the first, a middle and the last progress point is checked
// with the other faults; without a callback the cancel file is still tested.
TEST_F(GetAudio, CancelFileWithoutACallback) {
    const std::string path = out.file("cancelled.wav");
    const std::string cancel = out.file("cancel-request");
    orbv_test::write_file(cancel, "");
    EXPECT_EQ(ORBV_get_audio(sources->pcm_stereo.c_str(), path.c_str(), 0, cancel.c_str(), nullptr),
              0);
    EXPECT_FALSE(exists(path));
    ORBV_get_audio(sources->pcm_stereo.c_str(), path.c_str(), 0, out.file("absent").c_str(),
                   nullptr);
    EXPECT_TRUE(exists(path)) << "no cancel file: the track is written";
}

TEST_F(GetAudio, InputsThatCannotGiveSound) {
    const std::string path = out.file("none.wav");
    {
        // No audio stream: the stale file of that name, never opened, stays as it was.
        orbv_test::write_file(path, "stale");
        Recorder rec;
        ORBV_get_audio(sources->silent.c_str(), path.c_str(), 0, nullptr, &Recorder::callback);
        const auto r = rec.final_record();
        EXPECT_EQ(r.state, STATE_FAILED);
        EXPECT_EQ(r.document,
                  audio_error(20001, "Movie Has No Audio Stream!!", 0, "", sources->silent, path));
        EXPECT_EQ(orbv_test::read_file(path), "stale");
    }
    {
        // The stream test comes before the null-path test.
        Recorder rec;
        ORBV_get_audio(sources->silent.c_str(), nullptr, 0, nullptr, &Recorder::callback);
        EXPECT_EQ(rec.final_record().document,
                  audio_error(20001, "Movie Has No Audio Stream!!", 0, "", sources->silent, ""));
    }
    {
        Recorder rec;
        ORBV_get_audio(sources->pcm_stereo.c_str(), nullptr, 0, nullptr, &Recorder::callback);
        const auto r = rec.final_record();
        EXPECT_EQ(r.state, STATE_FAILED);
        EXPECT_EQ(r.document,
                  audio_error(20001, "Audio Path is NULL!!", -1, "", sources->pcm_stereo, ""));
    }
    {
        orbv_test::write_file(path, "stale");
        Recorder rec;
        ORBV_get_audio(sources->not_media.c_str(), path.c_str(), 0, nullptr, &Recorder::callback);
        EXPECT_EQ(
            rec.final_record().document,
            audio_error(20001, "Cold Not Open File", -1094995529,
                        "Invalid data found when processing input", sources->not_media, path));
        EXPECT_EQ(orbv_test::read_file(path), "stale");
    }
}

TEST_F(GetAudio, ContainerThatCannotHoldPcmFailsAndLeavesNoFile) {
    // FFmpeg's MP4 muxer has no tag for PCM: the header fails.
    const std::string path = out.file("track.mp4");
    Recorder rec;
    ORBV_get_audio(sources->pcm_stereo.c_str(), path.c_str(), 0, nullptr, &Recorder::callback);
    const auto r = rec.final_record();
    EXPECT_EQ(r.state, STATE_FAILED);
    EXPECT_EQ(r.document, audio_error(29999, "Colud Not Write Audio!!", -22, "Invalid argument",
                                      sources->pcm_stereo, path));
    EXPECT_FALSE(exists(path));
    // An extension no muxer claims fails at the container.
    const std::string odd = out.file("track.unknownext");
    Recorder rec2;
    ORBV_get_audio(sources->pcm_stereo.c_str(), odd.c_str(), 0, nullptr, &Recorder::callback);
    EXPECT_EQ(rec2.final_record().state, STATE_FAILED);
    EXPECT_NE(rec2.final_record().document.find("Colud Not Write Audio!!"), std::string::npos);
    EXPECT_FALSE(exists(odd));
}

TEST_F(GetAudio, PathsAreEscapedInEveryDocument) {
    const std::string dir = out.file("we\"ird\\dir");
    ASSERT_EQ(
        run_command("mkdir " + shell_quote(dir) + " && cp " + shell_quote(sources->pcm_stereo) +
                    " " + shell_quote(dir + "/a.mov") + " && echo ok"),
        "ok\n");
    const std::string path = dir + "/out\"put.wav";
    const std::string escaped_dir = out.path() + "/we\\\"ird\\\\dir";
    Recorder rec;
    ORBV_get_audio((dir + "/a.mov").c_str(), path.c_str(), 0, nullptr, &Recorder::callback);
    const std::string start_prefix =
        "{\"movie_path\":\"" + escaped_dir + "/a.mov\",\"audio_path\":\"" + escaped_dir;
    EXPECT_EQ(rec.records().front().document.rfind(start_prefix, 0), 0u)
        << rec.records().front().document;
    EXPECT_EQ(rec.final_record().document, "{\"movie_path\":\"" + escaped_dir +
                                               "/a.mov\",\"audio_path\":\"" + escaped_dir +
                                               "/out\\\"put.wav\"}");
}
