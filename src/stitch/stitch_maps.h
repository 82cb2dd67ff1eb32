#pragma once

#include <cstdint>
#include <opencv2/core.hpp>

#include "stitch/bilinear_remap.h"
#include "stitch/simd_path.h"

namespace orbv {

// The turns of the projection, in radians: each lens image about its centre, then the sphere
// about its X, Z and Y axes (the host sets no X or Z turn).
struct Rotation {
    double lens1_roll = 0;
    double lens2_roll = 0;
    double about_x = 0;
    double about_z = 0;
    double about_y = 0;
};

// For every output pixel, the position in the stacked source canvas (lens 1, lens 2, then the
// optional seam band) that it samples, in the remap's fixed point: full resolution for luma,
// half for chroma. Copies share the buffers; the maps are never changed once built.
struct StitchMaps {
    FixedPointMap map;       // H x W
    FixedPointMap map_half;  // H/2 x W/2
    cv::Size output_size;
    cv::Size source_size;
    int32_t band_rows = 0;  // full-resolution seam band rows, 0 without a band
};

struct SourcePoint {
    double x;
    double y;
};

// The source-canvas position sampled by output pixel (j, i) of a map of map_size, for lens
// images of source_size with centre `centre`, image-circle radius `radius` and a band of
// `band` rows (0: none).
SourcePoint project_to_source(int32_t j, int32_t i, cv::Size map_size, cv::Size source_size,
                              cv::Point centre, int32_t radius, int32_t band,
                              const Rotation& rotation);

// The positions of one pass (arguments as for project_to_source) as two CV_32FC1 maps of
// map_size, each value the float nearest to project_to_source's.
void build_pass_maps(cv::Size map_size, cv::Size source_size, cv::Point centre, int32_t radius,
                     int32_t band, const Rotation& rotation, SimdPath path, cv::Mat& map_x,
                     cv::Mat& map_y);

// Both passes of the maps, full resolution and the chroma half, each converted to fixed point
// as soon as it is built: an export holds no float maps.
StitchMaps build_stitch_maps(cv::Size output_size, cv::Size source_size, double lens_radius,
                             int32_t band_rows, const Rotation& rotation,
                             SimdPath path = SimdPath::kFast);

}  // namespace orbv
