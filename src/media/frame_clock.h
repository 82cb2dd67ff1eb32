#pragma once

#include <cstdint>

#include "util/ffmpeg_ptr.h"

namespace orbv {

// The picture timing of an exported movie: every output picture lasts one frame period of the
// source, counted in whole ticks of a time base that holds the period exactly. That is the
// source's own time base where the period is a whole number of its ticks (1001 of 1/30000 for
// the camera's 29.97 fps), else one over the rate's numerator (1/25, 1/24000).
struct FrameClock {
    AVRational rate{0, 1};       // frames per second
    AVRational time_base{0, 1};  // of the output stream
    int64_t ticks = 0;           // per picture, in time_base

    explicit operator bool() const { return ticks > 0; }
    double period() const { return static_cast<double>(rate.den) / rate.num; }
};

// The frame rate of a video stream: its real base rate (r_frame_rate), or the average where
// that one is missing or far off (a base rate of a tick per frame on a fine clock). {0, 1}
// when the stream states neither.
AVRational source_frame_rate(const AVStream* stream);

// The clock for a source stream; false (no ticks) when the stream has no usable frame rate.
FrameClock frame_clock_for(const AVStream* stream);

}  // namespace orbv
