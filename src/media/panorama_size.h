#pragma once

#include <cstdint>
#include <string>

namespace orbv {

// The longest side of a panorama: x264 refuses more than 16384 when it opens; JPEG would take
// 65500, but the stitch's maps address fewer than 32767 rows and columns.
constexpr int32_t kMovieMaxSide = 16384;
constexpr int32_t kStillMaxSide = 32766;

// Whether a movie (H.264) or still (Motion-JPEG) panorama of width x height can be made, checked
// before any work: even sides from 2 to the longest, within FFmpeg's picture size check, and an
// estimate of the memory the export holds within the machine's. 0, or AVERROR(EINVAL) with
// *limit naming the limit passed.
int32_t check_panorama_size(bool still, int32_t width, int32_t height, std::string* limit);

}  // namespace orbv
