#pragma once

#include <string>

// Dates in ISO 8601 as containers keep them, turned into the camera's "YYYY:MM:DD HH:MM:SS".
// Accepted: "YYYY-MM-DDTHH:MM:SS", an optional fraction of a second (".ddd"), then an optional
// zone: "Z", "+HH:MM", "+HHMM" or "+HH" (or with '-'). Anything else, or a day or time that
// does not exist, gives "".
namespace orbv {

// The date and time as written, in the zone they were taken in; the zone, when there is one,
// must be well formed but changes nothing.
std::string camera_date_as_written(const char* text);

// The moment in UTC. A text without a zone names no moment and gives "".
std::string camera_date_in_utc(const char* text);

}  // namespace orbv
