#include "media/picture_pairing.h"

namespace orbv {

PicturePairing::PicturePairing(const LensTiming& lens1, const LensTiming& lens2,
                               const FrameClock& clock)
    : clock_(clock), two_stills_(lens1.still && lens2.still) {
    lens_[0].timing = lens1;
    lens_[1].timing = lens2;
}

int32_t PicturePairing::allocate() {
    for (Lens& lens : lens_) {
        lens.shown = make_frame();
        lens.next = make_frame();
        if (!lens.shown || !lens.next) return AVERROR(ENOMEM);
    }
    return 0;
}

void PicturePairing::paired() {
    ++pictures_;
    if (two_stills_) ended_ = true;
}

double PicturePairing::target_time(int s) const {
    const AVRational tb = clock_.time_base;
    const double ticks = static_cast<double>(pictures_ * clock_.ticks);
    return lens_[s].timing.window.start + ticks * tb.num / tb.den;
}

void PicturePairing::advance(Lens& lens, double target) {
    const double half = lens.timing.period / 2;
    if (lens.have_next && (!lens.have_shown || lens.next_time <= target + half)) {
        std::swap(lens.shown, lens.next);
        lens.shown_time = lens.next_time;
        lens.have_shown = true;
        lens.have_next = false;
    }
}

double PicturePairing::picture_time(const Lens& lens, const AVFrame* frame, double previous) const {
    if (frame->best_effort_timestamp == AV_NOPTS_VALUE) return previous + lens.timing.period;
    const AVRational tb = lens.timing.time_base;
    return static_cast<double>(frame->best_effort_timestamp) * tb.num / tb.den - lens.timing.origin;
}

}  // namespace orbv
