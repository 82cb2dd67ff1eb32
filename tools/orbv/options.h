#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace orbv_tool {

// Colour offsets of one lens; -99999999 leaves a plane unchanged.
constexpr int32_t kKeepPlane = -99999999;

struct AnalyzeArgs {
    std::string file;
    std::optional<std::string> thumbnail;
    uint32_t width = 0;  // 0: the source width
    bool force = false;  // write the thumbnail for files of any camera
};

struct ExportArgs {
    std::string lens1, lens2, out;
    std::optional<std::string> band;
    int32_t width = 3840, height = 1920;
    int32_t yaw = 0;
    float roll1 = 0.0f, roll2 = 0.0f;
    int32_t offsets1[3] = {kKeepPlane, kKeepPlane, kKeepPlane};
    int32_t offsets2[3] = {kKeepPlane, kKeepPlane, kKeepPlane};
    float start1 = 0.0f, start2 = 0.0f;
    float end1 = -1.0f, end2 = -1.0f;  // negative: to the end of the input
    int32_t audio_input = 0;
    std::optional<std::string> datetime;  // default: the current local time
    std::optional<std::string> cancel_file;
};

struct AudioArgs {
    std::string movie, out;
    int32_t bit_rate = 0;  // 0: the source's
    std::optional<std::string> cancel_file;
};

struct FreesizeArgs {
    std::string path;
};

struct HelpArgs {};

struct Invocation {
    bool json = false;
    std::variant<HelpArgs, AnalyzeArgs, ExportArgs, AudioArgs, FreesizeArgs> command;
};

// Parses the command line; false with a message in *error when it is not understood.
bool parse_arguments(int argc, const char* const* argv, Invocation* out, std::string* error);

const char* usage_text();

}  // namespace orbv_tool
