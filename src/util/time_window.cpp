#include "util/time_window.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace orbv {

namespace {

constexpr double kTolerance = 1e-6;  // seconds; far below any frame period

double widen(float seconds) {
    char text[32];
    for (int digits = 6; digits < 10; ++digits) {
        std::snprintf(text, sizeof(text), "%.*g", digits, static_cast<double>(seconds));
        if (std::strtof(text, nullptr) == seconds) break;
    }
    return std::strtod(text, nullptr);
}

}  // namespace

TimeWindow TimeWindow::from_host(float start_seconds, float end_seconds) {
    TimeWindow window;
    if (start_seconds > 0) window.start = widen(start_seconds);
    if (end_seconds > 0) window.end = widen(end_seconds);
    return window;
}

bool TimeWindow::contains(double t) const {
    return t >= start - kTolerance && t <= end + kTolerance;
}

int64_t TimeWindow::frames(double duration, double period) const {
    if (!(period > 0)) return 0;
    double count = std::numeric_limits<double>::infinity();
    // The last output frame shows the stream's last picture while it is nearer than half a
    // period; the end admits every frame time up to it.
    if (duration > 0) count = std::ceil((duration - start) / period - 0.5 - kTolerance);
    if (has_end()) count = std::min(count, std::floor((end - start) / period + kTolerance) + 1);
    if (!std::isfinite(count)) return 0;
    return static_cast<int64_t>(std::max(count, 0.0));
}

}  // namespace orbv
