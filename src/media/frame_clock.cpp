#include "media/frame_clock.h"

namespace orbv {

namespace {

bool usable(AVRational rate) { return rate.num > 0 && rate.den > 0; }

}  // namespace

AVRational source_frame_rate(const AVStream* stream) {
    if (stream == nullptr) return {0, 1};
    const AVRational base = stream->r_frame_rate;
    const AVRational average = stream->avg_frame_rate;
    // A base rate above twice the average and above 240 fps is the clock's tick rather than
    // the pictures' (a variable-rate stream on a fine clock): the average is steadier then.
    if (usable(average) &&
        (!usable(base) || (av_q2d(base) > 240 && av_q2d(base) > 2 * av_q2d(average)))) {
        return average;
    }
    return usable(base) ? base : AVRational{0, 1};
}

FrameClock frame_clock_for(const AVStream* stream) {
    FrameClock clock;
    const AVRational rate = source_frame_rate(stream);
    if (!usable(rate)) return clock;
    clock.rate = rate;
    const AVRational tb = stream->time_base;
    // Ticks of the source's clock per picture: den_tb * rate.den / (num_tb * rate.num).
    if (usable(tb)) {
        const int64_t top = static_cast<int64_t>(tb.den) * rate.den;
        const int64_t bottom = static_cast<int64_t>(tb.num) * rate.num;
        if (top % bottom == 0) {
            clock.time_base = tb;
            clock.ticks = top / bottom;
            return clock;
        }
    }
    clock.time_base = AVRational{1, rate.num};
    clock.ticks = rate.den;
    return clock;
}

}  // namespace orbv
