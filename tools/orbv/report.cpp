#include "report.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "orbv.h"
#include "progress.h"

namespace orbv_tool {

namespace {

bool g_json = false;
int32_t g_final_state = -1;
ProgressBar g_progress;

using Fields = std::vector<std::pair<std::string, std::string>>;

// Reads a flat JSON object of strings, numbers and bare words. False for anything else, such
// as a document cut at its size limit or a message holding a quote; those are shown raw.
bool parse_flat_object(const std::string& text, Fields* fields) {
    size_t i = 0;
    auto expect = [&](char c) {
        if (i < text.size() && text[i] == c) {
            ++i;
            return true;
        }
        return false;
    };
    auto read_string = [&](std::string* out) {
        if (!expect('"')) return false;
        while (i < text.size() && text[i] != '"') {
            if (text[i] == '\\' && i + 1 < text.size()) ++i;
            *out += text[i++];
        }
        return expect('"');
    };
    if (!expect('{')) return false;
    if (expect('}')) return i == text.size();
    do {
        std::string key, value;
        if (!read_string(&key) || !expect(':')) return false;
        if (i < text.size() && text[i] == '"') {
            if (!read_string(&value)) return false;
        } else {
            while (i < text.size() && text[i] != ',' && text[i] != '}') value += text[i++];
            if (value.empty()) return false;
        }
        fields->emplace_back(std::move(key), std::move(value));
    } while (expect(','));
    return expect('}') && i == text.size();
}

const char* state_name(int32_t state) {
    switch (state) {
        case STATE_START:
            return "start";
        case STATE_PROGRESS:
            return "progress";
        case STATE_DONE:
            return "done";
        case STATE_CANCELED:
            return "cancelled";
        case STATE_FAILED:
            return "failed";
        default:
            return "state?";
    }
}

const std::string* find(const Fields& fields, const char* key) {
    for (const auto& [k, v] : fields)
        if (k == key) return &v;
    return nullptr;
}

// The analysis result document, recognised by the fields its headline shows.
bool is_analysis_result(const Fields& fields) {
    for (const char* key : {"type", "width", "height", "duration", "frame_count", "isTarget"}) {
        if (find(fields, key) == nullptr) return false;
    }
    return true;
}

void print_summary(int32_t state, const std::string& document) {
    Fields fields;
    if (!parse_flat_object(document, &fields)) {
        std::printf("%s: %s\n", state_name(state), document.c_str());
        return;
    }
    if (state == STATE_START || state == STATE_PROGRESS) {
        const std::string* count = find(fields, "frame_count");
        const long long frames = count ? std::atoll(count->c_str()) : 0;
        if (state == STATE_START) {
            g_progress.start(frames);
        } else {
            g_progress.update(frames);
        }
        return;
    }
    g_progress.finish();
    // Error documents lead with their code and message, analysis results with what the file
    // is; every field follows, one a line.
    const std::string* errnum = find(fields, "errnum");
    const std::string* errstr = find(fields, "errstr");
    const bool analysis = is_analysis_result(fields);
    if (errnum != nullptr && errstr != nullptr) {
        std::printf("%s: %s %s\n", state_name(state), errnum->c_str(), errstr->c_str());
    } else if (analysis) {
        std::printf("%s: %s %s x %s, %s s, %s frames, %s\n", state_name(state),
                    find(fields, "type")->c_str(), find(fields, "width")->c_str(),
                    find(fields, "height")->c_str(), find(fields, "duration")->c_str(),
                    find(fields, "frame_count")->c_str(),
                    *find(fields, "isTarget") == "true" ? "target" : "not a target");
    } else {
        std::printf("%s\n", state_name(state));
    }
    for (const auto& [key, value] : fields) {
        if (key == "errnum" || key == "errstr") continue;
        // The result's bare words read as yes and no.
        const bool word = analysis && (value == "true" || value == "false");
        std::printf("  %s: %s\n", key.c_str(),
                    word ? (value == "true" ? "yes" : "no") : value.c_str());
    }
}

// One document, one line: line breaks inside (a path may hold them) become JSON escapes.
void print_line(const std::string& document) {
    std::string line;
    for (char c : document) {
        if (c == '\n') {
            line += "\\n";
        } else if (c == '\r') {
            line += "\\r";
        } else {
            line += c;
        }
    }
    std::printf("%s\n", line.c_str());
}

}  // namespace

void set_json_output(bool json) { g_json = json; }

void report_callback(int32_t state, const char* document) {
    if (state >= STATE_DONE) g_final_state = state;
    const std::string text = document != nullptr ? document : "";
    if (g_json) {
        print_line(text);
    } else {
        print_summary(state, text);
    }
    std::fflush(stdout);
}

int32_t final_state() { return g_final_state; }

}  // namespace orbv_tool
