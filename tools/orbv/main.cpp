// orbv: command-line host of liborbv.so. It loads the library with dlopen and calls the four
// exported functions the way the viewer does, reporting what the callback receives.
#include <cstdio>
#include <filesystem>
#include <string>
#include <variant>
#include <vector>

#include "analysis_batch.h"
#include "cancel_on_signal.h"
#include "export_warnings.h"
#include "ignored_options.h"
#include "lens_facts.h"
#include "library.h"
#include "log_level.h"
#include "messages.h"
#include "options.h"
#include "report.h"
#include "shot_date.h"
#include "system_calls.h"
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

namespace fs = std::filesystem;

bool exists(const std::string& path) {
    std::error_code ignored;
    return fs::exists(fs::symlink_status(fs::u8path(path), ignored));
}

int exit_status() {
    switch (final_state()) {
        case STATE_DONE:
            return kExitDone;
        case STATE_CANCELED:
            return kExitCancelled;
        default:
            return refused_options() ? kExitUsage : kExitFailed;
    }
}

int run(const Library& lib, const AnalyzeArgs& a, const Invocation& invocation) {
    warn_ignored_options(a, invocation.given);
    return analyze_files(lib, a, invocation);
}

int run(const Library& lib, const ExportArgs& e, const Invocation& invocation) {
    std::string datetime = e.datetime.value_or("");
    if (exists(e.lens1) && exists(e.lens2)) {
        const LensFacts lens1 = lens_facts(lib, e.lens1), lens2 = lens_facts(lib, e.lens2);
        if (lens1.still && lens2.still) warn_ignored_for_stills(invocation.given);
        warn_about_export(e, lens1, lens2);
        note_window(window_past_end(e, lens1, lens2));
        if (datetime.empty()) datetime = shot_date(lens1.datetime, e.lens1);
    }
    const CancelOnSignal cancel(e.cancel_file.value_or(""));
    lib.export_panorama(e.lens1.c_str(), e.lens2.c_str(), e.out.c_str(), c_str_or_null(e.band),
                        e.width, e.height, e.y_rotation, e.roll1, e.roll2, e.offsets1[0],
                        e.offsets1[1], e.offsets1[2], e.offsets2[0], e.offsets2[1], e.offsets2[2],
                        e.start1, e.start2, e.end1, e.end2, e.audio_input, datetime.c_str(),
                        cancel.path(), report_callback);
    return exit_status();
}

int run(const Library& lib, const AudioArgs& a, const Invocation& invocation) {
    warn_ignored_options(a, invocation.given);
    const CancelOnSignal cancel(a.cancel_file.value_or(""));
    lib.get_audio(a.movie.c_str(), a.out.c_str(), a.bit_rate, cancel.path(), report_callback);
    return exit_status();
}

int run(const Library& lib, const FreesizeArgs& f, const Invocation& invocation) {
    warn_ignored_options(f, invocation.given);
    const bool json = invocation.json;
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

// The files a command reads and writes, as the library is given them.
CommandFiles command_files(const Invocation& invocation) {
    CommandFiles files;
    if (const auto* e = std::get_if<ExportArgs>(&invocation.command)) {
        files.input1 = e->lens1;
        files.input2 = e->lens2;
        files.output = e->out;
        for (const char* option : {"--width", "--height"}) {
            if (invocation.given.count(option) == 0) continue;
            const int32_t size = std::string(option) == "--width" ? e->width : e->height;
            files.size_options += (files.size_options.empty() ? "" : " ") + std::string(option) +
                                  " " + std::to_string(size);
        }
    } else if (const auto* audio = std::get_if<AudioArgs>(&invocation.command)) {
        files.input1 = audio->movie;
        files.output = audio->out;
    } else if (const auto* analyze = std::get_if<AnalyzeArgs>(&invocation.command)) {
        // One file when it has a thumbnail of its own.
        files.input1 = analyze->files.front();
        files.output = analyze->thumbnail.value_or("");
    }
    return files;
}

bool same_file(const std::string& a, const std::string& b) {
    std::error_code ignored;
    return fs::equivalent(fs::u8path(a), fs::u8path(b), ignored);
}

// Like ffmpeg without -y, an existing file is never replaced unasked; and -y is offered only
// for a file that may be replaced, never for an input or a directory. A missing input goes
// first: the library names it, before any output is looked at.
bool output_may_be_written(const Invocation& invocation) {
    const CommandFiles files = command_files(invocation);
    const std::string& out = files.output;
    if (out.empty() || !exists(files.input1) || (!files.input2.empty() && !exists(files.input2)))
        return true;
    const char* problem = nullptr;
    std::error_code ignored;
    if (fs::is_directory(fs::u8path(out), ignored)) {
        problem = "is a directory";
    } else if (same_file(out, files.input1) || same_file(out, files.input2)) {
        problem = "is an input of this command, never its output";
    } else if (exists(out) && !invocation.overwrite) {
        problem = "exists already (-y replaces it)";
    }
    if (problem != nullptr) refuse(out + ": " + problem, invocation.json);
    return problem == nullptr;
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
    options.files = command_files(invocation);
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
        refuse("cannot load liborbv: " + error, invocation.json);
        return kExitFailed;
    }
    apply_verbosity(invocation.verbosity, lib);
    ReportOptions options = report_options(invocation);
    options.files.free_bytes = lib.freesize;
    set_report_options(options);
    return std::visit(
        [&](const auto& args) -> int {
            using T = std::decay_t<decltype(args)>;
            if constexpr (std::is_same_v<T, HelpArgs> || std::is_same_v<T, VersionArgs>) {
                return kExitDone;
            } else {
                return run(lib, args, invocation);
            }
        },
        invocation.command);
}

}  // namespace
}  // namespace orbv_tool

// An exception that reaches here is a fault of the tool's own: terminating shows it.
// NOLINTNEXTLINE(bugprone-exception-escape)
int main(int argc, char** argv) {
    using namespace orbv_tool;
    Invocation invocation;
    std::string error;
    const std::vector<std::string> args = utf8_arguments(argc, argv);
    std::vector<const char*> arg_texts;
    arg_texts.reserve(args.size());
    for (const std::string& arg : args) arg_texts.push_back(arg.c_str());
    if (!parse_arguments(static_cast<int>(arg_texts.size()), arg_texts.data(), &invocation,
                         &error)) {
        refuse(error + " (orbv --help shows the usage)", asks_for_json(argc, argv));
        return kExitUsage;
    }
    if (const auto* help = std::get_if<HelpArgs>(&invocation.command)) {
        std::printf("%s",
                    help->command.empty() ? usage_text() : command_usage(help->command).c_str());
        return kExitDone;
    }
    if (!output_may_be_written(invocation)) return kExitUsage;
    return run_command(invocation);
}
