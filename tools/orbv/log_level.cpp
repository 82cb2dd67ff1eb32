#include "log_level.h"

#include <cstdlib>
#include <cstring>

// FFmpeg's AV_LOG_QUIET and AV_LOG_ERROR: the tool does not build against FFmpeg.
constexpr int kFfmpegQuiet = -8, kFfmpegError = 16;

namespace orbv_tool {

void apply_verbosity(Verbosity verbosity, const Library& library) {
    switch (verbosity) {
        case Verbosity::Quiet:
            ::setenv("ORBV_LOG", "none", 1);
            break;
        case Verbosity::Verbose:
            ::setenv("ORBV_LOG", "all", 1);
            break;
        case Verbosity::Default:
            ::setenv("ORBV_LOG", "error", 0);
            break;
    }
    const auto set_level = library.find<void (*)(int)>("av_log_set_level");
    const char* setting = std::getenv("ORBV_LOG");
    if (set_level == nullptr || setting == nullptr) return;
    if (std::strcmp(setting, "none") == 0) {
        set_level(kFfmpegQuiet);
    } else if (std::strcmp(setting, "error") == 0) {
        set_level(kFfmpegError);
    }
}

}  // namespace orbv_tool
