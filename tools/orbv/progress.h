#pragma once

#include <cstdint>
#include <string>

namespace orbv_tool {

// Shows a long job's start and progress documents on standard error, as ffmpeg shows its
// progress: on a terminal one line redrawn in place, elsewhere one line a report. The line
// has a bar, the percentage, the count done of the total in the job's unit and the estimated
// time left; a job that announces no total (a still) shows the percentage alone.
class ProgressLine {
  public:
    // `unit` names what the library counts ("frames", "packets").
    void start(int64_t total, const char* unit);
    void update(int64_t done);
    // Wipes a line drawn in place, so that other text can take its place; the next update
    // draws it again.
    void clear();
    // Ends the line, drawn at 100% first when the job completed.
    void finish(bool completed);

  private:
    int64_t total_ = 0;
    int64_t done_ = 0;
    const char* unit_ = nullptr;
    double started_ = 0.0;
    size_t drawn_length_ = 0;  // of the line redrawn in place, 0 when none is open
    bool active_ = false;
};

}  // namespace orbv_tool
