#pragma once

#include "stitch/plane_set.h"
#include "util/ffmpeg_ptr.h"

namespace orbv {

// The rows and columns of a frame's Y, U and V planes read as planar 4:2:0: the chroma
// planes are half the luma size, truncated.
struct PlaneLayout {
    int rows[3];
    int cols[3];
};

// Whether `frame` holds three planes that can be read as planar 4:2:0 without reading past
// its buffers: non-empty, three plane pointers, strides at least a row wide, and a pixel
// format with at least three planes whose chroma is subsampled by at most two. Packed,
// two-plane and more coarsely subsampled frames do not.
bool planar_layout(const AVFrame& frame, PlaneLayout* layout);

// Deep, continuous copies of the frame's three planes; an invalid, empty set when the frame
// does not split (see planar_layout). The frame stays the caller's.
PlaneSet frame_to_planes(const AVFrame* frame);

// A new 4:2:0 frame whose planes point into the set's buffers and own none of them; the set
// must outlive the frame's use. Null when the set does not hold three 8-bit planes or the
// frame cannot be allocated.
FramePtr planes_to_frame(const PlaneSet& set);

}  // namespace orbv
