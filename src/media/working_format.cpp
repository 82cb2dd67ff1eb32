#include "media/working_format.h"

#include "media/range_scaler.h"

extern "C" {
#include <libavutil/error.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace orbv {
namespace {

// The picture's own word on its range, else its format's: the JPEG formats and grey (as a
// JPEG decodes it) are full range, as swscale reads them.
bool full_range(const AVFrame& f, const AVPixFmtDescriptor& d) {
    if (f.color_range != AVCOL_RANGE_UNSPECIFIED) return f.color_range == AVCOL_RANGE_JPEG;
    return without_jpeg_range(f.format) != f.format ||
           (d.nb_components <= 2 && !(d.flags & AV_PIX_FMT_FLAG_PAL));
}

// Y, U and V as three planes of 8-bit samples, one after the other.
bool planar_8bit_yuv(const AVPixFmtDescriptor& d) {
    if (d.flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_HWACCEL |
                   AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_FLOAT) ||
        d.nb_components < 3)
        return false;
    for (int k = 0; k < 3; ++k) {
        if (d.comp[k].plane != k || d.comp[k].depth != 8 || d.comp[k].step != 1) return false;
    }
    return true;
}

// Whether swscale can read the picture's planes without reading past them.
bool readable(const AVFrame& f, const AVPixFmtDescriptor& d) {
    int need[4];
    if (f.width <= 0 || f.height <= 0 ||
        (d.flags & (AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BITSTREAM)) ||
        av_image_fill_linesizes(need, static_cast<AVPixelFormat>(f.format), f.width) < 0)
        return false;
    for (int k = 0; k < av_pix_fmt_count_planes(static_cast<AVPixelFormat>(f.format)); ++k) {
        if (f.data[k] == nullptr || f.linesize[k] < need[k]) return false;
    }
    return !(d.flags & AV_PIX_FMT_FLAG_PAL) || f.data[1] != nullptr;
}

}  // namespace

WorkingFormat::~WorkingFormat() {
    sws_freeContext(halver_);
    for (SwsContext* s : scalers_) sws_freeContext(s);
}

int32_t WorkingFormat::convert(const AVFrame& in, int width, int height, int slot,
                               const AVFrame** out) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(in.format));
    if (d == nullptr || slot < 0 || slot > 1) return AVERROR(EINVAL);
    const bool full = full_range(in, *d);
    const bool in_range = range_ == AVCOL_RANGE_UNSPECIFIED || full == (range_ == AVCOL_RANGE_JPEG);
    if (in_range && planar_8bit_yuv(*d) && d->log2_chroma_w == 1 && d->log2_chroma_h == 1) {
        *out = &in;
        return 0;
    }
    if (!readable(in, *d)) return AVERROR(EINVAL);
    const int32_t ret = kept_frame(slot, width, height);
    if (ret < 0) return ret;
    AVFrame* copy = converted_[slot].get();
    int rows;
    if (in_range && (in.format == AV_PIX_FMT_YUV422P || in.format == AV_PIX_FMT_YUVJ422P)) {
        // Read as limited-range 4:2:2 whatever the picture says, so the samples keep their
        // values; only the chroma rows are halved.
        halver_ =
            sws_getCachedContext(halver_, in.width, in.height, AV_PIX_FMT_YUV422P, width, height,
                                 AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr);
        if (halver_ == nullptr) return AVERROR(EINVAL);
        rows = sws_scale(halver_, in.data, in.linesize, 0, in.height, copy->data, copy->linesize);
    } else {
        const bool to_full = range_ == AVCOL_RANGE_UNSPECIFIED ? full : range_ == AVCOL_RANGE_JPEG;
        SwsContext* s = scaler(slot, in, full, width, height, to_full);
        if (s == nullptr) return AVERROR(EINVAL);
        rows = sws_scale(s, in.data, in.linesize, 0, in.height, copy->data, copy->linesize);
    }
    // A scaler that wrote no row may say so with 0 alone.
    if (rows <= 0) return rows < 0 ? rows : AVERROR_EXTERNAL;
    *out = copy;
    return 0;
}

// The ranges are set before the scaler is made: a scaler made without them copies a picture of
// the output's size and layout unchanged, whatever ranges it is told later. RGB becomes YUV by
// swscale's default matrix, the one JPEG uses.
SwsContext* WorkingFormat::scaler(int slot, const AVFrame& in, bool from_full, int width,
                                  int height, bool to_full) {
    const ScalerKey key{in.width, in.height, in.format, from_full, width, height, to_full};
    if (scalers_[slot] != nullptr && key == keys_[slot]) return scalers_[slot];
    sws_freeContext(scalers_[slot]);
    scalers_[slot] = new_range_scaler({in.width, in.height, in.format, from_full},
                                      {width, height, AV_PIX_FMT_YUV420P, to_full});
    return scalers_[slot];
}

int32_t WorkingFormat::kept_frame(int slot, int width, int height) {
    FramePtr& kept = converted_[slot];
    if (kept && kept->width == width && kept->height == height) return 0;
    kept.reset(av_frame_alloc());
    if (!kept) return AVERROR(ENOMEM);
    kept->width = width;
    kept->height = height;
    kept->format = AV_PIX_FMT_YUV420P;
    const int r = av_frame_get_buffer(kept.get(), 32);
    if (r < 0) kept.reset();
    return r;
}

size_t WorkingFormat::held_bytes() const {
    size_t bytes = 0;
    for (const FramePtr& f : converted_) {
        if (f) {
            const int size = av_image_get_buffer_size(static_cast<AVPixelFormat>(f->format),
                                                      f->width, f->height, 32);
            if (size > 0) bytes += static_cast<size_t>(size);
        }
    }
    return bytes;
}

}  // namespace orbv
