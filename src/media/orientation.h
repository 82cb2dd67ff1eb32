#pragma once

#include <cstdint>

#include "util/ffmpeg_ptr.h"

namespace orbv {

// Copies the planes of src into dst transformed by the EXIF orientation: 2 mirrors, 3 turns by
// half, 4 flips upside down, 5 transposes, 6 and 8 turn a quarter clockwise and
// counter-clockwise, 7 transposes across the other diagonal; other values copy. For 5 to 8 dst
// must have src's width and height swapped, otherwise the same size. No write ever leaves
// dst's planes.
void orient_frame(const AVFrame* src, AVFrame* dst, int32_t orientation);

// Whether an orientation swaps width and height.
inline bool is_quarter_turn(int32_t orientation) { return orientation >= 5 && orientation <= 8; }

// The EXIF orientation that stands a picture of the stream up as players show it, from the
// display matrix of the stream (turns of 90, 180 or 270 degrees); -1 when there is none.
int32_t display_orientation(const AVStream* stream);

}  // namespace orbv
