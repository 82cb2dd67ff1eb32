#pragma once

#include "util/ffmpeg_ptr.h"

namespace orbv {

// One end of a scaler: the picture's size, its format and whether its samples span 0..255
// (full, JPEG) rather than 16..235 (limited).
struct ScalerSide {
    int width;
    int height;
    int format;
    bool full;
};

// FFmpeg's formats that say full range by their name (yuvj*), and the same layout without it.
AVPixelFormat without_jpeg_range(int format);

// A bicubic scaler between two pictures. The ranges are stated before the scaler is made (one
// made without them copies a picture of the output's size and layout unchanged, whatever it is
// told later), and a yuvj* format reaches swscale as its plain twin: swscale reads it the same,
// with no warning about a deprecated format. Grey stays full range, as swscale reads it. Null
// when swscale cannot convert between the two.
SwsContext* new_range_scaler(const ScalerSide& from, const ScalerSide& to);
// The range a format names: full for yuvj*, else limited (grey aside, see above).
inline bool named_full_range(int format) { return without_jpeg_range(format) != format; }

}  // namespace orbv
