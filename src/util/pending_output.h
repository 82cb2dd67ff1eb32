#pragma once

#include <string>

namespace orbv {

// An output written under a name of its own beside the file it is to replace, and put in that
// file's place only once it is complete: until then a file at the output's name stays as it
// was, and whatever the outcome no unfinished file stays behind. A symbolic link at the name
// stays a link: its target is what gets replaced, from its own folder.
class PendingOutput {
  public:
    // A null path asks for no output: nothing is made and path() is null.
    explicit PendingOutput(const char* path);
    // Removes the unfinished file unless commit() put it in place.
    ~PendingOutput();
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;

    // 0 when the unfinished file could be made (or none was asked for), else the system's code:
    // also when a directory, device, FIFO or socket carries the name, which no output replaces.
    int error() const { return error_; }
    // Where the job writes; null when no output was asked for or it could not be made.
    const char* path() const { return unfinished_.empty() ? nullptr : unfinished_.c_str(); }
    // Puts the finished file in place, with the permission bits of the file it replaces (a new
    // name keeps those of a new file). 0 or the system's code; on failure the old file stays.
    int commit();

  private:
    std::string target_;
    std::string unfinished_;
    int error_ = 0;
};

}  // namespace orbv
