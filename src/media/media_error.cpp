#include "media/media_error.h"

#include <cstdarg>
#include <cstdio>

extern "C" {
#include <libavutil/error.h>
}

namespace orbv {

int32_t MediaError::fail(int32_t code) {
    if (failed_) return code;
    failed_ = true;
    code_ = code;
    if (av_strerror(code, text_, sizeof(text_)) < 0) {
        std::snprintf(text_, sizeof(text_), "Error number %d occurred", code);
    }
    return code;
}

int32_t MediaError::fail(int32_t code, const char* format, ...) {
    if (failed_) return code;
    failed_ = true;
    code_ = code;
    va_list args;
    va_start(args, format);
    std::vsnprintf(text_, sizeof(text_), format, args);
    va_end(args);
    return code;
}

int32_t MediaError::record(const Status& status) {
    if (status.text == nullptr) return fail(status.code);
    return fail(status.code, "%s", status.text);
}

int32_t MediaError::cancel() {
    if (failed_) return AVERROR_EXIT;
    failed_ = true;
    cancelled_ = true;
    code_ = AVERROR_EXIT;
    return code_;
}

}  // namespace orbv
