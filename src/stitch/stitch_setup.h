#pragma once

#include <cstdint>

#include "stitch/plane_luts.h"
#include "stitch/plane_set.h"
#include "stitch/stitch_maps.h"

namespace orbv {

// What the stitch of every picture pair of one export reads: the colour tables of each lens,
// the seam band and the maps built for the panorama size (with the rotation, lens radius and
// band rows, which only the map builder needs). Copies share the pixel data of `band` and
// `maps` (never changed once built) and copy everything else.
struct StitchSetup {
    PlaneLuts luts1{};  // colour tables of lens 1 (all disabled in a new record)
    PlaneLuts luts2{};
    PlaneSet band;  // the seam band's planes; empty and invalid when there is none
    StitchMaps maps;
};

}  // namespace orbv
