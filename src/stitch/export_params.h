#pragma once

#include <cstdint>

#include "stitch/plane_luts.h"
#include "stitch/plane_set.h"
#include "stitch/stitch_maps.h"
#include "util/time_window.h"

namespace orbv {

// The settings of one export and what the export front end prepares from them. Passed by
// value: copies share the pixel data of `band` and `maps` (never changed once built) and copy
// everything else.
struct ExportParams {
    Rotation rotation{};  // a0 lens-1 roll, a1 lens-2 roll, a2 = a3 = 0, a4 about Y; radians
    TimeWindow window1;   // the part of each input to export
    TimeWindow window2;
    int32_t audio_input = 0;  // 0: the output carries input 1's sound, 1: input 2's
    PlaneLuts luts1{};        // colour tables of lens 1 (all disabled in a new record)
    PlaneLuts luts2{};
    int32_t output_width = 0;
    int32_t output_height = 0;
    PlaneSet band;  // the seam band's planes; empty and invalid when there is none
    int32_t band_rows = 0;
    double lens_radius = 0;  // pixels
    StitchMaps maps;
    const char* datetime = nullptr;  // the host's text, not owned
};

}  // namespace orbv
