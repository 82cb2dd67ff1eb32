#pragma once

#include "stitch/plane_set.h"

namespace orbv {

// The seam band planes of a decoded image: each plane becomes its left half over its right
// half, with guard rows: 2 + R + 2 + R + 2 rows for a plane of R rows, half the plane's width.
// Invalid and empty when the image is, or when its planes could never be stacked under the
// lens images (32767 rows or more).
PlaneSet stack_seam_band(const PlaneSet& image);

}  // namespace orbv
