#include "analysis_batch.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "analysis_text.h"
#include "failure_text.h"
#include "flat_json.h"
#include "messages.h"
#include "progress.h"
#include "system_calls.h"

namespace orbv_tool {

namespace {

namespace fs = std::filesystem;

// More files than this show the progress line.
constexpr size_t kProgressAbove = 20;

struct Outcome {
    int32_t state = -1;
    std::string document;
};

// The callback carries no user pointer: the final document of the call waits here.
Outcome g_outcome;

void keep_outcome(int32_t state, const char* document) {
    if (state >= STATE_DONE) g_outcome = {state, document != nullptr ? document : ""};
}

bool is_media_name(const fs::path& path) {
    std::string ext = path.extension().u8string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext == ".jpg" || ext == ".jpeg" || ext == ".mov" || ext == ".mp4";
}

// The arguments, each directory replaced by the media files below it, in name order.
std::vector<std::string> expand(const std::vector<std::string>& args, bool recursive) {
    std::vector<std::string> files;
    for (const std::string& arg : args) {
        std::error_code ec;
        if (!recursive || !fs::is_directory(fs::u8path(arg), ec)) {
            files.push_back(arg);
            continue;
        }
        std::vector<std::string> below;
        const auto options = fs::directory_options::skip_permission_denied;
        for (fs::recursive_directory_iterator it(fs::u8path(arg), options, ec), end;
             !ec && it != end; it.increment(ec)) {
            if (it->is_regular_file(ec) && is_media_name(it->path()))
                below.push_back(it->path().u8string());
        }
        std::sort(below.begin(), below.end());
        files.insert(files.end(), below.begin(), below.end());
    }
    return files;
}

// One line per file with --json: the library's document with the tool's "file" and "state"
// first, and on failure the failure line as "message".
void print_json_line(const std::string& file, const Outcome& outcome, const std::string& message) {
    Fields fields;
    std::string body;
    if (!parse_flat_object(outcome.document, &fields)) {
        body = ",\"document\":" + json_quote(outcome.document);
    } else if (!fields.empty()) {
        body = "," + outcome.document.substr(1, outcome.document.size() - 2);
    }
    if (!message.empty()) body += ",\"message\":" + json_quote(message);
    std::printf("{\"file\":%s,\"state\":%d%s}\n", json_quote(file).c_str(), outcome.state,
                body.c_str());
}

class Batch {
  public:
    Batch(const Library& library, const AnalyzeArgs& args, const Invocation& invocation)
        : lib_(library), args_(args), json_(invocation.json), overwrite_(invocation.overwrite) {}

    bool analyze(const std::string& file);

  private:
    std::optional<std::string> thumbnail_of(const std::string& file, bool* skipped);
    Outcome call(const std::string& file, const std::optional<std::string>& thumbnail,
                 uint32_t width) const;
    bool report(const std::string& file, const std::optional<std::string>& thumbnail,
                const Outcome& outcome);
    void warn_about_thumbnail(const std::string& file, const Fields& fields) const;

    const Library& lib_;
    const AnalyzeArgs& args_;
    bool json_, overwrite_;
    bool printed_ = false;           // a block was printed: the next one follows a blank line
    std::set<std::string> gallery_;  // thumbnails this run wrote into the directory
};

// The thumbnail's path: --thumbnail's, or DIR/NAME.jpg; a gallery file is never replaced
// unasked, nor one this run made for an earlier file of the same name.
std::optional<std::string> Batch::thumbnail_of(const std::string& file, bool* skipped) {
    *skipped = false;
    if (!args_.thumbnail_dir) return args_.thumbnail;
    const std::string path =
        (fs::u8path(*args_.thumbnail_dir) / fs::u8path(file).stem()).u8string() + ".jpg";
    std::error_code ec;
    const char* why = nullptr;
    if (gallery_.count(path) != 0) {
        why = "made already for another file of that name";
    } else if (fs::exists(fs::symlink_status(fs::u8path(path), ec)) && !overwrite_) {
        why = "exists already (-y replaces it)";
    }
    if (why != nullptr) {
        refuse(path + ": " + why + "; " + file + " skipped", json_, &file);
        *skipped = true;
        return std::nullopt;
    }
    gallery_.insert(path);
    return path;
}

Outcome Batch::call(const std::string& file, const std::optional<std::string>& thumbnail,
                    uint32_t width) const {
    g_outcome = Outcome();
    lib_.analyze_image(file.c_str(), thumbnail ? thumbnail->c_str() : nullptr, width,
                       args_.force ? 1 : 0, keep_outcome);
    return g_outcome;
}

bool Batch::analyze(const std::string& file) {
    std::error_code ec;
    if (fs::is_directory(fs::u8path(file), ec)) {
        refuse(file + ": is a directory (-r analyses the media files below it)", json_, &file);
        return false;
    }
    bool skipped = false;
    const std::optional<std::string> thumbnail = thumbnail_of(file, &skipped);
    if (skipped) return false;
    uint32_t width = args_.width;
    if (thumbnail && args_.fit != 0) {
        // The picture's size first, to work out the width that fits it.
        const Outcome size = call(file, std::nullopt, 0);
        Fields fields;
        if (size.state != STATE_DONE || !parse_flat_object(size.document, &fields) ||
            !is_analysis_result(fields))
            return report(file, std::nullopt, size);
        width = width_to_fit(std::atoll(find(fields, "width")->c_str()),
                             std::atoll(find(fields, "height")->c_str()), args_.fit);
    }
    return report(file, thumbnail, call(file, thumbnail, width));
}

bool Batch::report(const std::string& file, const std::optional<std::string>& thumbnail,
                   const Outcome& outcome) {
    Fields fields;
    const bool parsed = parse_flat_object(outcome.document, &fields);
    if (outcome.state == STATE_DONE && parsed && is_analysis_result(fields)) {
        if (json_) {
            print_json_line(file, outcome, "");
        } else {
            if (printed_) std::printf("\n");
            print_analysis(file, fields);
            printed_ = true;
        }
        std::fflush(stdout);
        if (thumbnail) warn_about_thumbnail(file, fields);
        return true;
    }
    CommandFiles files;
    files.input1 = file;
    files.output = thumbnail.value_or("");
    files.free_bytes = lib_.freesize;
    const std::string message = parsed && find(fields, "errstr") != nullptr
                                    ? failure_text(fields, files)
                                    : file + ": the analysis failed: " + outcome.document;
    std::fprintf(stderr, "orbv: %s\n", message.c_str());
    if (json_) print_json_line(file, outcome, message);
    std::fflush(stdout);
    return false;
}

// The library writes a thumbnail unasked only for its camera's files, and never wider than
// the picture: say so when the result is not what was asked.
void Batch::warn_about_thumbnail(const std::string& file, const Fields& fields) const {
    if (*find(fields, "createdThumbnail") != "true") {
        warn(file + ": no thumbnail written, the file is not the camera's (--force writes it)");
        return;
    }
    const long long width = std::atoll(find(fields, "width")->c_str());
    const long long longer = std::max(width, std::atoll(find(fields, "height")->c_str()));
    if (args_.fit > longer) {
        warn(file + ": the picture's longer side is " + std::to_string(longer) +
             " pixels, less than --fit " + std::to_string(args_.fit) +
             "; the thumbnail has its size");
    } else if (args_.width > width) {
        warn(file + ": the picture is " + std::to_string(width) +
             " pixels wide, less than --width " + std::to_string(args_.width) +
             "; the thumbnail has its size");
    }
}

}  // namespace

uint32_t width_to_fit(int64_t width, int64_t height, uint32_t fit) {
    if (width <= 0 || height <= 0) return fit;
    if (width >= height) return fit;
    // The largest w with height * w / width, rounded down, at most fit.
    const int64_t w = ((int64_t{fit} + 1) * width - 1) / height;
    return static_cast<uint32_t>(std::max<int64_t>(w, 1));
}

int analyze_files(const Library& library, const AnalyzeArgs& args, const Invocation& invocation) {
    if (args.thumbnail_dir) {
        std::error_code ec;
        fs::create_directories(fs::u8path(*args.thumbnail_dir), ec);
        if (!fs::is_directory(fs::u8path(*args.thumbnail_dir), ec)) {
            refuse(*args.thumbnail_dir + ": is no directory and cannot be made", invocation.json);
            return 2;
        }
    }
    const std::vector<std::string> files = expand(args.files, args.recursive);
    ProgressLine progress;
    const bool show = files.size() > kProgressAbove && !invocation.json &&
                      invocation.verbosity != Verbosity::Quiet;
    const bool terminal = stderr_is_terminal();
    if (show) progress.start(static_cast<int64_t>(files.size()), "files");
    Batch batch(library, args, invocation);
    bool all = true;
    for (size_t i = 0; i < files.size(); ++i) {
        if (show) progress.clear();
        all = batch.analyze(files[i]) && all;
        // Off a terminal every tenth file, as an export reports every tenth frame.
        if (show && (terminal || (i + 1) % 10 == 0)) progress.update(static_cast<int64_t>(i + 1));
    }
    if (show) progress.finish(true);
    return all ? 0 : 1;
}

}  // namespace orbv_tool
