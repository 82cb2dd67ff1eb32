// Projection and stitching for a 3840x1920 panorama from two 1936x1936 lens pictures: the map
// build, one frame pair through the conversion (encoder excluded), the memory the export holds
// for them, and FFmpeg's v360 filter on the same conversion for reference.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "media/frame_converter.h"
#include "media/frame_planes.h"
#include "stitch/seam_band.h"
#include "stitch/stitch_setup.h"

namespace orbv {
namespace {

constexpr int kOutWidth = 3840, kOutHeight = 1920, kLens = 1936;
constexpr double kRadius = 907.0;
constexpr int kBandRows = SeamBandLayout::rows(90);
const Rotation kRotation{0.05, -0.05, 0, 0, 0.2617993877991494};  // rolls, 15 degrees about Y

double megabytes(size_t bytes) { return static_cast<double>(bytes) / 1e6; }

size_t map_bytes(const StitchMaps& m) {
    size_t bytes = 0;
    for (const FixedPointMap* map : {&m.map, &m.map_half})
        bytes += map->taps.total() * map->taps.elemSize() + map->fractions.total() * 2;
    return bytes;
}

void BM_BuildStitchMaps(benchmark::State& state) {
    const Rotation rotation = state.range(0) ? kRotation : Rotation{};
    const int band_rows = static_cast<int>(state.range(1));
    size_t bytes = 0;
    for (auto _ : state) {
        const StitchMaps maps = build_stitch_maps({kOutWidth, kOutHeight}, {kLens, kLens}, kRadius,
                                                  band_rows, rotation);
        bytes = map_bytes(maps);
        benchmark::DoNotOptimize(maps.map.taps.data);
    }
    state.counters["maps_MB"] = megabytes(bytes);
}
BENCHMARK(BM_BuildStitchMaps)
    ->ArgNames({"rotated", "band_rows"})
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({1, kBandRows})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// For comparison: every pixel through project_to_source, nothing hoisted.
void BM_BuildStitchMapsPerPixel(benchmark::State& state) {
    for (auto _ : state) {
        StitchMaps maps;
        for (int pass = 0; pass < 2; ++pass) {
            const int w = pass ? kOutWidth / 2 : kOutWidth, h = pass ? kOutHeight / 2 : kOutHeight;
            const int lens = pass ? kLens / 2 : kLens;
            cv::Mat mx(h, w, CV_32FC1), my(h, w, CV_32FC1);
            for (int i = 0; i < h; ++i) {
                for (int j = 0; j < w; ++j) {
                    const SourcePoint s =
                        project_to_source(j, i, {w, h}, {lens, lens}, {lens / 2, lens / 2},
                                          pass ? 453 : 907, pass ? 3 : 0, kRotation);
                    mx.at<float>(i, j) = static_cast<float>(s.x);
                    my.at<float>(i, j) = static_cast<float>(s.y);
                }
            }
            benchmark::DoNotOptimize(mx.data);
        }
    }
}
BENCHMARK(BM_BuildStitchMapsPerPixel)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

FramePtr lens_frame(AVPixelFormat format, uint64_t seed) {
    FramePtr f(av_frame_alloc());
    f->width = f->height = kLens;
    f->format = format;
    if (av_frame_get_buffer(f.get(), 32) < 0) std::abort();
    cv::RNG rng(seed);
    for (int k = 0; k < 3; ++k) {
        cv::Mat plane(kLens, f->linesize[k], CV_8UC1, f->data[k]);
        if (k > 0 && format == AV_PIX_FMT_YUV420P) plane = plane.rowRange(0, kLens / 2);
        rng.fill(plane, cv::RNG::UNIFORM, 0, 256);
        cv::GaussianBlur(plane, plane, cv::Size(9, 9), 0);  // picture-like, not noise
    }
    return f;
}

const StitchMaps& shared_maps(bool band) {
    static const StitchMaps plain =
        build_stitch_maps({kOutWidth, kOutHeight}, {kLens, kLens}, kRadius, 0, kRotation);
    static const StitchMaps banded =
        build_stitch_maps({kOutWidth, kOutHeight}, {kLens, kLens}, kRadius, kBandRows, kRotation);
    return band ? banded : plain;
}

// Variants: 0 movie pair (4:2:0) without colour tables, 1 with colour offsets, 2 JPEG still
// pair (4:2:2, converted first), 3 movie pair with a seam band.
StitchSetup export_params(int variant) {
    StitchSetup params;
    params.maps = shared_maps(variant == 3);
    params.luts1 = params.luts2 = make_plane_luts(std::nullopt, std::nullopt, std::nullopt);
    if (variant == 1) {
        params.luts1 = make_plane_luts(12, -4, 3);
        params.luts2 = make_plane_luts(-6, 2, std::nullopt);
    }
    if (variant == 3) {
        params.band.planes = {
            cv::Mat(kBandRows, kLens, CV_8UC1, cv::Scalar(90)),
            cv::Mat(SeamBandLayout::rows(45), kLens / 2, CV_8UC1, cv::Scalar(120)),
            cv::Mat(SeamBandLayout::rows(45), kLens / 2, CV_8UC1, cv::Scalar(140))};
        params.band.valid = 1;
    }
    return params;
}

void BM_ConvertFrame(benchmark::State& state) {
    const int variant = static_cast<int>(state.range(0));
    const AVPixelFormat format = variant == 2 ? AV_PIX_FMT_YUVJ422P : AV_PIX_FMT_YUV420P;
    const FramePtr f1 = lens_frame(format, 1), f2 = lens_frame(format, 2);
    const StitchSetup params = export_params(variant);
    // The export stitches into a pooled encoder frame; so does this.
    FramePtr target(av_frame_alloc());
    target->width = kOutWidth;
    target->height = kOutHeight;
    target->format = AV_PIX_FMT_YUV420P;
    FrameConverter converter;
    if (av_frame_get_buffer(target.get(), 0) < 0 ||
        converter.convert_frame(f1.get(), f2.get(), params, nullptr, target.get()) != 0) {
        state.SkipWithError("conversion failed");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            converter.convert_frame(f1.get(), f2.get(), params, nullptr, target.get()));
    }
    state.counters["held_MB"] = megabytes(map_bytes(params.maps) + converter.held_bytes());
    state.counters["maps_MB"] = megabytes(map_bytes(params.maps));
    state.counters["canvases_MB"] = megabytes(converter.held_bytes());
}
// The fastest of the repetitions beside the median: on a shared or virtual machine the median
// carries the neighbours' load, the fastest comes closest to what the stitch itself needs.
BENCHMARK(BM_ConvertFrame)
    ->ArgName("variant")
    ->DenseRange(0, 3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(25)
    ->ComputeStatistics("min",
                        [](const std::vector<double>& v) {
                            return *std::min_element(v.begin(), v.end());
                        })
    ->ReportAggregatesOnly(true);

// For comparison: the plain sequence with per-frame copies, stacks and the matrix library's
// (multi-threaded) remap.
void BM_ConvertFramePlain(benchmark::State& state) {
    const FramePtr f1 = lens_frame(AV_PIX_FMT_YUV420P, 1), f2 = lens_frame(AV_PIX_FMT_YUV420P, 2);
    const StitchSetup params = export_params(0);
    for (auto _ : state) {
        const PlaneSet one = frame_to_planes(f1.get()), two = frame_to_planes(f2.get());
        PlaneSet out;
        for (int k = 0; k < 3; ++k) {
            cv::Mat canvas, plane;
            cv::vconcat(std::vector<cv::Mat>{one.planes[k], two.planes[k]}, canvas);
            const FixedPointMap& map = k ? params.maps.map_half : params.maps.map;
            cv::remap(canvas, plane, map.taps, map.fractions, cv::INTER_LINEAR, cv::BORDER_CONSTANT,
                      cv::Scalar());
            out.planes.push_back(plane);
        }
        benchmark::DoNotOptimize(planes_to_frame(out).get());
    }
}
BENCHMARK(BM_ConvertFramePlain)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(11)
    ->ReportAggregatesOnly(true);

double run_seconds(const std::string& command) {
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return status == 0 ? seconds : -1;
}

// FFmpeg's v360 filter, dual fisheye to equirectangular, bilinear: the time per frame beyond
// what generating and passing on the side-by-side input costs. Argument: filter threads
// (0: FFmpeg's default, one per core).
void BM_FfmpegV360(benchmark::State& state) {
    if (std::system("ffmpeg -version > /dev/null 2>&1") != 0) {
        state.SkipWithError("ffmpeg not found");
        return;
    }
    const int frames = 30;
    const std::string threads =
        state.range(0) ? " -filter_threads " + std::to_string(state.range(0)) : "";
    const std::string input = "ffmpeg -hide_banner -loglevel error -nostdin" + threads +
                              " -f lavfi -i testsrc2=size=" + std::to_string(2 * kLens) + "x" +
                              std::to_string(kLens) + ":rate=25,format=yuv420p -frames:v " +
                              std::to_string(frames);
    const std::string v360 =
        " -vf v360=input=dfisheye:output=e:interp=linear:w=" + std::to_string(kOutWidth) +
        ":h=" + std::to_string(kOutHeight);
    for (auto _ : state) {
        const double with_filter = run_seconds(input + v360 + " -f null -");
        const double without = run_seconds(input + " -f null -");
        if (with_filter < 0 || without < 0) {
            state.SkipWithError("ffmpeg failed");
            return;
        }
        state.SetIterationTime((with_filter - without) / frames);
    }
}
BENCHMARK(BM_FfmpegV360)
    ->ArgName("filter_threads")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

}  // namespace
}  // namespace orbv

BENCHMARK_MAIN();
