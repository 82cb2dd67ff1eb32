#pragma once

#include <cstdint>
#include <string>

#include "media/export_params.h"
#include "stitch/stitch_setup.h"

namespace orbv {

// What the analysis of the two inputs tells the stitch: the lens pictures' size (both alike)
// and each camera's EXIF orientation.
struct PairFacts {
    int32_t width = 0;
    int32_t height = 0;
    int32_t orientation1 = -1;
    int32_t orientation2 = -1;
    bool two_stills = false;
};

// Why no stitch can be built: a lens width the camera does not make, or a panorama size no
// encoder takes (or that would exhaust the memory).
enum class StitchRefusal { kNone, kLensWidth, kPanoramaSize };

struct StitchDecision {
    StitchSetup setup;
    StitchRefusal refusal = StitchRefusal::kNone;
    std::string limit;  // for kPanoramaSize: the limit passed
};

// The stitch of an export: the host's colour tables, the seam band of `band_image_path` (none
// when null) and the maps for the rolls corrected for the camera's orientation and the lens
// radius of the pair's width. A refusal is decided before the maps are built.
StitchDecision decide_stitch(const ExportParams& params, const char* band_image_path,
                             const PairFacts& facts);

}  // namespace orbv
