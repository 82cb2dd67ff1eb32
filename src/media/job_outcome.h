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

// How a media job ended, as one value: its record (nothing: done; a cancel; or its first
// failure), with the pictures it handed to the encoder and its timings.
struct JobOutcome {
    MediaError error;
    int64_t pictures = 0;
    JobTimings timings;

    bool failed() const { return error.failed(); }  // a cancel too
    bool cancelled() const { return error.cancelled(); }
};

}  // namespace orbv
