#pragma once

#include <string>

namespace orbv_tool {

// While a job runs, SIGINT, SIGTERM and SIGHUP cancel it the way the library allows: the first
// creates the cancel file, so the job stops at its next progress point and removes its output;
// the second is absorbed; the third ends the tool at once. The library writes under an
// unfinished name until the job is done, so a file at the output's name is never partial and
// stays; the unfinished file does too, under a name that says what it is. The cancel file lives in
// a directory of its own (mode 0700, under $TMPDIR), so no file left behind by another run can
// cancel this one; the directory goes when the object does.
class CancelOnSignal {
  public:
    // `cancel_path`: the user's cancel file, or empty for a private one.
    explicit CancelOnSignal(const std::string& cancel_path);
    ~CancelOnSignal();
    CancelOnSignal(const CancelOnSignal&) = delete;
    CancelOnSignal& operator=(const CancelOnSignal&) = delete;

    // The path to hand to the library; null when no cancel file could be set up.
    const char* path() const { return path_.empty() ? nullptr : path_.c_str(); }

  private:
    std::string path_;
    std::string dir_;  // the private directory, empty when the user named the file
    bool handling_ = false;
};

}  // namespace orbv_tool
