// A whole movie export against the ffmpeg program doing the same job with its v360 filter:
// two 1936 x 1936 H.264 lens movies of 120 frames with sound into a 2880 x 1440 panorama,
// libx264 with its default settings at the same bit rate, PCM sound, MOV. The two run in
// turns on the same inputs, each in a process of its own so that its peak memory is its own.
// Ours covers what the export does up to the panorama metadata: opening the inputs, the maps,
// and the loop, whose time is split into decoding, stitching and encoding (the rest is
// reading, sound and set-up).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "api/analyses.h"
#include "api/host_progress.h"
#include "media/export_params.h"
#include "media/libav_if.h"
#include "media/panorama_export.h"
#include "media/stitch_decision.h"
#include "sample_shot.h"
#include "stitch/lens_geometry.h"

extern char** environ;

namespace {

constexpr int kLens = 1936;
constexpr int kOutWidth = 2880;
constexpr int kOutHeight = 1440;
constexpr int kFrames = 120;

// Two lens movies made once per run, in a directory removed at exit.
struct Inputs {
    std::string dir;
    std::string lens1;
    std::string lens2;
    int64_t bit_rate = 0;  // what our encoder is asked for, and so ffmpeg's too

    Inputs() {
        std::string pattern = (std::filesystem::temp_directory_path() / "orbv-bench-XXXXXX");
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        dir = pattern;
        lens1 = dir + "/lens1.mov";
        lens2 = dir + "/lens2.mov";
        orbv_sample::LensRenderer renderer(kLens);
        for (int lens = 1; lens <= 2; ++lens) {
            orbv_sample::MovieOptions m;
            m.width = m.height = kLens;
            m.frames = kFrames;
            m.b_frames = true;
            m.preset = "veryfast";
            m.sound = orbv_sample::Sound::Aac;
            // Sensor-like grain gives the movies a camera's bit rate and decoding cost.
            uint32_t seed = 12345u * lens;
            m.picture = [&](int frame) {
                orbv_sample::Picture p = renderer.render(lens, frame);
                for (uint8_t& y : p.y) {
                    seed = seed * 1664525u + 1013904223u;
                    y = static_cast<uint8_t>(
                        std::clamp(y + static_cast<int>(seed >> 29) - 4, 16, 235));
                }
                return p;
            };
            orbv_sample::write_movie(lens == 1 ? lens1 : lens2, m);
        }
        // The encoder's bit rate comes from the input with the longer container (input 2 on
        // a tie): the source bit rate scaled by the ratio of picture areas.
        orbv::libavIF media(lens1.c_str(), lens2.c_str());
        if (media.open_input(0) != 0 || media.open_input(1) != 0) std::abort();
        const orbv::ExportPlan plan =
            orbv::plan_export(orbv::ExportParams(), {}, media.input(0), media.input(1));
        bit_rate = orbv::video_bit_rate(kOutWidth, kOutHeight,
                                        media.input(plan.video_source).video_decoder().get());
    }
    ~Inputs() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

Inputs& inputs() {
    static Inputs instance;
    return instance;
}

// The export as the front end runs it, without the metadata: the analyses that give the
// stitch its facts, the inputs, the stitch, the plan and the loop. Prints the split of its time
// on standard output.
int export_child(const char* lens1, const char* lens2, const char* out) {
    const auto began = std::chrono::steady_clock::now();
    orbv::AnalysisInfo info1, info2;
    if (orbv::analyze_by_content(lens1, nullptr, nullptr, 0, 0, nullptr, &info1) != 0 ||
        orbv::analyze_by_content(lens2, nullptr, nullptr, 0, 0, nullptr, &info2) != 0)
        return 1;
    orbv::libavIF media(lens1, lens2);
    if (media.open_input(0) != 0 || media.open_input(1) != 0) return 1;
    orbv::ExportParams params;
    params.output_width = kOutWidth;
    params.output_height = kOutHeight;
    params.luts1 = params.luts2 = orbv::make_plane_luts(std::nullopt, std::nullopt, std::nullopt);
    const orbv::PairFacts facts{info1.width, info1.height, info1.orientation, info2.orientation,
                                false};
    const auto maps_began = std::chrono::steady_clock::now();
    orbv::StitchDecision stitch = orbv::decide_stitch(params, nullptr, facts);
    if (stitch.refusal != orbv::StitchRefusal::kNone) return 1;
    const double maps =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - maps_began).count();
    const orbv::ExportPlan plan =
        orbv::plan_export(params, std::move(stitch.setup), media.input(0), media.input(1));
    orbv::PanoramaExport panorama(media.take_input(0), media.take_input(1), plan);
    orbv::ExportProgress progress(nullptr, nullptr, lens1, lens2, out);
    progress.announce(plan.expected);
    const orbv::JobOutcome outcome = panorama.write_video(out, progress);
    if (outcome.failed()) return 1;
    const double total =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    const orbv::JobTimings& t = outcome.timings;
    std::printf("%f %f %f %f %f %f\n", t.decode, t.stitch, t.encode, maps, t.total, total);
    return 0;
}

struct Run {
    double seconds = -1;
    double cpu = 0;  // user + system seconds
    double peak_mb = 0;
    std::string output;  // the child's standard output
};

// Runs a program with its standard error discarded; wall time, peak memory and output.
Run run_process(const std::vector<std::string>& args) {
    Run run;
    int out[2];
    if (pipe(out) != 0) return run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const auto began = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
        close(out[0]);
        return run;
    }
    char buf[4096];
    ssize_t n;
    while ((n = read(out[0], buf, sizeof(buf))) > 0) run.output.append(buf, n);
    close(out[0]);
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        run.seconds = seconds;
        run.peak_mb = static_cast<double>(usage.ru_maxrss) / 1024.0;
        auto secs = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
        run.cpu = secs(usage.ru_utime) + secs(usage.ru_stime);
    }
    return run;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// ffmpeg's export: the lens pictures side by side, v360 from dual fisheye of the given field
// of view to equirectangular (bilinear), libx264 at our bit rate, the sound of input 1 as PCM.
std::vector<std::string> ffmpeg_export(const Inputs& in, const std::string& fov,
                                       const std::string& out) {
    return {"ffmpeg",
            "-nostdin",
            "-y",
            "-i",
            in.lens1,
            "-i",
            in.lens2,
            "-filter_complex",
            "[0:v][1:v]hstack,v360=input=dfisheye:output=e:ih_fov=" + fov + ":iv_fov=" + fov +
                ":w=" + std::to_string(kOutWidth) + ":h=" + std::to_string(kOutHeight) + "[v]",
            "-map",
            "[v]",
            "-map",
            "0:a",
            "-c:v",
            "libx264",
            "-b:v",
            std::to_string(in.bit_rate),
            "-c:a",
            "pcm_s16le",
            out};
}

// Argument: rounds. Each round runs, in turns, our export, ffmpeg's with the 180-degree field
// of view, and ffmpeg's with the field of view of the whole lens picture (the image circle of
// radius 907 is 180 degrees, so the 1936-pixel square spans 180 * 968 / 907 degrees): with
// 180 degrees a third of ffmpeg's panorama stays black, which its encoder gets almost for
// free, while the matched view fills it as ours does. Ratios are of medians of wall time, and
// of processor time (user + system), which the machine's other load disturbs less. Finally
// the encoder alone (ffmpeg re-encoding our panorama with the same settings) shows the floor
// under both.
void BM_ExportAgainstFfmpegV360(benchmark::State& state) {
    if (std::system("ffmpeg -version > /dev/null 2>&1") != 0) {
        state.SkipWithError("ffmpeg not found");
        return;
    }
    Inputs& in = inputs();
    const std::string ours_out = in.dir + "/ours.mov";
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::vector<std::string> ours = {self, "--export-child", in.lens1, in.lens2, ours_out};
    const std::vector<std::string> plain = ffmpeg_export(in, "180", in.dir + "/ffmpeg.mov");
    char matched_fov[32];
    std::snprintf(matched_fov, sizeof(matched_fov), "%.3f",
                  180.0 * (kLens / 2) / orbv::lens_radius_for(kLens));
    const std::vector<std::string> matched =
        ffmpeg_export(in, matched_fov, in.dir + "/ffmpeg_matched.mov");
    const std::vector<std::string> encoder_alone = {
        "ffmpeg",  "-nostdin", "-i",
        ours_out,  "-an",      "-c:v",
        "libx264", "-b:v",     std::to_string(in.bit_rate),
        "-f",      "null",     "-"};

    const int rounds = static_cast<int>(state.range(0));
    std::vector<double> ours_s, plain_s, matched_s, ours_cpu, plain_cpu, matched_cpu;
    std::vector<double> decode, stitch, encode, maps, rest;
    double ours_peak = 0, plain_peak = 0, matched_peak = 0;
    Run alone;
    for (auto _ : state) {
        for (int r = 0; r < rounds; ++r) {
            const Run a = run_process(ours);
            const Run b = run_process(plain);
            const Run c = run_process(matched);
            double d, s, e, m, loop, total;
            if (a.seconds < 0 || std::sscanf(a.output.c_str(), "%lf %lf %lf %lf %lf %lf", &d, &s,
                                             &e, &m, &loop, &total) != 6) {
                state.SkipWithError("our export failed");
                return;
            }
            if (b.seconds < 0 || c.seconds < 0) {
                state.SkipWithError("ffmpeg failed");
                return;
            }
            ours_s.push_back(a.seconds);
            plain_s.push_back(b.seconds);
            matched_s.push_back(c.seconds);
            ours_cpu.push_back(a.cpu);
            plain_cpu.push_back(b.cpu);
            matched_cpu.push_back(c.cpu);
            decode.push_back(d);
            stitch.push_back(s);
            encode.push_back(e);
            maps.push_back(m);
            rest.push_back(a.seconds - d - s - e - m);
            ours_peak = std::max(ours_peak, a.peak_mb);
            plain_peak = std::max(plain_peak, b.peak_mb);
            matched_peak = std::max(matched_peak, c.peak_mb);
        }
        alone = run_process(encoder_alone);
        state.SetIterationTime(median(ours_s));
    }
    state.counters["ours_s"] = median(ours_s);
    state.counters["ffmpeg_s"] = median(plain_s);
    state.counters["ratio"] = median(ours_s) / median(plain_s);
    state.counters["cpu_ratio"] = median(ours_cpu) / median(plain_cpu);
    state.counters["ours_cpu_s"] = median(ours_cpu);
    state.counters["ffmpeg_cpu_s"] = median(plain_cpu);
    state.counters["ffmpeg_matched_s"] = median(matched_s);
    state.counters["ratio_matched"] = median(ours_s) / median(matched_s);
    state.counters["cpu_ratio_matched"] = median(ours_cpu) / median(matched_cpu);
    state.counters["peak_MB"] = ours_peak;
    state.counters["ffmpeg_peak_MB"] = std::max(plain_peak, matched_peak);
    state.counters["x264_alone_s"] = alone.seconds;
    state.counters["x264_alone_peak_MB"] = alone.peak_mb;
    state.counters["decode_s"] = median(decode);
    state.counters["stitch_s"] = median(stitch);
    state.counters["encode_s"] = median(encode);
    state.counters["maps_s"] = median(maps);
    state.counters["other_s"] = median(rest);
    state.counters["out_Mbps"] = static_cast<double>(in.bit_rate) / 1e6;
}
BENCHMARK(BM_ExportAgainstFfmpegV360)
    ->ArgName("rounds")
    ->Arg(3)
    ->Unit(benchmark::kSecond)
    ->UseManualTime()
    ->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "--export-child") == 0) {
        return export_child(argv[2], argv[3], argv[4]);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
