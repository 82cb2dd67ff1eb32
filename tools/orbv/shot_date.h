#pragma once

#include <string>

namespace orbv_tool {

// True when `text` is a calendar date and time in the camera's form "YYYY:MM:DD HH:MM:SS",
// by the same rule the library applies.
bool is_calendar_date(const std::string& text);

// The date of a shot, in the camera's form and in UTC (the camera keeps no zone): the first
// lens's own date as its analysis read it, else its container's creation time, else now.
std::string shot_date(const std::string& analysed_date, const std::string& lens1);

}  // namespace orbv_tool
