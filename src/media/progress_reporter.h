#pragma once

#include <cstdint>

namespace orbv {

// How a long job of the media layer (an export, an audio extraction) tells its caller how far
// it got and learns whether to stop. The caller decides what a report means (how often one is
// due, what the host is shown, how a cancel is asked for); the job only counts.
class ProgressReporter {
  public:
    virtual ~ProgressReporter() = default;
    // The job's size is known: an estimate of its units, 0 when unknown.
    virtual void announce(int64_t total) = 0;
    // `done` units are done; true asks the job to stop (a cancel).
    virtual bool report(int32_t done) = 0;
};

}  // namespace orbv
