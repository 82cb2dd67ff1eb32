#pragma once

#include <opencv2/core.hpp>

namespace orbv {

// kFast uses AVX2 where the processor has it; kPortable never does (for comparison in tests).
enum class RemapPath { kFast, kPortable };

// Remaps an 8-bit single-channel plane through two CV_32FC1 maps with bilinear sampling and a
// constant border of 0. The result is bit for bit that of
//   cv::remap(src, dst, map_x, map_y, cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar())
// (the same fixed-point arithmetic: positions rounded to 1/32 pixel, 15-bit weights), but it
// runs on the calling thread only. The same limits as cv::remap apply (every side below
// 32767); violations throw cv::Exception.
void remap_bilinear(const cv::Mat& src, const cv::Mat& map_x, const cv::Mat& map_y, cv::Mat& dst,
                    RemapPath path = RemapPath::kFast);

// The same for two planes of one size and row stride (the chroma planes), reading the maps
// once for both.
void remap_bilinear_pair(const cv::Mat& src1, const cv::Mat& src2, const cv::Mat& map_x,
                         const cv::Mat& map_y, cv::Mat& dst1, cv::Mat& dst2,
                         RemapPath path = RemapPath::kFast);

}  // namespace orbv
