#pragma once

#include <cstdint>

#include "stitch/plane_set.h"

namespace orbv {

// The seam band planes of an image, for lens images `lens_width` wide: the image is decoded at
// twice that width, and each plane becomes its left half over its right half, with guard
// rows: 2 + R + 2 + R + 2 rows for a plane of R rows, half the plane's width. Invalid and empty
// when the image cannot be loaded, or when its planes could never be stacked under the lens
// images (32767 rows or more).
PlaneSet load_seam_band(const char* path, int32_t lens_width);

}  // namespace orbv
