#pragma once

#include <cstdint>
#include <string>

namespace orbv_tool {

// Shows a long job's start and progress documents as a bar with frames done, the total and
// the estimated time left. On a terminal the bar redraws in place; elsewhere one line a report.
class ProgressBar {
  public:
    void start(int64_t total);
    void update(int64_t done);
    // Ends the bar's line before other output follows.
    void finish();

    // The bar's text for `done` of `total` after `elapsed` seconds (exposed for tests).
    static std::string render(int64_t done, int64_t total, double elapsed_seconds);

  private:
    int64_t total_ = 0;
    double started_ = 0.0;
    bool drawn_ = false;
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
