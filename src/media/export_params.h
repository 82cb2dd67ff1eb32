#pragma once

#include <cstdint>

#include "stitch/plane_luts.h"
#include "stitch/stitch_maps.h"
#include "util/time_window.h"

namespace orbv {

// The settings of one export as the host gave them, fixed once made: the panorama's size, its
// rotation and colour tables, the part of each input to export, the sound it carries and its
// date. The rolls the camera's orientation asks for are applied where the maps are built.
struct ExportParams {
    Rotation rotation{};  // the host's angles
    PlaneLuts luts1{};    // colour tables of each lens
    PlaneLuts luts2{};
    TimeWindow window1;  // the part of each input to export
    TimeWindow window2;
    int32_t audio_input = 0;  // 0: the output carries input 1's sound, 1: input 2's
    int32_t output_width = 0;
    int32_t output_height = 0;
    const char* datetime = nullptr;  // the host's text, not owned
};

}  // namespace orbv
