#pragma once

#include <cstdint>

#include "util/ffmpeg_ptr.h"

namespace orbv {

// Copies the planes of src into dst transformed by the EXIF orientation: 2 mirrors, 3 turns by
// half, 4 flips upside down, 6 and 8 turn a quarter clockwise and counter-clockwise; other
// values copy. For quarter turns dst must have src's width and height swapped, otherwise the
// same size. No write ever leaves dst's planes.
void orient_frame(const AVFrame* src, AVFrame* dst, int32_t orientation);

// Whether an orientation turns the picture by a quarter (width and height swap).
inline bool is_quarter_turn(int32_t orientation) { return orientation == 6 || orientation == 8; }

}  // namespace orbv
