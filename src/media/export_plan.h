#pragma once

#include <cstdint>

#include "media/export_params.h"
#include "media/frame_clock.h"
#include "media/input_slot.h"
#include "media/picture_pairing.h"
#include "stitch/stitch_setup.h"

namespace orbv {

// What an export decides once, from its settings, its prepared stitch and its two open
// inputs, before its first picture: the timing of each lens, the clock of the output pictures, the
// input the encoder is made for, the input whose sound the output carries and how many pictures to
// expect. The run only follows it.
struct ExportPlan {
    ExportParams params;
    StitchSetup stitch;
    LensTiming lens[2];
    FrameClock clock;  // of the output pictures; none for two stills or an unknown rate
    bool two_stills = false;
    int video_source = 1;  // the input whose container is longer, lens 2 on a tie
    int sound_input = -1;  // -1: the output carries no sound
    // Output pictures the windows and durations allow, 0: unknown (as for two stills).
    int64_t expected = 0;

    // A movie needs its frame rate: without one there is no clock to stamp the pictures.
    bool has_clock() const { return two_stills || clock; }
    // The sound's length limit in seconds, 0 when the pictures set none.
    double sound_seconds() const;
};

// The plan for an export of `lens1` and `lens2`, both open, with `params` and `stitch`.
ExportPlan plan_export(const ExportParams& params, StitchSetup stitch, const InputSlot& lens1,
                       const InputSlot& lens2);

// The samples `seconds` of sound at `rate` hold, as every limit of the sound counts them.
int64_t samples_for(double seconds, int rate);

}  // namespace orbv
