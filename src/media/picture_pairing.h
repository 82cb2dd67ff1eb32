#pragma once

#include <cstdint>
#include <utility>

#include "media/frame_clock.h"
#include "util/ffmpeg_ptr.h"
#include "util/time_window.h"

namespace orbv {

// The timing of one lens input, fixed once it is open. Its times are seconds from its first
// picture.
struct LensTiming {
    bool still = false;
    TimeWindow window;           // a still's is the whole time line
    double origin = 0;           // the first picture's time on the stream's clock
    double period = 0;           // the stream's own frame period, else the output's
    AVRational time_base{0, 1};  // of the video stream
};

// Pairing by time: output picture i shows, from each lens, the picture nearest to the lens's
// window start plus i output periods (a later picture wins a tie). A lens whose next picture is
// further away holds the one on screen; a lens without pictures left (its last more than half a
// period past) ends the pairs, as does the end of a window. A still's picture goes with every
// picture of the movie; two stills give one pair.
//
// The pictures come from a source with `bool take(int lens, AVFrame* into)` (true: the lens's
// next decoded picture is in `into`, stamped with its best-effort timestamp) and
// `bool ended(int lens)` (the lens's decoder will give no more).
class PicturePairing {
  public:
    enum class Step { NeedMore, Pair, End };

    PicturePairing() = default;
    PicturePairing(const LensTiming& lens1, const LensTiming& lens2, const FrameClock& clock);
    // The frames pictures are held in; 0 or AVERROR(ENOMEM).
    int32_t allocate();

    // Pair: shown() holds the pair for output picture pictures(), until paired() is called.
    template <typename Source>
    Step next(Source& source);
    // The pair was written: the next one is for the following output time.
    void paired();
    const AVFrame* shown(int lens) const { return lens_[lens].shown.get(); }
    int64_t pictures() const { return pictures_; }
    bool ended() const { return ended_; }
    void end() { ended_ = true; }

    // The time of lens s that the next output picture shows.
    double target_time(int s) const;

  private:
    enum class Settled { NeedMore, Ready, RunOut };
    struct Lens {
        LensTiming timing;
        // The picture on screen at the current output time, and the one after it once taken.
        FramePtr shown;
        FramePtr next;
        bool have_shown = false;
        bool have_next = false;
        double shown_time = 0;
        double next_time = 0;
    };

    template <typename Source>
    Settled settle(int s, Source& source);
    // The lens's next picture replaces the one on screen when it is no further from `target`.
    void advance(Lens& lens, double target);
    // A picture's time from the lens's first picture; one without a timestamp follows the one
    // before it by a frame period.
    double picture_time(const Lens& lens, const AVFrame* frame, double previous) const;

    Lens lens_[2];
    FrameClock clock_;
    bool two_stills_ = false;
    bool ended_ = false;
    int64_t pictures_ = 0;
};

template <typename Source>
PicturePairing::Step PicturePairing::next(Source& source) {
    if (ended_) return Step::End;
    for (int s = 0; s < 2; ++s) {
        if (!lens_[s].timing.still && !lens_[s].timing.window.contains(target_time(s))) {
            ended_ = true;
            return Step::End;
        }
    }
    const Settled first = settle(0, source);
    const Settled second = settle(1, source);
    if (first == Settled::RunOut || second == Settled::RunOut) {
        ended_ = true;
        return Step::End;
    }
    if (first == Settled::NeedMore || second == Settled::NeedMore) return Step::NeedMore;
    return Step::Pair;
}

template <typename Source>
PicturePairing::Settled PicturePairing::settle(int s, Source& source) {
    Lens& lens = lens_[s];
    if (lens.timing.still) {
        if (!lens.have_shown && source.take(s, lens.shown.get())) lens.have_shown = true;
        if (lens.have_shown) return Settled::Ready;
        return source.ended(s) ? Settled::RunOut : Settled::NeedMore;
    }
    const double target = target_time(s);
    const double half = lens.timing.period / 2;
    for (;;) {
        advance(lens, target);
        if (lens.have_shown && lens.shown_time > target - half) return Settled::Ready;
        if (lens.have_next) return Settled::Ready;  // a gap: the picture on screen holds
        if (source.take(s, lens.next.get())) {
            lens.next_time = picture_time(lens, lens.next.get(), lens.shown_time);
            lens.have_next = true;
            continue;
        }
        return source.ended(s) ? Settled::RunOut : Settled::NeedMore;
    }
}

}  // namespace orbv
