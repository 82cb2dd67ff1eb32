#pragma once

#include <cstdint>

#include "stitch/plane_set.h"

// Image files read into planes through an input slot of the media object: the seam band's
// image, and the band made of it.
namespace orbv {

// The first picture of an image (or movie) file, scaled with bicubic filtering to
// `target_width` columns and the height that keeps its aspect ratio (truncated), as planar
// 4:2:0 planes. Invalid and empty when the file cannot be opened or decoded, or when the scaled
// picture would be less than one row high.
PlaneSet decode_image_planes(const char* path, int32_t target_width);

// The seam band of an image for lens images `lens_width` wide: the image decoded at twice that
// width and stacked into band planes (stack_seam_band). Invalid and empty when the image cannot
// be loaded or stacked.
PlaneSet load_seam_band(const char* path, int32_t lens_width);

}  // namespace orbv
