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
#include <utility>
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
    return {false, [set = std::move(set)](const std::string&) {
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

bool is_option_word(const std::string& word) { return word.size() >= 2 && word[0] == '-'; }

// "--width=320" names --width.
std::string option_name(const std::string& word) {
    const size_t eq = word.find('=');
    return eq != std::string::npos && word.compare(0, 2, "--") == 0 ? word.substr(0, eq) : word;
}

// Splits the words into positionals and options of the table, noting each option given. Every
// word that starts with a dash (other than "-" itself) is an option, so a mistyped one is
// never taken for a path.
bool parse_words(const std::vector<std::string>& words, const OptionTable& table,
                 std::vector<std::string>* positionals, std::set<std::string>* given,
                 std::string* error) {
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (!is_option_word(word)) {
            positionals->push_back(word);
            continue;
        }
        const std::string name = option_name(word);
        std::optional<std::string> value;
        if (name != word) value = word.substr(name.size() + 1);
        const auto it = table.find(name);
        if (it == table.end()) {
            *error = "unknown option " + name;
            return false;
        }
        given->insert(name);
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

// An equirectangular panorama is twice as wide as high, and x264 and the stitch want both
// sides even: the width is a multiple of 4. Either option sets the size.
bool settle_size(std::optional<int32_t> width, std::optional<int32_t> height, ExportArgs* e,
                 std::string* error) {
    if (width && (*width <= 0 || *width % 4 != 0)) {
        *error = "--width takes a positive multiple of 4 (the height, half of it, is even), not " +
                 std::to_string(*width);
        return false;
    }
    if (height && (*height <= 0 || *height % 2 != 0 || *height > INT32_MAX / 2)) {
        *error = "--height takes a positive even number, not " + std::to_string(*height);
        return false;
    }
    if (width && height && *width != 2 * *height) {
        *error =
            "a panorama is 2:1, twice as wide as high, as it is marked equirectangular: "
            "--height " +
            std::to_string(*width / 2) + " goes with --width " + std::to_string(*width) + ", not " +
            std::to_string(*height);
        return false;
    }
    if (width) e->width = *width;
    e->height = height.value_or(e->width / 2);
    e->width = width.value_or(2 * e->height);
    return true;
}

// Offsets are added to samples of 0 to 255 and saturate: beyond +-255 a plane is flat.
bool check_offsets(const char* name, const int32_t offsets[3], std::string* error) {
    for (int i = 0; i < 3; ++i) {
        if (offsets[i] == kKeepPlane || (offsets[i] >= -255 && offsets[i] <= 255)) continue;
        *error = std::string(name) + " takes Y,U,V from -255 to 255 each (" +
                 std::to_string(kKeepPlane) + ": unchanged), not " + std::to_string(offsets[i]);
        return false;
    }
    return true;
}

// What the library would refuse or misread is a usage error, found before any call.
bool check_export(ExportArgs* e, std::string* error) {
    if (!check_offsets("--offsets1", e->offsets1, error) ||
        !check_offsets("--offsets2", e->offsets2, error))
        return false;
    if (e->audio_input != 0 && e->audio_input != 1) {
        *error = "--audio-input takes 0 (the sound of LENS1) or 1 (that of LENS2)";
        return false;
    }
    if (e->band && !std::filesystem::is_regular_file(std::filesystem::u8path(*e->band))) {
        *error = "no band image " + *e->band;
        return false;
    }
    if (e->datetime && !is_calendar_date(*e->datetime)) {
        *error = "--datetime takes \"YYYY:MM:DD HH:MM:SS\", not \"" + *e->datetime + "\"";
        return false;
    }
    // A negative start is the start, a negative end the end, as the library reads 0 and -1.
    for (float* start : {&e->start1, &e->start2}) *start = std::max(*start, 0.0f);
    for (float* end : {&e->end1, &e->end2})
        if (*end < 0) *end = -1.0f;
    return true;
}

OptionTable export_table(ExportArgs* e, std::optional<int32_t>* width,
                         std::optional<int32_t>* height) {
    auto size_option = [](std::optional<int32_t>* target) -> OptionSpec {
        return {true, [target](const std::string& v) {
                    int32_t n = 0;
                    if (parse_i32(v, &n)) *target = n;
                    return target->has_value();
                }};
    };
    return {
        {"--band", text_option(&e->band)},
        {"--width", size_option(width)},
        {"--height", size_option(height)},
        {"--y-rotation", i32_option(&e->y_rotation)},
        {"--yaw", i32_option(&e->y_rotation)},  // the option's first, misleading name
        {"--roll1", float_option(&e->roll1)},
        {"--roll2", float_option(&e->roll2)},
        {"--offsets1", triple_option(e->offsets1)},
        {"--offsets2", triple_option(e->offsets2)},
        {"--start1", float_option(&e->start1)},
        {"--start2", float_option(&e->start2)},
        {"--end1", float_option(&e->end1)},
        {"--end2", float_option(&e->end2)},
        {"--audio-input", i32_option(&e->audio_input)},
        {"--datetime", text_option(&e->datetime)},
        {"--cancel-file", text_option(&e->cancel_file)},
    };
}

bool parse_export(const std::vector<std::string>& words, Invocation* out, std::string* error) {
    ExportArgs e;
    std::optional<int32_t> width, height;
    OptionTable table = export_table(&e, &width, &height);
    add_global_options(out, &table);
    std::vector<std::string> positionals;
    if (!parse_words(words, table, &positionals, &out->given, error) ||
        !expect_positionals(positionals, 3, "export", error) ||
        !settle_size(width, height, &e, error))
        return false;
    e.lens1 = positionals[0];
    e.lens2 = positionals[1];
    e.out = positionals[2];
    const bool checked = check_export(&e, error);
    out->command = e;
    return checked;
}

OptionTable analyze_table(AnalyzeArgs* a) {
    return {
        {"--thumbnail", text_option(&a->thumbnail)},
        {"--thumbnail-dir", text_option(&a->thumbnail_dir)},
        {"--width", u32_option(&a->width)},
        {"--fit", u32_option(&a->fit)},
        {"--force", flag_option([a] { a->force = true; })},
        {"-r", flag_option([a] { a->recursive = true; })},
    };
}

bool check_analyze(const AnalyzeArgs& a, const std::set<std::string>& given, std::string* error) {
    if (a.files.empty()) {
        *error = "analyze takes 1 or more path arguments";
    } else if (a.thumbnail && a.thumbnail_dir) {
        *error = "--thumbnail names one file's thumbnail, --thumbnail-dir those of all; not both";
    } else if (a.thumbnail && (a.files.size() > 1 || a.recursive)) {
        *error = "--thumbnail takes the thumbnail of one file; --thumbnail-dir DIR those of many";
    } else if (given.count("--fit") != 0 && given.count("--width") != 0) {
        *error = "--fit sets the longer side, --width the source's width; not both";
    } else if (given.count("--fit") != 0 && a.fit == 0) {
        *error = "--fit takes 1 pixel or more";
    }
    return error->empty();
}

bool parse_analyze(const std::vector<std::string>& words, Invocation* out, std::string* error) {
    AnalyzeArgs a;
    OptionTable table = analyze_table(&a);
    add_global_options(out, &table);
    if (!parse_words(words, table, &a.files, &out->given, error) ||
        !check_analyze(a, out->given, error))
        return false;
    out->command = a;
    return true;
}

OptionTable audio_table(AudioArgs* a) {
    return {
        {"--bit-rate",
         {true, [a](const std::string& v) { return parse_bit_rate(v, &a->bit_rate); }}},
        {"--cancel-file", text_option(&a->cancel_file)},
    };
}

bool parse_audio(const std::vector<std::string>& words, Invocation* out, std::string* error) {
    AudioArgs a;
    OptionTable table = audio_table(&a);
    add_global_options(out, &table);
    std::vector<std::string> positionals;
    if (!parse_words(words, table, &positionals, &out->given, error) ||
        !expect_positionals(positionals, 2, "audio", error))
        return false;
    a.movie = positionals[0];
    a.out = positionals[1];
    out->command = a;
    return true;
}

bool parse_freesize(const std::vector<std::string>& words, Invocation* out, std::string* error) {
    OptionTable table;
    add_global_options(out, &table);
    std::vector<std::string> positionals;
    if (!parse_words(words, table, &positionals, &out->given, error) ||
        !expect_positionals(positionals, 1, "freesize", error))
        return false;
    out->command = FreesizeArgs{positionals[0]};
    return true;
}

bool is_global_option(const std::string& name) {
    Invocation ignored;
    OptionTable table;
    add_global_options(&ignored, &table);
    return table.count(name) != 0 || name == "--help" || name == "-h" || name == "--version";
}

bool is_command_option(const std::string& name) {
    ExportArgs e;
    AnalyzeArgs an;
    AudioArgs au;
    std::optional<int32_t> w, h;
    return export_table(&e, &w, &h).count(name) + analyze_table(&an).count(name) +
               audio_table(&au).count(name) !=
           0;
}

// The command word: the first word after the global options. An option of a command placed
// before it would make its value the command, so it is named as misplaced instead.
bool find_command(std::vector<std::string>& words, std::vector<std::string>::iterator* command,
                  std::string* error) {
    *command = words.end();
    for (auto it = words.begin(); it != words.end(); ++it) {
        if (!is_option_word(*it)) {
            *command = it;
            return true;
        }
        const std::string name = option_name(*it);
        if (is_global_option(name)) continue;
        *error = is_command_option(name) ? "option " + name + " belongs after the command"
                                         : "unknown option " + name;
        return false;
    }
    return true;
}

}  // namespace

bool parse_arguments(int argc, const char* const* argv, Invocation* out, std::string* error) {
    std::vector<std::string> words(argv + 1, argv + argc);
    std::vector<std::string>::iterator command;
    std::string misplaced;
    const bool found = find_command(words, &command, &misplaced);
    std::string name = command != words.end() ? *command : "";
    if (name == "analyse") name = "analyze";
    using Parser = bool (*)(const std::vector<std::string>&, Invocation*, std::string*);
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
    if (!found) {
        *error = misplaced;
        return false;
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
    return parser->second(words, out, error);
}

bool asks_for_json(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--json") == 0) return true;
    return false;
}

}  // namespace orbv_tool
