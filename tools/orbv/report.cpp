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
bool g_refused_options = false;

// "FILE: WHAT HAPPENED (ERRNUM ERRSTR: DETAIL)"; a document that cannot be read is shown whole.
std::string failure_line(int32_t state, const std::string& document) {
    const std::string command = g_options.command;
    if (state == STATE_CANCELED) return command + " cancelled";
    Fields fields;
    if (!parse_flat_object(document, &fields) || find(fields, "errstr") == nullptr)
        return command + " failed: " + document;
    g_refused_options = refuses_options(fields);
    return failure_text(fields, g_options.files);
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

// {"state":N,"document":{...}}, with the failure line as "message". A document that is no
// JSON object (one cut at its size limit) goes in as a string, so that the line stays JSON.
void print_json(int32_t state, const std::string& document, const std::string& message) {
    Fields fields;
    const std::string value =
        parse_flat_object(document, &fields) ? document : json_quote(document);
    const std::string tail = message.empty() ? "" : ",\"message\":" + json_quote(message);
    std::printf("{\"state\":%d,\"document\":%s%s}\n", state, value.c_str(), tail.c_str());
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
    const std::string failure = state > STATE_DONE ? failure_line(state, text) : "";
    if (g_options.json) {
        print_json(state, text, failure);
    } else if (state == STATE_START || state == STATE_PROGRESS) {
        if (g_options.progress) show_progress(state, text);
    }
    if (!failure.empty()) std::fprintf(stderr, "orbv: %s\n", failure.c_str());
    std::fflush(stdout);
}

int32_t final_state() { return g_final_state; }

bool refused_options() { return g_refused_options; }

}  // namespace orbv_tool
