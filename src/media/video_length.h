#pragma once

#include <cstdint>

#include "util/ffmpeg_ptr.h"

namespace orbv {

// How long a movie's video stream is as players show it.
struct VideoLength {
    double seconds = -1.0;  // -1 when neither the stream nor the container states it
    int64_t frames = 0;     // 0 when unknown
};

// The length of an opened movie's video stream: its duration, else the container's; the
// pictures left once an edit list has cut the stream, else the container's frame count, else
// as many pictures as the frame rate gives over the duration (fragmented MP4, Matroska).
VideoLength movie_length(const AVFormatContext* container, AVStream* video);

}  // namespace orbv
