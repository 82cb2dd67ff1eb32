// Gallery thumbnails, on a 3888 x 3888 still and 1440 and 1936 lens movies made at run time by
// the sample-shot maker:
// - the analysis call as the viewer makes it for every file of a card: without a thumbnail,
//   and with one of 160, 320 or full width;
// - the still's thumbnail by the reduced JPEG decode and by the full-size one;
// - the movies' first picture as a thumbnail with FFmpeg's decoder threads and with none;
// - vipsthumbnail (Debian's libvips-tools, installed by make bench) on the same still, as a
//   process of its own: its whole run, and apart from it its start-up (a 16 x 16 still).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "bench_dir.h"
#include "media/libav_if.h"
#include "media/thumbnail_job.h"
#include "orbv.h"
#include "quiet_stderr.h"
#include "sample_shot.h"

extern char** environ;

namespace {

constexpr int kStill = 3888;
constexpr int kNoThumbnail = -1;  // the analysis alone; 0 is a full-size thumbnail

// Inputs are made once per run in a directory removed at exit.
struct Inputs {
    BenchDir dir{"orbv-thumb-bench"};
    std::string still, tiny;
    std::map<std::pair<int, bool>, std::string> movies;  // by lens width and B-frames

    const std::string& camera_still() {
        if (still.empty()) {
            still = dir.file("still.jpg");
            const orbv_sample::CameraInfo camera;
            orbv_sample::write_still(still, orbv_sample::LensRenderer(kStill).render(1, 0),
                                     &camera);
        }
        return still;
    }
    // A 16 x 16 still: what every run of a thumbnail tool costs whatever the picture.
    const std::string& tiny_still() {
        if (tiny.empty()) {
            tiny = dir.file("tiny.jpg");
            orbv_sample::write_still(tiny, orbv_sample::Picture(16, 16, 128), nullptr);
        }
        return tiny;
    }
    // A camera lens movie of 30 pictures with PCM sound.
    const std::string& camera_movie(int width, bool b_frames = false) {
        std::string& path = movies[{width, b_frames}];
        if (path.empty()) {
            path = dir.file("movie" + std::to_string(width) + (b_frames ? "b" : "") + ".mov");
            orbv_sample::LensRenderer renderer(width);
            orbv_sample::MovieOptions m;
            m.width = m.height = width;
            m.frames = 30;
            m.b_frames = b_frames;
            m.picture = [&](int frame) { return renderer.render(1, frame); };
            orbv_sample::write_movie(path, m);
        }
        return path;
    }
};

Inputs& inputs() {
    static Inputs instance;
    return instance;
}

const char* size_label(int64_t width) {
    return width == kNoThumbnail ? "no thumbnail" : width == 0 ? "full size" : "";
}

int32_t g_state = -1;
void remember_state(int32_t state, const char*) { g_state = state; }

// ORBV_analyze_image as the viewer calls it; range(0) is the thumbnail width.
void analyze(benchmark::State& state, const std::string& path) {
    const std::string thumbnail = inputs().dir.file("analysis_thumb.jpg");
    const int64_t width = state.range(0);
    const char* thumbnail_path = width == kNoThumbnail ? nullptr : thumbnail.c_str();
    QuietStderr quiet;
    for (auto _ : state) {
        g_state = -1;
        ORBV_analyze_image(path.c_str(), thumbnail_path, static_cast<uint32_t>(width), 1,
                           remember_state);
        if (g_state != STATE_DONE) {
            state.SkipWithError("the analysis failed");
            break;
        }
    }
    state.SetLabel(size_label(width));
}
void BM_AnalyzeStill3888(benchmark::State& state) { analyze(state, inputs().camera_still()); }
void BM_AnalyzeMovie1936(benchmark::State& state) { analyze(state, inputs().camera_movie(1936)); }
// The still's rows: no thumbnail (or the tool's start-up), 160, 320 and full width.
void still_widths(benchmark::internal::Benchmark* b) {
    b->ArgName("thumbnail")->ArgsProduct({{kNoThumbnail, 160, 320, 0}})->Iterations(20);
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}
BENCHMARK(BM_AnalyzeStill3888)->Apply(still_widths);
BENCHMARK(BM_AnalyzeMovie1936)
    ->ArgName("thumbnail")
    ->ArgsProduct({{kNoThumbnail, 320}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20)
    ->UseRealTime();

// The media layer's thumbnail writer on the still: range(0) the width, range(1) 1 for the
// full-size decode that the reduced one replaced.
void BM_StillThumbnailDecode3888(benchmark::State& state) {
    const std::string& still = inputs().camera_still();
    const std::string out = inputs().dir.file("decode_thumb.jpg");
    const auto decode =
        state.range(1) != 0 ? orbv::ThumbnailDecode::FullSize : orbv::ThumbnailDecode::Reduced;
    QuietStderr quiet;
    for (auto _ : state) {
        orbv::libavIF media(still.c_str());
        if (media.open_input(0) != 0) {
            state.SkipWithError(media.errstr());
            break;
        }
        const orbv::JobOutcome outcome =
            orbv::ThumbnailJob(media.take_input(0))
                .write_thumbnail(out.c_str(), static_cast<int32_t>(state.range(0)), 1, decode);
        if (outcome.failed()) {
            state.SkipWithError(outcome.error.text());
            break;
        }
    }
    state.SetLabel(decode == orbv::ThumbnailDecode::FullSize ? "full-size decode" : "reduced");
}
BENCHMARK(BM_StillThumbnailDecode3888)
    ->ArgNames({"width", "full_decode"})
    ->ArgsProduct({{160, 320}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20)
    ->UseRealTime();

// A movie's 320-pixel thumbnail: range(0) the lens width, range(1) 1 for a movie with
// B-frames, range(2) the decoder threads (0: FFmpeg's choice, what the analysis used to take;
// 1: none; -1: the analysis's choice now, kFirstPictureThreads).
void BM_MovieThumbnailThreads(benchmark::State& state) {
    const std::string& movie =
        inputs().camera_movie(static_cast<int>(state.range(0)), state.range(1) != 0);
    const std::string out = inputs().dir.file("movie_thumb.jpg");
    QuietStderr quiet;
    for (auto _ : state) {
        orbv::libavIF media(movie.c_str());
        media.set_decoder_threads(static_cast<int32_t>(state.range(2)));
        if (media.open_input(0) != 0) {
            state.SkipWithError(media.errstr());
            break;
        }
        const orbv::JobOutcome outcome =
            orbv::ThumbnailJob(media.take_input(0)).write_thumbnail(out.c_str(), 320, 1);
        if (outcome.failed()) {
            state.SkipWithError(outcome.error.text());
            break;
        }
    }
}
BENCHMARK(BM_MovieThumbnailThreads)
    ->ArgNames({"lens", "bframes", "threads"})
    ->ArgsProduct({{1440, 1936}, {0, 1}, {0, 1, orbv::kFirstPictureThreads}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20)
    ->UseRealTime();

// --- vipsthumbnail, a process per thumbnail ----------------------------------------------

std::string find_on_path(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path ? path : "");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        const std::string candidate = dir + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return "";
}

// Runs the program to its end with its output discarded; false when it failed.
bool run_process(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    return spawned == 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

double children_cpu_seconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// range(0): the thumbnail width (0: full size); -1 makes the thumbnail of a 16 x 16 still,
// the start-up that every run of the tool pays.
void BM_Vipsthumbnail3888(benchmark::State& state, const std::string& program) {
    const int64_t width = state.range(0);
    const std::string& still =
        width == kNoThumbnail ? inputs().tiny_still() : inputs().camera_still();
    const int64_t box = width == kNoThumbnail ? 16 : width == 0 ? kStill : width;
    const std::vector<std::string> args{
        program, still, "-s", std::to_string(box), "-o", inputs().dir.file("vips.jpg")};
    const double cpu_before = children_cpu_seconds();
    for (auto _ : state) {
        if (!run_process(args)) {
            state.SkipWithError("vipsthumbnail failed");
            break;
        }
    }
    state.counters["process_cpu_ms"] =
        (children_cpu_seconds() - cpu_before) * 1e3 / static_cast<double>(state.iterations());
    state.SetLabel(width == kNoThumbnail ? "start-up: a 16 x 16 still" : size_label(width));
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const std::string vips = find_on_path("vipsthumbnail");
    if (vips.empty()) {
        std::printf("vipsthumbnail not found (Debian's libvips-tools): its figures are skipped\n");
    } else {
        benchmark::RegisterBenchmark("BM_Vipsthumbnail3888", BM_Vipsthumbnail3888, vips)
            ->Apply(still_widths);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
