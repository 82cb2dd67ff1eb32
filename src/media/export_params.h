#pragma once

#include <cstdint>

#include "stitch/stitch_setup.h"
#include "util/time_window.h"

namespace orbv {

// The settings of one export: the panorama's size, the part of each input to export, the sound
// it carries and its date, with the stitch prepared for it. Passed by value: copies share the
// stitch's pixel data.
struct ExportParams {
    StitchSetup stitch;
    TimeWindow window1;  // the part of each input to export
    TimeWindow window2;
    int32_t audio_input = 0;  // 0: the output carries input 1's sound, 1: input 2's
    int32_t output_width = 0;
    int32_t output_height = 0;
    const char* datetime = nullptr;  // the host's text, not owned
};

}  // namespace orbv
