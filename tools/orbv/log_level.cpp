#include "log_level.h"

#include <cstdlib>
#include <cstring>

#include "system_calls.h"

// FFmpeg's AV_LOG_QUIET and AV_LOG_ERROR: the tool does not build against FFmpeg.
constexpr int kFfmpegQuiet = -8, kFfmpegError = 16;

namespace orbv_tool {

void apply_verbosity(Verbosity verbosity, const Library& library) {
    switch (verbosity) {
        case Verbosity::Quiet:
            set_environment("ORBV_LOG", "none", true);
            break;
        case Verbosity::Verbose:
            set_environment("ORBV_LOG", "all", true);
            break;
        case Verbosity::Default:
            set_environment("ORBV_LOG", "error", false);
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
