#pragma once

#include <cstdint>

#include "stitch/plane_set.h"

namespace orbv {

// The first picture of an image (or movie) file, scaled with bicubic filtering to
// `target_width` columns and the height that keeps its aspect ratio (truncated), as planar
// 4:2:0 planes. Opens, decodes and closes the file itself. Invalid and empty when the file
// cannot be opened or decoded, or when the scaled picture would be less than one row high.
PlaneSet decode_image_planes(const char* path, int32_t target_width);

}  // namespace orbv
