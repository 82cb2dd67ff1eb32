#include "report.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "flat_json.h"
#include "orbv.h"
#include "progress.h"

namespace orbv_tool {

namespace {

ReportOptions g_options;
int32_t g_final_state = -1;
ProgressLine g_progress;

// The analysis result document, recognised by the fields its headline shows.
bool is_analysis_result(const Fields& fields) {
    for (const char* key : {"type", "width", "height", "duration", "frame_count", "isTarget"}) {
        if (find(fields, key) == nullptr) return false;
    }
    return true;
}

// A headline of what the file is, then every field, one a line.
void print_analysis(const Fields& fields) {
    std::printf("done: %s %s x %s, %s s, %s frames, %s\n", find(fields, "type")->c_str(),
                find(fields, "width")->c_str(), find(fields, "height")->c_str(),
                find(fields, "duration")->c_str(), find(fields, "frame_count")->c_str(),
                *find(fields, "isTarget") == "true" ? "target" : "not a target");
    for (const auto& [key, value] : fields) {
        // The result's bare words read as yes and no.
        const bool word = value == "true" || value == "false";
        std::printf("  %s: %s\n", key.c_str(),
                    word ? (value == "true" ? "yes" : "no") : value.c_str());
    }
}

// "orbv: FILE: WHAT HAPPENED (ERRNUM ERRSTR: DETAIL)" on standard error; a document that
// cannot be read is shown whole.
void print_failure(int32_t state, const std::string& document) {
    const char* command = g_options.command;
    if (state == STATE_CANCELED) {
        std::fprintf(stderr, "orbv: %s cancelled\n", command);
        return;
    }
    Fields fields;
    if (!parse_flat_object(document, &fields) || find(fields, "errstr") == nullptr) {
        std::fprintf(stderr, "orbv: %s failed: %s\n", command, document.c_str());
        return;
    }
    std::fprintf(stderr, "orbv: %s\n", failure_text(fields, g_options.files).c_str());
}

// The library writes a thumbnail unasked only for its camera's files; say so when it did not.
void warn_unwritten_thumbnail(const Fields& fields) {
    const std::string* created = find(fields, "createdThumbnail");
    if (g_options.files.output.empty() || created == nullptr || *created != "false") return;
    std::fprintf(stderr,
                 "orbv: warning: %s: no thumbnail written, the file is not the camera's "
                 "(--force writes it)\n",
                 g_options.files.input1.c_str());
}

void show_progress(int32_t state, const std::string& document) {
    Fields fields;
    const std::string* count = nullptr;
    if (parse_flat_object(document, &fields)) count = find(fields, "frame_count");
    const long long n = count ? std::atoll(count->c_str()) : 0;
    if (state == STATE_START) {
        g_progress.start(n, g_options.unit);
    } else {
        g_progress.update(n);
    }
}

// {"state":N,"document":{...}}. A document that is no JSON object (one cut at its size limit)
// goes in as a string, so that the line stays JSON.
void print_json(int32_t state, const std::string& document) {
    Fields fields;
    if (parse_flat_object(document, &fields)) {
        std::printf("{\"state\":%d,\"document\":%s}\n", state, document.c_str());
        return;
    }
    std::string quoted;
    for (const char c : document) {
        char code[8] = {c, '\0'};
        if (static_cast<unsigned char>(c) < 0x20) std::snprintf(code, sizeof(code), "\\u%04x", c);
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += code;
    }
    std::printf("{\"state\":%d,\"document\":\"%s\"}\n", state, quoted.c_str());
}

}  // namespace

void set_report_options(const ReportOptions& options) { g_options = options; }

void note_window(const std::string& note) { g_options.files.window_note = note; }

void report_callback(int32_t state, const char* document) {
    const std::string text = document != nullptr ? document : "";
    if (state >= STATE_DONE) {
        g_final_state = state;
        g_progress.finish(state == STATE_DONE);
    }
    if (g_options.json) {
        print_json(state, text);
    } else if (state == STATE_START || state == STATE_PROGRESS) {
        if (g_options.progress) show_progress(state, text);
    }
    Fields fields;
    if (state == STATE_DONE && parse_flat_object(text, &fields) && is_analysis_result(fields)) {
        if (!g_options.json) print_analysis(fields);
        warn_unwritten_thumbnail(fields);
    }
    if (state > STATE_DONE) print_failure(state, text);
    std::fflush(stdout);
}

int32_t final_state() { return g_final_state; }

}  // namespace orbv_tool
