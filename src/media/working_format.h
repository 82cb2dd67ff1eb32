#pragma once

#include <cstddef>
#include <cstdint>

#include "util/ffmpeg_ptr.h"

struct SwsContext;

namespace orbv {

// The stitch reads every lens picture as 8-bit planar 4:2:0. This turns a decoded picture of
// any other format FFmpeg decodes (more bits, 4:4:4, 4:4:0, 4:1:1, grey, RGB, the decoder's
// YUV for CMYK) into that, in the range of the output. 8-bit 4:2:0 pictures in that range are
// used as they are and 8-bit 4:2:2 ones only have their chroma rows halved, as always.
class WorkingFormat {
  public:
    WorkingFormat() = default;
    ~WorkingFormat();
    WorkingFormat(const WorkingFormat&) = delete;
    WorkingFormat& operator=(const WorkingFormat&) = delete;

    // The range the output stores: AVCOL_RANGE_MPEG for H.264 movies, AVCOL_RANGE_JPEG for
    // JPEG stills. Unspecified (the default) keeps every picture's samples in its own range.
    void set_range(int range) { range_ = range; }

    // The picture of lens `slot` (0 or 1) at width x height in the working format: `in`
    // itself, or a copy the object keeps until the slot's next call. 0, or a negative code
    // when the picture has no planes to read or cannot be converted.
    int32_t convert(const AVFrame& in, int width, int height, int slot, const AVFrame** out);

    // Bytes of the kept copies.
    size_t held_bytes() const;

  private:
    // What a lens's scaler was made for.
    struct ScalerKey {
        int width, height, format;
        bool from_full;
        int out_width, out_height;
        bool to_full;
        bool operator==(const ScalerKey& o) const {
            return width == o.width && height == o.height && format == o.format &&
                   from_full == o.from_full && out_width == o.out_width &&
                   out_height == o.out_height && to_full == o.to_full;
        }
    };
    int32_t kept_frame(int slot, int width, int height);
    SwsContext* scaler(int slot, const AVFrame& in, bool from_full, int width, int height,
                       bool to_full);

    int range_ = 0;  // AVCOL_RANGE_UNSPECIFIED
    FramePtr converted_[2];
    SwsContext* halver_ = nullptr;  // 4:2:2 to 4:2:0, shared by both lenses
    SwsContext* scalers_[2] = {nullptr, nullptr};
    ScalerKey keys_[2] = {};
};

}  // namespace orbv
