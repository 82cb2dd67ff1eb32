#pragma once

// The plain sequence of the frame conversion, kept for the tests and the benchmarks as the
// reference the library's FrameConverter must equal bit for bit: deep copies of the planes,
// the colour tables applied in place, the stack of lens 1, lens 2 and the band remapped.
#include <cstddef>
#include <opencv2/core.hpp>
#include <vector>

#include "stitch/bilinear_remap.h"
#include "stitch/plane_luts.h"
#include "stitch/plane_set.h"
#include "stitch/stitch_maps.h"

namespace orbv_test {

// True when at least one of the three tables is enabled.
inline bool any_enabled(const orbv::PlaneLuts& luts) {
    return luts.planes[0].enabled || luts.planes[1].enabled || luts.planes[2].enabled;
}

// Rewrites every byte of each enabled plane through its table, in place. The planes must be
// continuous (rows x cols bytes from the first).
inline void apply_plane_luts(orbv::PlaneSet& set, const orbv::PlaneLuts& luts) {
    for (size_t p = 0; p < 3 && p < set.planes.size(); ++p) {
        if (!luts.planes[p].enabled) continue;
        cv::Mat& plane = set.planes[p];
        CV_Assert(plane.type() == CV_8UC1 && plane.isContinuous());
        const uint8_t* table = luts.planes[p].table;
        uint8_t* bytes = plane.data;
        const size_t count = plane.total();
        for (size_t i = 0; i < count; ++i) bytes[i] = table[bytes[i]];
    }
}

// Stacks each plane of lens 1, lens 2 and (when valid) the band top to bottom and remaps the
// stack through the maps: luma through the full maps, chroma through the half maps. Both lens
// sets must be valid and of one width (cv::Exception otherwise); the result has lens 1's
// `valid`. Positions outside a stack give 0.
inline orbv::PlaneSet stitch_planes(const orbv::PlaneSet& lens1, const orbv::PlaneSet& lens2,
                                    const orbv::PlaneSet& band, const orbv::StitchMaps& maps) {
    CV_Assert(lens1.planes.size() == 3 && lens2.planes.size() == 3);
    const bool with_band = band.valid != 0 && band.planes.size() == 3;
    orbv::PlaneSet result;
    for (int k = 0; k < 3; ++k) {
        std::vector<cv::Mat> stack{lens1.planes[k], lens2.planes[k]};
        if (with_band) stack.push_back(band.planes[k]);
        cv::Mat canvas;
        cv::vconcat(stack, canvas);
        cv::Mat out;
        if (k == 0) {
            orbv::remap_bilinear(canvas, maps.map_x, maps.map_y, out);
        } else {
            orbv::remap_bilinear(canvas, maps.map_x_half, maps.map_y_half, out);
        }
        result.planes.push_back(out);
    }
    result.valid = lens1.valid;
    return result;
}

}  // namespace orbv_test
