#pragma once

#include <opencv2/core.hpp>

#include "stitch/simd_path.h"
#include "util/band_pool.h"

namespace orbv {

// A map in the remap's fixed point, as cv::convertMaps makes it from two CV_32FC1 maps: per
// output pixel the top-left tap (x, y) as CV_16SC2, and the 1/32-pixel fractions ty * 32 + tx as
// CV_16UC1. Converted once, it spares every frame rounding each position again.
struct FixedPointMap {
    cv::Mat taps;
    cv::Mat fractions;
    // For each tile of 16 x 128 output pixels, the box of its top-left taps as CV_32SC4 (min x,
    // min y, max x, max y). The remap fetches a tile's source rows ahead with it; without it
    // the remap waits for each row as it comes.
    cv::Mat tile_bounds;
};

// Positions rounded to 1/32 pixel, ties to even, as cv::remap rounds float maps.
FixedPointMap to_fixed_point(const cv::Mat& map_x, const cv::Mat& map_y);

// Remaps an 8-bit single-channel plane through a map with bilinear sampling and a constant
// border of 0. The result is bit for bit that of
//   cv::remap(src, dst, map.taps, map.fractions, cv::INTER_LINEAR, cv::BORDER_CONSTANT)
// (the same arithmetic: 15-bit weights). Bands of rows go to the pool's threads, all done
// before it returns; without a pool the calling thread does all. The same limits as cv::remap
// apply (every side below 32767); violations throw cv::Exception.
void remap_bilinear(const cv::Mat& src, const FixedPointMap& map, cv::Mat& dst,
                    SimdPath path = SimdPath::kFast, BandPool* pool = nullptr);

// The same for two planes of one size and row stride (the chroma planes), reading the map
// once for both.
void remap_bilinear_pair(const cv::Mat& src1, const cv::Mat& src2, const FixedPointMap& map,
                         cv::Mat& dst1, cv::Mat& dst2, SimdPath path = SimdPath::kFast,
                         BandPool* pool = nullptr);

}  // namespace orbv
