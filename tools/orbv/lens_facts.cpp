#include "lens_facts.h"

#include <cstdlib>

#include "flat_json.h"
#include "orbv.h"
#include "system_calls.h"

namespace orbv_tool {

namespace {

// The callback carries no user pointer: the last result document waits here.
std::string g_result;

void keep_result(int32_t state, const char* document) {
    if (state == STATE_DONE && document != nullptr) g_result = document;
}

}  // namespace

LensFacts lens_facts(const Library& library, const std::string& path) {
    LensFacts facts;
    g_result.clear();
    // The export analyses the file again and logs what it finds; once is enough.
    const char* setting = std::getenv("ORBV_LOG");
    const std::string saved = setting != nullptr ? setting : "";
    set_environment("ORBV_LOG", "none", true);
    library.analyze_image(path.c_str(), nullptr, 0, 0, keep_result);
    if (setting != nullptr) {
        set_environment("ORBV_LOG", saved.c_str(), true);
    } else {
        unset_environment("ORBV_LOG");
    }
    Fields fields;
    if (!parse_flat_object(g_result, &fields)) return facts;
    const std::string* duration = find(fields, "duration");
    const std::string* frames = find(fields, "frame_count");
    const std::string* datetime = find(fields, "datetime");
    if (duration == nullptr || frames == nullptr) return facts;
    facts.analysed = true;
    facts.duration = std::atof(duration->c_str());
    facts.frames = std::atoll(frames->c_str());
    const std::string* type = find(fields, "type");
    facts.still = type != nullptr && *type == "JPEG";
    // An absent date reads "(null)", the C runtime's rendering of a null text.
    if (datetime != nullptr && *datetime != "(null)") facts.datetime = *datetime;
    return facts;
}

}  // namespace orbv_tool
