#include "media/media_error.h"

#include <cstdarg>
#include <cstdio>

extern "C" {
#include <libavutil/error.h>
}

namespace orbv {

int32_t MediaError::set(int32_t code) {
    code_ = code;
    if (av_strerror(code, text_, sizeof(text_)) < 0) {
        std::snprintf(text_, sizeof(text_), "Error number %d occurred", code);
    }
    return code;
}

void MediaError::set_message(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(text_, sizeof(text_), format, args);
    va_end(args);
}

}  // namespace orbv
