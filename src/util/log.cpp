#include "util/log.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "util/file_io.h"

namespace orbv {

namespace {

// ORBV_LOG is read for every line, so a host may change it between calls and the library
// keeps nothing: "none" drops every line, "error" all but the error lines, and anything else
// (unset, "all") writes every line.
bool wanted(int level) {
    const char* setting = std::getenv("ORBV_LOG");
    if (setting == nullptr) return true;
    if (std::strcmp(setting, "none") == 0) return false;
    if (std::strcmp(setting, "error") == 0) return level >= LOG_ERROR;
    return true;
}

}  // namespace

int log_message(int level, const char* format, ...) {
    if (!wanted(level)) return 0;
    // Calls may run on several threads at once: the text and its newline go out under one
    // lock of the stream, so lines of different calls never run into each other.
    lock_stream(stderr);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    const int result = std::fputc('\n', stderr);
    unlock_stream(stderr);
    return result;
}

}  // namespace orbv
