#pragma once

#include <string>

#include "util/ffmpeg_ptr.h"

namespace orbv {

// The capture date a container keeps, as "YYYY:MM:DD HH:MM:SS": the local date and time of a
// phone's com.apple.quicktime.creationdate, else the container's creation_time in UTC; "" when
// neither holds a well-formed date.
std::string container_date(const AVFormatContext* container);

}  // namespace orbv
