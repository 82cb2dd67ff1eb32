// orbv: command-line host of liborbv.so. It loads the library with dlopen and calls the four
// exported functions the way the viewer does, printing what the callback receives.
#include <cstdio>
#include <ctime>
#include <string>
#include <variant>

#include "library.h"
#include "options.h"
#include "progress.h"
#include "report.h"

namespace orbv_tool {
namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitCancelled = 3;

const char* c_str_or_null(const std::optional<std::string>& text) {
    return text ? text->c_str() : nullptr;
}

// The camera's date form, as its EXIF carries it.
std::string now_text() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char buf[32];
    std::strftime(buf, sizeof(buf), "%Y:%m:%d %H:%M:%S", &local);
    return buf;
}

int exit_status() {
    switch (final_state()) {
        case STATE_DONE:
            return kExitDone;
        case STATE_CANCELED:
            return kExitCancelled;
        default:
            return kExitFailed;
    }
}

int run(const Library& lib, const AnalyzeArgs& a) {
    lib.analyze_image(a.file.c_str(), c_str_or_null(a.thumbnail), a.width, a.force ? 1 : 0,
                      report_callback);
    return exit_status();
}

int run(const Library& lib, const ExportArgs& e) {
    const std::string datetime = e.datetime ? *e.datetime : now_text();
    const CancelOnInterrupt cancel(e.cancel_file.value_or(""));
    lib.export_panorama(e.lens1.c_str(), e.lens2.c_str(), e.out.c_str(), c_str_or_null(e.band),
                        e.width, e.height, e.yaw, e.roll1, e.roll2, e.offsets1[0], e.offsets1[1],
                        e.offsets1[2], e.offsets2[0], e.offsets2[1], e.offsets2[2], e.start1,
                        e.start2, e.end1, e.end2, e.audio_input, datetime.c_str(), cancel.path(),
                        report_callback);
    return exit_status();
}

int run(const Library& lib, const AudioArgs& a) {
    const CancelOnInterrupt cancel(a.cancel_file.value_or(""));
    lib.get_audio(a.movie.c_str(), a.out.c_str(), a.bit_rate, cancel.path(), report_callback);
    return exit_status();
}

int run(const Library& lib, const FreesizeArgs& f, bool json) {
    const long long bytes = lib.freesize(f.path.c_str());
    if (json) {
        std::printf("{\"free_bytes\":%lld}\n", bytes);
    } else if (bytes < 0) {
        std::printf("free space of %s unknown\n", f.path.c_str());
    } else {
        std::printf("%lld bytes free (%.1f GiB)\n", bytes, bytes / 1073741824.0);
    }
    return bytes >= 0 ? kExitDone : kExitFailed;
}

}  // namespace
}  // namespace orbv_tool

int main(int argc, char** argv) {
    using namespace orbv_tool;
    Invocation invocation;
    std::string error;
    if (!parse_arguments(argc, argv, &invocation, &error)) {
        std::fprintf(stderr, "orbv: %s\n\n%s", error.c_str(), usage_text());
        return kExitUsage;
    }
    if (std::holds_alternative<HelpArgs>(invocation.command)) {
        std::printf("%s", usage_text());
        return kExitDone;
    }
    Library lib;
    if (!load_library(&lib, &error)) {
        std::fprintf(stderr, "orbv: cannot load liborbv: %s\n", error.c_str());
        return kExitFailed;
    }
    set_json_output(invocation.json);
    return std::visit(
        [&](const auto& args) -> int {
            using T = std::decay_t<decltype(args)>;
            if constexpr (std::is_same_v<T, FreesizeArgs>) {
                return run(lib, args, invocation.json);
            } else if constexpr (std::is_same_v<T, HelpArgs>) {
                return kExitDone;
            } else {
                return run(lib, args);
            }
        },
        invocation.command);
}
