#pragma once

#include <string>

namespace orbv_tool {

// While a job runs, SIGINT, SIGTERM and SIGHUP cancel it the way the library allows: the first
// creates the cancel file, so the job stops at its next progress point and removes its output;
// the second is absorbed; the third ends the tool at once, after removing the output when this
// run created or truncated it. The cancel file lives in a directory of its own (mode 0700,
// under $TMPDIR), so no file left behind by another run can cancel this one; the directory
// goes when the object does.
class CancelOnSignal {
  public:
    // `cancel_path`: the user's cancel file, or empty for a private one. `output`: the file
    // the job writes.
    CancelOnSignal(const std::string& cancel_path, const std::string& output);
    ~CancelOnSignal();
    CancelOnSignal(const CancelOnSignal&) = delete;
    CancelOnSignal& operator=(const CancelOnSignal&) = delete;

    // The path to hand to the library; null when no cancel file could be set up.
    const char* path() const { return path_.empty() ? nullptr : path_.c_str(); }
    // The job reported its output done: a later signal leaves it in place.
    static void keep_output();

  private:
    std::string path_;
    std::string dir_;  // the private directory, empty when the user named the file
    bool handling_ = false;
};

}  // namespace orbv_tool
