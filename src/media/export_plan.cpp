#include "media/export_plan.h"

#include <algorithm>
#include <cmath>

namespace orbv {

namespace {

// The clock of the exported pictures: that of the movie the encoder is made for, or of the
// other input when that one is a still.
FrameClock output_clock(const InputSlot* slots[2], int video_source) {
    const int timed = slots[video_source]->still() ? 1 - video_source : video_source;
    return slots[timed]->still() ? FrameClock() : frame_clock_for(slots[timed]->video_stream());
}

LensTiming lens_timing(const InputSlot& slot, const TimeWindow& window) {
    LensTiming lens;
    lens.still = slot.still();
    lens.window = lens.still ? TimeWindow() : window;
    lens.origin = slot.picture_origin();
    lens.time_base = slot.video_time_base();
    const FrameClock own = frame_clock_for(slot.video_stream());
    lens.period = own ? own.period() : 0;
    return lens;
}

// As many pictures as fit in each movie's window and duration, the fewer of the two.
int64_t expected_pictures(const InputSlot* slots[2], const TimeWindow* windows[2],
                          const FrameClock& clock) {
    int64_t count = 0;
    for (int s = 0; s < 2; ++s) {
        if (slots[s]->still() || !clock) continue;
        const int64_t frames = windows[s]->frames(slots[s]->video_duration(), clock.period());
        if (frames > 0) count = count == 0 ? frames : std::min(count, frames);
    }
    return count;
}

}  // namespace

double ExportPlan::sound_seconds() const {
    if (expected <= 0 || !clock) return 0;
    return static_cast<double>(expected) * clock.period();
}

ExportPlan plan_export(const ExportParams& params, StitchSetup stitch, const InputSlot& lens1,
                       const InputSlot& lens2) {
    ExportPlan plan;
    plan.params = params;
    plan.stitch = std::move(stitch);
    if (!lens1.is_open() || !lens2.is_open()) return plan;
    const InputSlot* slots[2] = {&lens1, &lens2};
    const TimeWindow* windows[2] = {&params.window1, &params.window2};
    plan.video_source = lens1.container()->duration > lens2.container()->duration ? 0 : 1;
    plan.clock = output_clock(slots, plan.video_source);
    plan.two_stills = lens1.still() && lens2.still();
    for (int s = 0; s < 2; ++s) {
        plan.lens[s] = lens_timing(*slots[s], *windows[s]);
        // A lens without a frame rate of its own goes by the output's.
        if (plan.lens[s].period <= 0) plan.lens[s].period = plan.clock ? plan.clock.period() : 1;
    }
    // The output carries the sound of the input the host chose; without sound there (or with
    // another choice) it carries none.
    const int chosen = params.audio_input;
    if ((chosen == 0 || chosen == 1) && slots[chosen]->audio_index() != -1 &&
        slots[chosen]->audio_decoder() != nullptr) {
        plan.sound_input = chosen;
    }
    plan.expected = expected_pictures(slots, windows, plan.clock);
    return plan;
}

int64_t samples_for(double seconds, int rate) { return std::llround(seconds * rate); }

}  // namespace orbv
