#pragma once

#include <cstdint>

#include "stitch/plane_set.h"

namespace orbv {

// The rows of a seam band plane, top to bottom: a guard, the image's left half (a strip of
// R rows), a guard, its right half (R rows), a guard; 2 + R + 2 + R + 2 rows. The guards repeat
// the strips' edge rows, so bilinear sampling at a strip's edge never blends in the other strip.
struct SeamBandLayout {
    static constexpr int32_t kGuardRows = 2;
    static constexpr int32_t kExtraRows = 3 * kGuardRows;

    static constexpr int64_t rows(int64_t strip) { return 2 * strip + kExtraRows; }
    // The strip rows of a band of `band_rows` rows (half a row when the strips differ).
    static constexpr double strip(double band_rows) { return (band_rows - kExtraRows) * 0.5; }
};

// The seam band planes of a decoded image (SeamBandLayout), half the plane's width. Invalid and
// empty when the image is, or when its planes could never be stacked under the lens images
// (32767 rows or more).
PlaneSet stack_seam_band(const PlaneSet& image);

}  // namespace orbv
