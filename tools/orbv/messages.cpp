#include "messages.h"

#include <cstdio>

#include "flat_json.h"

namespace orbv_tool {

void refuse(const std::string& text, bool json, const std::string* file) {
    std::fprintf(stderr, "orbv: %s\n", text.c_str());
    if (!json) return;
    const std::string named = file ? "\"file\":" + json_quote(*file) + "," : "";
    std::printf("{%s\"state\":4,\"message\":%s}\n", named.c_str(), json_quote(text).c_str());
    std::fflush(stdout);
}

void warn(const std::string& text) { std::fprintf(stderr, "orbv: warning: %s\n", text.c_str()); }

}  // namespace orbv_tool
