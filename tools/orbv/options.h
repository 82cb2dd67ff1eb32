#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "orbv.h"

namespace orbv_tool {

// Colour offsets of one lens; ORBV_OFFSET_UNCHANGED leaves a plane unchanged.
constexpr int32_t kKeepPlane = ORBV_OFFSET_UNCHANGED;

struct AnalyzeArgs {
    std::vector<std::string> files;
    bool recursive = false;  // directories give the media files below them
    std::optional<std::string> thumbnail;
    std::optional<std::string> thumbnail_dir;  // DIR/NAME.jpg for each file
    uint32_t width = 0;                        // 0: the source width
    uint32_t fit = 0;    // the thumbnail's longer side as shown; 0: --width decides
    bool force = false;  // write the thumbnail for files of any camera
};

struct ExportArgs {
    std::string lens1, lens2, out;
    std::optional<std::string> band;
    int32_t width = 3840, height = 1920;  // always 2:1, as an equirectangular panorama is
    int32_t y_rotation = 0;
    float roll1 = 0.0f, roll2 = 0.0f;
    int32_t offsets1[3] = {kKeepPlane, kKeepPlane, kKeepPlane};
    int32_t offsets2[3] = {kKeepPlane, kKeepPlane, kKeepPlane};
    float start1 = 0.0f, start2 = 0.0f;
    float end1 = -1.0f, end2 = -1.0f;  // -1: to the end of the input
    int32_t audio_input = 0;
    std::optional<std::string> datetime;  // default: the shot's date
    std::optional<std::string> cancel_file;
};

struct AudioArgs {
    std::string movie, out;
    int32_t bit_rate = 0;  // bits a second, 0: the source's
    std::optional<std::string> cancel_file;
};

struct FreesizeArgs {
    std::string path;
};

struct HelpArgs {
    std::string command;  // empty: the whole help
};
struct VersionArgs {};

// How much the library and FFmpeg write to standard error, and whether the progress line shows.
enum class Verbosity { Default, Quiet, Verbose };

struct Invocation {
    std::set<std::string> given;  // the options on the command line, as typed
    bool json = false;
    bool overwrite = false;
    Verbosity verbosity = Verbosity::Default;
    std::variant<HelpArgs, VersionArgs, AnalyzeArgs, ExportArgs, AudioArgs, FreesizeArgs> command;
};

// Parses and checks the command line; false with a message in *error when it is not
// understood or asks for what the library cannot do (odd sizes, a missing band file, ...).
bool parse_arguments(int argc, const char* const* argv, Invocation* out, std::string* error);
// Whether the words ask for JSON output, also when they cannot be parsed.
bool asks_for_json(int argc, const char* const* argv);

const char* usage_text();
// The part of the help that concerns one command.
std::string command_usage(const std::string& command);

}  // namespace orbv_tool
