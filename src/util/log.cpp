#include "util/log.h"

#include <cstdarg>
#include <cstdio>

namespace orbv {

int log_message(int /*level*/, const char* format, ...) {
    // Calls may run on several threads at once: the text and its newline go out under one
    // lock of the stream, so lines of different calls never run into each other.
    flockfile(stderr);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    const int result = std::fputc('\n', stderr);
    funlockfile(stderr);
    return result;
}

}  // namespace orbv
