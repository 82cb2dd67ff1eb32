#include "ignored_options.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "messages.h"

namespace orbv_tool {

namespace {

void warn_each(const std::set<std::string>& given, std::initializer_list<const char*> names,
               const std::string& why) {
    for (const char* name : names)
        if (given.count(name) != 0) warn(std::string(name) + " has no effect " + why);
}

std::string lower_extension(const std::string& path) {
    std::string ext = std::filesystem::u8path(path).extension().u8string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

}  // namespace

void warn_ignored_options(const AnalyzeArgs& args, const std::set<std::string>& given) {
    if (!args.thumbnail && !args.thumbnail_dir) {
        warn_each(given, {"--width", "--fit", "--force", "-y", "--overwrite"},
                  "without --thumbnail or --thumbnail-dir");
    }
    if (!args.recursive) return;
    std::error_code ec;
    for (const std::string& file : args.files)
        if (std::filesystem::is_directory(std::filesystem::u8path(file), ec)) return;
    warn("-r has no effect: no argument is a directory");
}

void warn_ignored_options(const AudioArgs& args, const std::set<std::string>& given) {
    const std::string ext = lower_extension(args.out);
    if (ext != ".m4a" && ext != ".mp4")
        warn_each(given, {"--bit-rate"}, "on " + args.out + ": only AAC (.m4a, .mp4) takes one");
}

void warn_ignored_options(const FreesizeArgs&, const std::set<std::string>& given) {
    warn_each(given, {"-y", "--overwrite"}, "on freesize, which writes nothing");
}

void warn_ignored_for_stills(const std::set<std::string>& given) {
    // A still pair is one step: no progress point looks at the cancel file.
    warn_each(given, {"--start1", "--start2", "--end1", "--end2", "--audio-input", "--cancel-file"},
              "on a still pair");
}

}  // namespace orbv_tool
