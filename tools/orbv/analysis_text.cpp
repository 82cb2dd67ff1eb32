#include "analysis_text.h"

#include <cstdio>

namespace orbv_tool {

namespace {

bool is_absent(const std::string& value) {
    return value.empty() || value == "(null)" || value == "-1";
}

// A still's duration is FFmpeg's one-picture default and its frame count 0: neither is a fact.
bool is_movie_only(const std::string& key) { return key == "duration" || key == "frame_count"; }

}  // namespace

bool is_analysis_result(const Fields& fields) {
    for (const char* key : {"type", "width", "height", "duration", "frame_count", "isTarget"}) {
        if (find(fields, key) == nullptr) return false;
    }
    return true;
}

void print_analysis(const std::string& file, const Fields& fields) {
    const bool still = *find(fields, "type") != "MOVIE";
    std::string length;
    if (!still) {
        length =
            ", " + *find(fields, "duration") + " s, " + *find(fields, "frame_count") + " frames";
    }
    std::printf("%s: %s %s x %s%s, %s\n", file.c_str(), find(fields, "type")->c_str(),
                find(fields, "width")->c_str(), find(fields, "height")->c_str(), length.c_str(),
                *find(fields, "isTarget") == "true" ? "target" : "not a target");
    for (const auto& [key, value] : fields) {
        if (is_absent(value) || (still && is_movie_only(key))) continue;
        // The result's bare words read as yes and no.
        const bool word = value == "true" || value == "false";
        std::printf("  %s: %s\n", key.c_str(),
                    word ? (value == "true" ? "yes" : "no") : value.c_str());
    }
}

}  // namespace orbv_tool
