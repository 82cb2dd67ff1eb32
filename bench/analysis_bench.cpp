// The analysis call on camera files made at run time by the sample-shot maker: a lens movie
// and a 3888 x 3888 still, without and with a 320-pixel thumbnail, and a 1 GiB movie (a
// sparse mdat of zeros before the camera's own media and moov) whose metadata must be found
// without reading the file through. Bytes read are the process's rchar (/proc/self/io).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "bench_dir.h"
#include "metadata/mov_file.h"
#include "orbv.h"
#include "quiet_stderr.h"
#include "sample_shot.h"

namespace {

constexpr int kMovieFrames = 30;
constexpr int64_t kPadding = int64_t{1} << 30;  // zeros put before the camera's media

uint32_t get_u32(const std::string& b, size_t at) {
    return static_cast<uint32_t>(static_cast<uint8_t>(b[at])) << 24 |
           static_cast<uint32_t>(static_cast<uint8_t>(b[at + 1])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(b[at + 2])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(b[at + 3]));
}
void put_u32(std::string& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (24 - 8 * i));
}
uint64_t get_u64(const std::string& b, size_t at) {
    return uint64_t{get_u32(b, at)} << 32 | get_u32(b, at + 4);
}
void put_u64(std::string& b, size_t at, uint64_t v) {
    put_u32(b, at, static_cast<uint32_t>(v >> 32));
    put_u32(b, at + 4, static_cast<uint32_t>(v));
}

// Moves every chunk offset (stco, co64) inside [start, end) of the movie's bytes by delta.
void shift_chunk_offsets(std::string& b, size_t start, size_t end, uint64_t delta) {
    while (start + 8 <= end) {
        size_t size = get_u32(b, start);
        const std::string type = b.substr(start + 4, 4);
        if (size < 8 || start + size > end) throw std::runtime_error("unexpected atom layout");
        const size_t payload = start + 8;
        if (type == "moov" || type == "trak" || type == "mdia" || type == "minf" ||
            type == "stbl") {
            shift_chunk_offsets(b, payload, start + size, delta);
        } else if (type == "stco" || type == "co64") {
            const uint32_t count = get_u32(b, payload + 4);
            for (uint32_t i = 0; i < count; ++i) {
                if (type == "stco") {
                    const size_t at = payload + 8 + 4 * size_t{i};
                    const uint64_t moved = get_u32(b, at) + delta;
                    if (moved > UINT32_MAX) throw std::runtime_error("offset past 32 bits");
                    put_u32(b, at, static_cast<uint32_t>(moved));
                } else {
                    const size_t at = payload + 8 + 8 * size_t{i};
                    put_u64(b, at, get_u64(b, at) + delta);
                }
            }
        }
        start += size;
    }
}

// Inputs are made once per run in a directory removed at exit.
struct Inputs {
    BenchDir dir{"orbv-analysis-bench"};
    std::string movie;
    std::string still;
    std::string huge_movie;

    // A camera lens movie of 1440 x 1440 with PCM sound.
    const std::string& camera_movie() {
        if (movie.empty()) {
            movie = dir.file("camera.mov");
            orbv_sample::LensRenderer renderer(1440);
            orbv_sample::MovieOptions m;
            m.width = m.height = 1440;
            m.frames = kMovieFrames;
            m.sound = orbv_sample::Sound::Pcm;
            m.picture = [&](int frame) { return renderer.render(1, frame); };
            orbv_sample::write_movie(movie, m);
        }
        return movie;
    }
    const std::string& camera_still() {
        if (still.empty()) {
            still = dir.file("camera.jpg");
            const orbv_sample::CameraInfo camera;
            orbv_sample::write_still(still, orbv_sample::LensRenderer(3888).render(1, 0), &camera);
        }
        return still;
    }
    // The camera movie with kPadding zero bytes in an mdat of their own before its media:
    // ftyp, wide, the big mdat (64-bit size), the camera's mdat, moov with moved chunk
    // offsets. The zeros are a hole of a sparse file.
    const std::string& one_gib_movie() {
        if (huge_movie.empty()) {
            std::ifstream in(camera_movie(), std::ios::binary);
            std::string bytes((std::istreambuf_iterator<char>(in)), {});
            // The sample maker writes ftyp, wide, mdat, moov.
            size_t first_mdat = 0;
            while (first_mdat + 8 <= bytes.size() && bytes.compare(first_mdat + 4, 4, "mdat"))
                first_mdat += get_u32(bytes, first_mdat);
            if (first_mdat + 8 > bytes.size()) throw std::runtime_error("no mdat");
            const uint64_t header = 16;
            shift_chunk_offsets(bytes, 0, bytes.size(), header + kPadding);

            std::string big(header, '\0');
            put_u32(big, 0, 1);
            big.replace(4, 4, "mdat");
            put_u64(big, 8, header + kPadding);

            huge_movie = dir.file("one_gib.mov");
            const int fd = ::open(huge_movie.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd < 0) throw std::runtime_error("cannot create the 1 GiB movie");
            const std::string head = bytes.substr(0, first_mdat) + big;
            const std::string tail = bytes.substr(first_mdat);
            const bool ok =
                ::pwrite(fd, head.data(), head.size(), 0) == static_cast<ssize_t>(head.size()) &&
                ::pwrite(fd, tail.data(), tail.size(),
                         static_cast<off_t>(head.size() + kPadding)) ==
                    static_cast<ssize_t>(tail.size());
            ::close(fd);
            if (!ok) throw std::runtime_error("cannot write the 1 GiB movie");
        }
        return huge_movie;
    }
};

Inputs& inputs() {
    static Inputs instance;
    return instance;
}

// Bytes this process has read through read-like calls so far.
int64_t bytes_read_so_far() {
    char text[1024];
    const int fd = ::open("/proc/self/io", O_RDONLY);
    if (fd < 0) return -1;
    const ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (n <= 0) return -1;
    text[n] = '\0';
    const char* rchar = std::strstr(text, "rchar:");
    return rchar ? std::strtoll(rchar + 6, nullptr, 10) : -1;
}

// What one reading of /proc/self/io itself adds to rchar.
int64_t measurement_cost() {
    const int64_t a = bytes_read_so_far();
    const int64_t b = bytes_read_so_far();
    return b - a;
}

int32_t g_state = -1;
void remember_state(int32_t state, const char*) { g_state = state; }

// ORBV_analyze_image as the host calls it; range(0) is the thumbnail width, 0 for none.
void analyze(benchmark::State& state, const std::string& path) {
    const std::string thumbnail = inputs().dir.file("thumb.jpg");
    const uint32_t width = static_cast<uint32_t>(state.range(0));
    const char* thumbnail_path = width > 0 ? thumbnail.c_str() : nullptr;
    const int64_t cost = measurement_cost();
    int64_t read = 0;
    QuietStderr quiet;
    for (auto _ : state) {
        g_state = -1;
        const int64_t before = bytes_read_so_far();
        ORBV_analyze_image(path.c_str(), thumbnail_path, width, 0, remember_state);
        read += bytes_read_so_far() - before - cost;
        if (g_state != STATE_DONE) {
            state.SkipWithError("the analysis failed");
            break;
        }
    }
    state.counters["file_MB"] = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
    state.counters["read_MB_per_call"] =
        static_cast<double>(read) / 1e6 / static_cast<double>(state.iterations());
}

void BM_AnalyzeCameraMovie1440(benchmark::State& state) { analyze(state, inputs().camera_movie()); }
void BM_AnalyzeCameraStill3888(benchmark::State& state) { analyze(state, inputs().camera_still()); }
void BM_AnalyzeOneGiBMovie(benchmark::State& state) { analyze(state, inputs().one_gib_movie()); }

// The metadata readers alone: MovFile's search for the maker atom and the spherical XML.
void BM_MovieMetadataRead(benchmark::State& state, bool one_gib) {
    const std::string& path = one_gib ? inputs().one_gib_movie() : inputs().camera_movie();
    const int64_t cost = measurement_cost();
    int64_t read = 0;
    QuietStderr quiet;
    for (auto _ : state) {
        const int64_t before = bytes_read_so_far();
        orbv::MovFile mov(path.c_str(), false);
        const uint8_t* block = nullptr;
        size_t size = 0;
        const char* xml = nullptr;
        const bool found = mov.exif_data(&block, &size) == 0;
        mov.xml_data(&xml);
        mov.close();
        read += bytes_read_so_far() - before - cost;
        if (!found) {
            state.SkipWithError("no maker atom found");
            break;
        }
    }
    state.counters["file_MB"] = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
    state.counters["read_bytes_per_call"] =
        static_cast<double>(read) / static_cast<double>(state.iterations());
}

BENCHMARK(BM_AnalyzeCameraMovie1440)
    ->ArgName("thumbnail")
    ->Arg(0)
    ->Arg(320)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20)
    ->UseRealTime();
BENCHMARK(BM_AnalyzeCameraStill3888)
    ->ArgName("thumbnail")
    ->Arg(0)
    ->Arg(320)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10)
    ->UseRealTime();
BENCHMARK(BM_AnalyzeOneGiBMovie)
    ->ArgName("thumbnail")
    ->Arg(0)
    ->Arg(320)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_MovieMetadataRead, camera_movie, false)
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(200);
BENCHMARK_CAPTURE(BM_MovieMetadataRead, one_gib_movie, true)
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(200);

}  // namespace

BENCHMARK_MAIN();
