// Speed of the media layer on camera-sized inputs made at run time by the sample-shot maker:
// audio extraction as a multiple of real time and decoding of a 1936 x 1936 lens movie with
// and without decoder threads. Thumbnails have a benchmark of their own.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "api/host_progress.h"
#include "bench_dir.h"
#include "media/libav_if.h"
#include "media/sound_extraction.h"
#include "quiet_stderr.h"
#include "sample_shot.h"

namespace {

constexpr double kSoundSeconds = 60.0;
constexpr int kDecodeFrames = 60;

// Inputs are made once per run in a directory removed at exit.
struct Inputs {
    BenchDir dir{"orbv-bench"};
    std::string pcm_movie;
    std::string aac_movie;
    std::string lens_movie;

    const std::string& sound(orbv_sample::Sound kind) {
        std::string& path = kind == orbv_sample::Sound::Pcm ? pcm_movie : aac_movie;
        if (path.empty()) {
            path = dir.file(kind == orbv_sample::Sound::Pcm ? "pcm.mov" : "aac.mov");
            orbv_sample::MovieOptions m;
            m.width = m.height = 64;
            m.frames = 10;
            m.sound = kind;
            m.channels = 2;
            m.sample_rate = 48000;
            m.sound_seconds = kSoundSeconds;
            m.picture = [](int) { return orbv_sample::Picture(64, 64, 90); };
            orbv_sample::write_movie(path, m);
        }
        return path;
    }
    const std::string& movie_1936() {
        if (lens_movie.empty()) {
            lens_movie = dir.file("lens.mov");
            orbv_sample::LensRenderer renderer(1936);
            orbv_sample::MovieOptions m;
            m.width = m.height = 1936;
            m.frames = kDecodeFrames;
            m.b_frames = true;
            m.preset = "veryfast";
            m.sound = orbv_sample::Sound::None;
            // Sensor-like grain makes every picture cost what a real scene costs to decode.
            uint32_t seed = 12345;
            m.picture = [&](int frame) {
                orbv_sample::Picture p = renderer.render(1, frame);
                for (uint8_t& y : p.y) {
                    seed = seed * 1664525u + 1013904223u;
                    y = static_cast<uint8_t>(
                        std::clamp(y + static_cast<int>(seed >> 29) - 4, 16, 235));
                }
                return p;
            };
            orbv_sample::write_movie(lens_movie, m);
        }
        return lens_movie;
    }
};

Inputs& inputs() {
    static Inputs instance;
    return instance;
}

void BM_AudioExtraction(benchmark::State& state, orbv_sample::Sound kind) {
    const std::string& movie = inputs().sound(kind);
    const std::string out = inputs().dir.file("out.wav");
    QuietStderr quiet;
    for (auto _ : state) {
        orbv::libavIF media(movie.c_str());
        orbv::AudioProgress progress(nullptr, nullptr, movie.c_str(), out.c_str());
        if (media.open_input(0) != 0) {
            state.SkipWithError(media.errstr());
            break;
        }
        const orbv::JobOutcome outcome =
            orbv::SoundExtraction(media.take_input(0)).write_audio(out.c_str(), 0, progress);
        if (outcome.failed()) {
            state.SkipWithError(outcome.error.text());
            break;
        }
    }
    state.counters["x_realtime"] = benchmark::Counter(
        kSoundSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK_CAPTURE(BM_AudioExtraction, pcm_stereo_48k_60s, orbv_sample::Sound::Pcm)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_AudioExtraction, aac_stereo_48k_60s, orbv_sample::Sound::Aac)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->UseRealTime();

void BM_Decode1936(benchmark::State& state) {
    const std::string& movie = inputs().movie_1936();
    int64_t pictures = 0;
    for (auto _ : state) {
        orbv::libavIF media(movie.c_str());
        media.set_decoder_threads(static_cast<int32_t>(state.range(0)));
        if (media.open_input(0) != 0) {
            state.SkipWithError(media.errstr());
            break;
        }
        orbv::PacketPtr packet = orbv::make_packet();
        orbv::FramePtr frame = orbv::make_frame();
        orbv::InputSlot input = media.take_input(0);
        orbv::VideoDecoder& decoder = input.video_decoder();
        while (av_read_frame(input.container(), packet.get()) >= 0) {
            if (packet->stream_index == input.video_index()) decoder.send_packet(packet.get());
            av_packet_unref(packet.get());
            while (decoder.take_picture(frame.get()) == 1) ++pictures;
        }
        decoder.drain();
        while (decoder.take_picture(frame.get()) == 1) ++pictures;
    }
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(pictures), benchmark::Counter::kIsRate);
    state.counters["pictures_per_pass"] =
        static_cast<double>(pictures) / static_cast<double>(state.iterations());
}
// 1: no decoder threads; 2: two; 0: FFmpeg's choice (the library's default: one per core
// plus one, frame and slice threads).
BENCHMARK(BM_Decode1936)
    ->ArgName("threads")
    ->Arg(1)
    ->Arg(2)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
