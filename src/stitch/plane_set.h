#pragma once

#include <cstdint>
#include <opencv2/core.hpp>
#include <vector>

namespace orbv {

// An image as three 8-bit planes Y, U, V. Copies share the planes' pixel buffers.
struct PlaneSet {
    std::vector<cv::Mat> planes;  // Y, U, V, each CV_8UC1; empty when not valid
    int32_t valid = 0;            // 1 when planes holds the three planes
};

}  // namespace orbv
