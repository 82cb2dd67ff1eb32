#pragma once

#include <memory>

extern "C" {
#include <libavutil/frame.h>
}

namespace orbv {

struct FrameRelease {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};

// An AVFrame released with av_frame_free (which also drops its buffer references, if any).
using OwnedFrame = std::unique_ptr<AVFrame, FrameRelease>;

}  // namespace orbv
