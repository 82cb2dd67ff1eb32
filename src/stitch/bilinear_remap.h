#pragma once

#include <opencv2/core.hpp>

namespace orbv {

// Remaps an 8-bit single-channel plane through two CV_32FC1 maps with bilinear sampling and a
// constant border of 0. The result is bit for bit that of
//   cv::remap(src, dst, map_x, map_y, cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar())
// (the same fixed-point arithmetic: positions rounded to 1/32 pixel, 15-bit weights), but it
// runs on the calling thread only, with AVX2 where the processor has it. The same size limits
// as cv::remap apply (every side below 32767); violations throw cv::Exception.
void remap_bilinear(const cv::Mat& src, const cv::Mat& map_x, const cv::Mat& map_y, cv::Mat& dst);

// The same without vector instructions; what remap_bilinear falls back to.
void remap_bilinear_portable(const cv::Mat& src, const cv::Mat& map_x, const cv::Mat& map_y,
                             cv::Mat& dst);

}  // namespace orbv
