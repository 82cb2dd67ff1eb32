#pragma once

#include <cstdint>
#include <string>

namespace orbv {

// The camera's date text "YYYY:MM:DD HH:MM:SS" as seconds since 1970-01-01 00:00:00 UTC; false
// when the text is not a calendar date and time of that form. The camera keeps no time zone, so
// the text is taken as UTC.
bool camera_date_seconds(const char* text, int64_t* seconds);

// Seconds since 1970-01-01 00:00:00 UTC as the camera's date text; "" outside years 0..9999.
std::string camera_date_from_seconds(int64_t seconds);

// The same date as ISO 8601 UTC with microseconds ("YYYY-MM-DDTHH:MM:SS.000000Z", the form
// FFmpeg's muxers read), or "" when the text is no date.
std::string camera_date_iso8601(const char* text);

}  // namespace orbv
