#include "media/panorama_size.h"

#include <cstdio>
#include <thread>

extern "C" {
#include <libavutil/error.h>
#include <libavutil/imgutils.h>
}

#include "util/machine_memory.h"

namespace orbv {
namespace {

// Bytes an export holds per panorama pixel, measured: the maps and the stitched planes about 13;
// x264's look-ahead and reference pictures about 190 and 9 more for each of its threads (it takes
// one and a half per core); the Motion-JPEG encoder about 7.
int64_t bytes_per_pixel(bool still) {
    if (still) return 20;
    const int64_t threads = (3 * static_cast<int64_t>(std::thread::hardware_concurrency()) + 1) / 2;
    return 203 + 9 * threads;
}

}  // namespace

int32_t check_panorama_size(bool still, int32_t width, int32_t height, std::string* limit) {
    char text[255];
    const int32_t side = still ? kStillMaxSide : kMovieMaxSide;
    const int64_t pixels = static_cast<int64_t>(width) * height;
    const int64_t memory = machine_memory_bytes();
    const int64_t mib = 1 << 20;
    if (width < 2 || height < 2 || width % 2 != 0 || height % 2 != 0) {
        std::snprintf(text, sizeof(text),
                      "[_ORBV_export]:size %dx%d: width and height must be even, at least 2", width,
                      height);
    } else if (width > side || height > side) {
        std::snprintf(text, sizeof(text), "[_ORBV_export]:size %dx%d: %s at most %d pixels a side",
                      width, height, still ? "a still (JPEG) takes" : "a movie (H.264) takes",
                      side);
    } else if (av_image_check_size(width, height, 0, nullptr) < 0) {
        std::snprintf(text, sizeof(text),
                      "[_ORBV_export]:size %dx%d: FFmpeg takes no picture with 8 x (width + 128) "
                      "x (height + 128) of 2^31 or more",
                      width, height);
    } else if (memory > 0 && pixels * bytes_per_pixel(still) > memory) {
        std::snprintf(text, sizeof(text),
                      "[_ORBV_export]:size %dx%d: needs about %lld MiB, more than the %lld MiB of "
                      "memory",
                      width, height, static_cast<long long>(pixels * bytes_per_pixel(still) / mib),
                      static_cast<long long>(memory / mib));
    } else {
        return 0;
    }
    *limit = text;
    return AVERROR(EINVAL);
}

}  // namespace orbv
