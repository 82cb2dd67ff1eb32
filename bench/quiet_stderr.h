#pragma once

#include <fcntl.h>
#include <unistd.h>

// The library's trace lines and FFmpeg's notes go to /dev/null while measuring.
class QuietStderr {
  public:
    QuietStderr() : saved_(dup(2)) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        close(null);
    }
    ~QuietStderr() {
        dup2(saved_, 2);
        close(saved_);
    }
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;

  private:
    int saved_;
};
