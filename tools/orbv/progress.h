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

// Ctrl-C creates the cancel file, so a running export or audio extraction stops cleanly at its
// next progress point; a second Ctrl-C ends the tool at once.
class CancelOnInterrupt {
  public:
    // Uses `cancel_path`, or a fresh temporary name when it is empty (that file is removed
    // again on destruction).
    explicit CancelOnInterrupt(const std::string& cancel_path);
    ~CancelOnInterrupt();
    CancelOnInterrupt(const CancelOnInterrupt&) = delete;
    CancelOnInterrupt& operator=(const CancelOnInterrupt&) = delete;
    const char* path() const { return path_.c_str(); }

  private:
    std::string path_;
    bool owned_ = false;
};

}  // namespace orbv_tool
