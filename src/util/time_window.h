#pragma once

#include <cstdint>
#include <limits>

namespace orbv {

// The part of one input's time line an export takes, in seconds from that input's first
// picture: start and end both inside. Built once from the host's single-precision times, so
// every later test sees the same double values.
struct TimeWindow {
    double start = 0;
    double end = std::numeric_limits<double>::infinity();

    // The host's times: a start of 0 or less is the beginning, an end of 0 or less none. Each
    // float becomes the shortest decimal that reads back as it, so the host's 1.001 is 1.001
    // and not 1.00100004673.
    static TimeWindow from_host(float start_seconds, float end_seconds);

    bool has_end() const { return end != std::numeric_limits<double>::infinity(); }
    // Times are rounded to the microsecond first: a picture exactly at start or end is inside.
    bool contains(double t) const;
    // Output frames of `period` seconds from start: at most as many as fit up to the end, and
    // no more than a stream of `duration` seconds (0 or less: unknown) shows pictures for.
    int64_t frames(double duration, double period) const;
};

}  // namespace orbv
