// orbv: command-line host of liborbv.so. It loads the library with dlopen and calls the four
// exported functions the way the viewer does, reporting what the callback receives.
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <variant>

#include "library.h"
#include "log_level.h"
#include "options.h"
#include "progress.h"
#include "report.h"
#include "version.h"

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
                        e.width, e.height, e.y_rotation, e.roll1, e.roll2, e.offsets1[0],
                        e.offsets1[1], e.offsets1[2], e.offsets2[0], e.offsets2[1], e.offsets2[2],
                        e.start1, e.start2, e.end1, e.end2, e.audio_input, datetime.c_str(),
                        cancel.path(), report_callback);
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

// The file a command would write, for the refusal to overwrite it; null when none.
const std::string* written_file(const Invocation& invocation) {
    if (const auto* e = std::get_if<ExportArgs>(&invocation.command)) return &e->out;
    if (const auto* a = std::get_if<AudioArgs>(&invocation.command)) return &a->out;
    if (const auto* a = std::get_if<AnalyzeArgs>(&invocation.command)) {
        return a->thumbnail ? &*a->thumbnail : nullptr;
    }
    return nullptr;
}

ReportOptions report_options(const Invocation& invocation) {
    ReportOptions options;
    options.json = invocation.json;
    options.progress = invocation.verbosity != Verbosity::Quiet;
    options.command = std::visit(
        [](const auto& args) {
            using T = std::decay_t<decltype(args)>;
            if constexpr (std::is_same_v<T, AnalyzeArgs>) return "analyze";
            if constexpr (std::is_same_v<T, AudioArgs>) return "audio";
            return "export";
        },
        invocation.command);
    if (std::holds_alternative<AudioArgs>(invocation.command)) options.unit = "packets";
    return options;
}

int run_command(const Invocation& invocation) {
    Library lib;
    std::string error;
    const bool loaded = load_library(&lib, &error);
    if (std::holds_alternative<VersionArgs>(invocation.command)) {
        std::printf("%s", version_text(loaded ? &lib : nullptr, error).c_str());
        return loaded ? kExitDone : kExitFailed;
    }
    if (!loaded) {
        std::fprintf(stderr, "orbv: cannot load liborbv: %s\n", error.c_str());
        return kExitFailed;
    }
    apply_verbosity(invocation.verbosity, lib);
    set_report_options(report_options(invocation));
    return std::visit(
        [&](const auto& args) -> int {
            using T = std::decay_t<decltype(args)>;
            if constexpr (std::is_same_v<T, FreesizeArgs>) {
                return run(lib, args, invocation.json);
            } else if constexpr (std::is_same_v<T, HelpArgs> || std::is_same_v<T, VersionArgs>) {
                return kExitDone;
            } else {
                return run(lib, args);
            }
        },
        invocation.command);
}

}  // namespace
}  // namespace orbv_tool

int main(int argc, char** argv) {
    using namespace orbv_tool;
    Invocation invocation;
    std::string error;
    if (!parse_arguments(argc, argv, &invocation, &error)) {
        std::fprintf(stderr, "orbv: %s (orbv --help shows the usage)\n", error.c_str());
        return kExitUsage;
    }
    if (std::holds_alternative<HelpArgs>(invocation.command)) {
        std::printf("%s", usage_text());
        return kExitDone;
    }
    // Like ffmpeg without -y: an existing file is never replaced unasked.
    const std::string* output = written_file(invocation);
    std::error_code ignored;
    if (output != nullptr && !invocation.overwrite &&
        std::filesystem::exists(std::filesystem::symlink_status(*output, ignored))) {
        std::fprintf(stderr, "orbv: %s exists already (-y replaces it)\n", output->c_str());
        return kExitUsage;
    }
    return run_command(invocation);
}
