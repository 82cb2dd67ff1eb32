#include "options.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <vector>

#include "shot_date.h"

namespace orbv_tool {

namespace {

// Numbers must be whole and in range; "12abc" or "" is an error, not 12 or 0. 64 bits on
// every platform: Windows' long has 32.
bool parse_int(const std::string& text, long long min, long long max, long long* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), &end, 10);
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
    long long v = 0;
    if (!parse_int(text, INT32_MIN, INT32_MAX, &v)) return false;
    *value = static_cast<int32_t>(v);
    return true;
}

bool parse_u32(const std::string& text, uint32_t* value) {
    long long v = 0;
    if (!parse_int(text, 0, UINT32_MAX, &v)) return false;
    *value = static_cast<uint32_t>(v);
    return true;
}

// Bits a second as ffmpeg takes them: "64000", "64k" or "1.5M".
bool parse_bit_rate(const std::string& text, int32_t* value) {
    if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text[0])))) return false;
    char* end = nullptr;
    errno = 0;
    double v = std::strtod(text.c_str(), &end);
    const std::string suffix = end;
    if (suffix == "k" || suffix == "K") {
        v *= 1e3;
    } else if (suffix == "M") {
        v *= 1e6;
    } else if (!suffix.empty()) {
        return false;
    }
    if (errno != 0 || v > INT32_MAX || v != std::floor(v)) return false;
    *value = static_cast<int32_t>(v);
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
OptionSpec flag_option(std::function<void()> set) {
    return {false, [set](const std::string&) {
                set();
                return true;
            }};
}

// Options every command takes, before or after the command word.
void add_global_options(Invocation* out, OptionTable* table) {
    table->insert({
        {"--json", flag_option([out] { out->json = true; })},
        {"-y", flag_option([out] { out->overwrite = true; })},
        {"--overwrite", flag_option([out] { out->overwrite = true; })},
        {"-q", flag_option([out] { out->verbosity = Verbosity::Quiet; })},
        {"--quiet", flag_option([out] { out->verbosity = Verbosity::Quiet; })},
        {"-v", flag_option([out] { out->verbosity = Verbosity::Verbose; })},
        {"--verbose", flag_option([out] { out->verbosity = Verbosity::Verbose; })},
    });
}

// Splits the words into positionals and options of the table. Every word that starts with a
// dash (other than "-" itself) is an option, so a mistyped one is never taken for a path.
bool parse_words(const std::vector<std::string>& words, const OptionTable& table,
                 std::vector<std::string>* positionals, std::string* error) {
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word.size() < 2 || word[0] != '-') {
            positionals->push_back(word);
            continue;
        }
        std::string name = word;
        std::optional<std::string> value;
        const size_t eq = word.find('=');
        if (eq != std::string::npos && word.compare(0, 2, "--") == 0) {
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

// What the library would refuse or misread is a usage error, found before any call.
bool check_export(const ExportArgs& e, std::string* error) {
    for (const auto& [name, size] : {std::pair{"width", e.width}, std::pair{"height", e.height}}) {
        if (size <= 0 || size % 2 != 0) {
            *error = std::string("the panorama ") + name + " must be even and positive, not " +
                     std::to_string(size);
            return false;
        }
    }
    if (e.audio_input != 0 && e.audio_input != 1) {
        *error = "--audio-input takes 0 (the sound of LENS1) or 1 (that of LENS2)";
        return false;
    }
    if (e.band && !std::filesystem::is_regular_file(std::filesystem::u8path(*e.band))) {
        *error = "no band image " + *e.band;
        return false;
    }
    if (e.datetime && !is_calendar_date(*e.datetime)) {
        *error = "--datetime takes \"YYYY:MM:DD HH:MM:SS\", not \"" + *e.datetime + "\"";
        return false;
    }
    return true;
}

bool parse_export(std::vector<std::string> words, Invocation* out, std::string* error) {
    ExportArgs e;
    std::optional<int32_t> height;
    OptionTable table = {
        {"--band", text_option(&e.band)},
        {"--width", i32_option(&e.width)},
        {"--height",
         {true,
          [&height](const std::string& v) {
              int32_t h = 0;
              if (parse_i32(v, &h)) height = h;
              return height.has_value();
          }}},
        {"--y-rotation", i32_option(&e.y_rotation)},
        {"--yaw", i32_option(&e.y_rotation)},  // the option's first, misleading name
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
    add_global_options(out, &table);
    std::vector<std::string> positionals;
    if (!parse_words(words, table, &positionals, error) ||
        !expect_positionals(positionals, 3, "export", error))
        return false;
    e.height = height.value_or(e.width / 2);
    e.lens1 = positionals[0];
    e.lens2 = positionals[1];
    e.out = positionals[2];
    out->command = e;
    return check_export(e, error);
}

bool parse_analyze(std::vector<std::string> words, Invocation* out, std::string* error) {
    AnalyzeArgs a;
    OptionTable table = {
        {"--thumbnail", text_option(&a.thumbnail)},
        {"--width", u32_option(&a.width)},
        {"--force", flag_option([&a] { a.force = true; })},
    };
    add_global_options(out, &table);
    std::vector<std::string> positionals;
    if (!parse_words(words, table, &positionals, error) ||
        !expect_positionals(positionals, 1, "analyze", error))
        return false;
    a.file = positionals[0];
    out->command = a;
    return true;
}

bool parse_audio(std::vector<std::string> words, Invocation* out, std::string* error) {
    AudioArgs a;
    OptionTable table = {
        {"--bit-rate",
         {true, [&a](const std::string& v) { return parse_bit_rate(v, &a.bit_rate); }}},
        {"--cancel-file", text_option(&a.cancel_file)},
    };
    add_global_options(out, &table);
    std::vector<std::string> positionals;
    if (!parse_words(words, table, &positionals, error) ||
        !expect_positionals(positionals, 2, "audio", error))
        return false;
    a.movie = positionals[0];
    a.out = positionals[1];
    out->command = a;
    return true;
}

bool parse_freesize(std::vector<std::string> words, Invocation* out, std::string* error) {
    OptionTable table;
    add_global_options(out, &table);
    std::vector<std::string> positionals;
    if (!parse_words(words, table, &positionals, error) ||
        !expect_positionals(positionals, 1, "freesize", error))
        return false;
    out->command = FreesizeArgs{positionals[0]};
    return true;
}

}  // namespace

bool parse_arguments(int argc, const char* const* argv, Invocation* out, std::string* error) {
    std::vector<std::string> words(argv + 1, argv + argc);
    // The command is the first word that is no option; the options may stand on either side.
    const auto command = std::find_if(words.begin(), words.end(), [](const std::string& w) {
        return w.size() < 2 || w[0] != '-';
    });
    std::string name = command != words.end() ? *command : "";
    if (name == "analyse") name = "analyze";
    using Parser = bool (*)(std::vector<std::string>, Invocation*, std::string*);
    static const std::map<std::string, Parser> kCommands = {{"analyze", parse_analyze},
                                                            {"export", parse_export},
                                                            {"audio", parse_audio},
                                                            {"freesize", parse_freesize}};
    for (const std::string& word : words) {
        if (word == "--help" || word == "-h") {
            out->command = HelpArgs{kCommands.count(name) != 0 ? name : ""};
            return true;
        }
        if (word == "--version") {
            out->command = VersionArgs{};
            return true;
        }
    }
    if (name == "help" && command + 1 != words.end()) {
        std::string topic = *(command + 1);
        if (topic == "analyse") topic = "analyze";
        if (kCommands.count(topic) == 0) {
            *error = "no help on " + topic;
            return false;
        }
        out->command = HelpArgs{topic};
        return true;
    }
    if (name == "help") {
        out->command = HelpArgs{};
        return true;
    }
    if (command == words.end()) {
        *error = "no command given";
        return false;
    }
    words.erase(command);
    const auto parser = kCommands.find(name);
    if (parser == kCommands.end()) {
        *error = "unknown command " + name;
        return false;
    }
    return parser->second(std::move(words), out, error);
}

}  // namespace orbv_tool
