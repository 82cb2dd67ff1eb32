#pragma once

#include <string>

namespace orbv {

// The camera's date text "YYYY:MM:DD HH:MM:SS" as ISO 8601 UTC with microseconds
// ("YYYY-MM-DDTHH:MM:SS.000000Z", the form FFmpeg's muxers read), or "" when the text is not a
// calendar date and time of that form. The camera keeps no time zone, so the text is taken as
// UTC.
std::string camera_date_iso8601(const char* text);

}  // namespace orbv
