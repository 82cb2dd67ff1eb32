#include "util/log.h"

#include <cstdarg>
#include <cstdio>

namespace orbv {

int log_message(int /*level*/, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    return std::fputc('\n', stderr);
}

}  // namespace orbv
