#include "options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <vector>

namespace orbv_tool {

namespace {

// Numbers must be whole and in range; "12abc" or "" is an error, not 12 or 0.
bool parse_int(const std::string& text, long min, long max, long* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < min || v > max) return false;
    *value = v;
    return true;
}

bool parse_float(const std::string& text, float* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const float v = std::strtof(text.c_str(), &end);
    if (errno != 0 || *end != '\0') return false;
    *value = v;
    return true;
}

bool parse_i32(const std::string& text, int32_t* value) {
    long v = 0;
    if (!parse_int(text, INT32_MIN, INT32_MAX, &v)) return false;
    *value = static_cast<int32_t>(v);
    return true;
}

bool parse_u32(const std::string& text, uint32_t* value) {
    long v = 0;
    if (!parse_int(text, 0, UINT32_MAX, &v)) return false;
    *value = static_cast<uint32_t>(v);
    return true;
}

// "Y,U,V": three whole numbers.
bool parse_triple(const std::string& text, int32_t out[3]) {
    int32_t values[3];
    size_t start = 0;
    for (int i = 0; i < 3; ++i) {
        const size_t comma = text.find(',', start);
        const bool last = i == 2;
        if (last != (comma == std::string::npos)) return false;
        const std::string part = text.substr(start, last ? std::string::npos : comma - start);
        if (!parse_i32(part, &values[i])) return false;
        start = comma + 1;
    }
    std::memcpy(out, values, sizeof(values));
    return true;
}

// One option of a command: a flag, or an option whose value the setter checks and stores.
struct OptionSpec {
    bool takes_value;
    std::function<bool(const std::string&)> set;
};
using OptionTable = std::map<std::string, OptionSpec>;

OptionSpec text_option(std::optional<std::string>* target) {
    return {true, [target](const std::string& v) {
                *target = v;
                return true;
            }};
}
OptionSpec i32_option(int32_t* target) {
    return {true, [target](const std::string& v) { return parse_i32(v, target); }};
}
OptionSpec u32_option(uint32_t* target) {
    return {true, [target](const std::string& v) { return parse_u32(v, target); }};
}
OptionSpec float_option(float* target) {
    return {true, [target](const std::string& v) { return parse_float(v, target); }};
}
OptionSpec triple_option(int32_t* target) {
    return {true, [target](const std::string& v) { return parse_triple(v, target); }};
}

// Splits the words after the command into positionals and options of the table.
bool parse_words(const std::vector<std::string>& words, const OptionTable& table,
                 std::vector<std::string>* positionals, std::string* error) {
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word.size() < 2 || word.compare(0, 2, "--") != 0) {
            positionals->push_back(word);
            continue;
        }
        std::string name = word;
        std::optional<std::string> value;
        const size_t eq = word.find('=');
        if (eq != std::string::npos) {
            name = word.substr(0, eq);
            value = word.substr(eq + 1);
        }
        const auto it = table.find(name);
        if (it == table.end()) {
            *error = "unknown option " + name;
            return false;
        }
        if (!it->second.takes_value) {
            if (value) {
                *error = name + " takes no value";
                return false;
            }
            it->second.set("");
            continue;
        }
        if (!value) {
            if (i + 1 >= words.size()) {
                *error = name + " needs a value";
                return false;
            }
            value = words[++i];
        }
        if (!it->second.set(*value)) {
            *error = "bad value for " + name + ": " + *value;
            return false;
        }
    }
    return true;
}

bool expect_positionals(const std::vector<std::string>& got, size_t count, const char* command,
                        std::string* error) {
    if (got.size() == count) return true;
    *error = std::string(command) + " takes " + std::to_string(count) + " path argument" +
             (count == 1 ? "" : "s");
    return false;
}

}  // namespace

bool parse_arguments(int argc, const char* const* argv, Invocation* out, std::string* error) {
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--json") {
            out->json = true;
        } else if (word == "--help" || word == "-h") {
            out->command = HelpArgs{};
            return true;
        } else {
            words.push_back(word);
        }
    }
    if (words.empty()) {
        *error = "no command given";
        return false;
    }
    const std::string command = words.front();
    words.erase(words.begin());
    std::vector<std::string> positionals;

    if (command == "analyze") {
        AnalyzeArgs a;
        const OptionTable table = {
            {"--thumbnail", text_option(&a.thumbnail)},
            {"--width", u32_option(&a.width)},
            {"--force", {false, [&a](const std::string&) { return a.force = true; }}},
        };
        if (!parse_words(words, table, &positionals, error) ||
            !expect_positionals(positionals, 1, "analyze", error))
            return false;
        a.file = positionals[0];
        out->command = a;
    } else if (command == "export") {
        ExportArgs e;
        const OptionTable table = {
            {"--band", text_option(&e.band)},
            {"--width", i32_option(&e.width)},
            {"--height", i32_option(&e.height)},
            {"--yaw", i32_option(&e.yaw)},
            {"--roll1", float_option(&e.roll1)},
            {"--roll2", float_option(&e.roll2)},
            {"--offsets1", triple_option(e.offsets1)},
            {"--offsets2", triple_option(e.offsets2)},
            {"--start1", float_option(&e.start1)},
            {"--start2", float_option(&e.start2)},
            {"--end1", float_option(&e.end1)},
            {"--end2", float_option(&e.end2)},
            {"--audio-input", i32_option(&e.audio_input)},
            {"--datetime", text_option(&e.datetime)},
            {"--cancel-file", text_option(&e.cancel_file)},
        };
        if (!parse_words(words, table, &positionals, error) ||
            !expect_positionals(positionals, 3, "export", error))
            return false;
        e.lens1 = positionals[0];
        e.lens2 = positionals[1];
        e.out = positionals[2];
        out->command = e;
    } else if (command == "audio") {
        AudioArgs a;
        const OptionTable table = {
            {"--bit-rate", i32_option(&a.bit_rate)},
            {"--cancel-file", text_option(&a.cancel_file)},
        };
        if (!parse_words(words, table, &positionals, error) ||
            !expect_positionals(positionals, 2, "audio", error))
            return false;
        a.movie = positionals[0];
        a.out = positionals[1];
        out->command = a;
    } else if (command == "freesize") {
        if (!parse_words(words, {}, &positionals, error) ||
            !expect_positionals(positionals, 1, "freesize", error))
            return false;
        out->command = FreesizeArgs{positionals[0]};
    } else {
        *error = "unknown command " + command;
        return false;
    }
    return true;
}

const char* usage_text() {
    return "usage: orbv [--json] COMMAND ...\n"
           "\n"
           "  orbv analyze FILE [--thumbnail OUT] [--width N] [--force]\n"
           "      analyse a JPEG still or MOV/MP4 movie; --force writes the thumbnail for\n"
           "      files of any camera\n"
           "  orbv export LENS1 LENS2 OUT [options]\n"
           "      stitch the two lens files of one shot into an equirectangular panorama\n"
           "      --width N --height N      output size (3840 x 1920)\n"
           "      --yaw DEG                 rotation about the vertical axis, whole degrees (0)\n"
           "      --roll1 DEG --roll2 DEG   rotation of each lens image (0)\n"
           "      --offsets1 Y,U,V --offsets2 Y,U,V\n"
           "                                colour offsets per lens (-99999999: unchanged)\n"
           "      --start1 S --start2 S --end1 S --end2 S\n"
           "                                trim times in seconds (0 and -1: whole input)\n"
           "      --audio-input 0|1         whose sound the movie carries (0)\n"
           "      --band FILE               seam band image\n"
           "      --datetime TEXT           capture date for the panorama metadata (now)\n"
           "      --cancel-file FILE        stop once this file exists\n"
           "  orbv audio MOVIE OUT [--bit-rate N] [--cancel-file FILE]\n"
           "      write the movie's sound track to OUT (the extension picks the container)\n"
           "  orbv freesize PATH\n"
           "      free bytes of the volume holding PATH\n"
           "\n"
           "--json prints every document the library sends as one line.\n"
           "Exit status: 0 done, 1 failed, 2 usage error, 3 cancelled.\n"
           "ORBV_LIBRARY names the liborbv.so to load.\n";
}

}  // namespace orbv_tool
