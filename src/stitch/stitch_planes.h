#pragma once

#include "stitch/plane_set.h"
#include "stitch/stitch_maps.h"

namespace orbv {

// Stacks each plane of lens 1, lens 2 and (when valid) the band top to bottom and remaps the
// stack through the maps: luma through the full maps, chroma through the half maps. Both lens
// sets must be valid and of one width (cv::Exception otherwise); the result has lens 1's
// `valid`. Positions outside a stack give 0.
PlaneSet stitch_planes(const PlaneSet& lens1, const PlaneSet& lens2, const PlaneSet& band,
                       const StitchMaps& maps);

}  // namespace orbv
