#pragma once

#include <cstdint>

#include "media/media_error.h"

namespace orbv {

// Where an export spent its time on the calling thread, in seconds: decoding the lens
// pictures, stitching them (conversion without the encoder), encoding and writing the
// panorama pictures, and the whole call. The rest of the total is reading, sound and set-up.
struct JobTimings {
    double decode = 0;
    double stitch = 0;
    double encode = 0;
    double total = 0;
};

// How a media job ended: its result (0, or the negative code it stopped with: AVERROR_EXIT
// after a cancel), the pictures it handed to the encoder, whether the caller cancelled it, its
// first failure and its timings.
struct JobOutcome {
    int32_t result = 0;
    int64_t pictures = 0;
    bool cancelled = false;
    MediaError error;
    JobTimings timings;
};

}  // namespace orbv
