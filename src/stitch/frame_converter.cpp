#include "stitch/frame_converter.h"

#include <climits>
#include <cstring>

#include "stitch/bilinear_remap.h"

extern "C" {
#include <libavutil/error.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace orbv {
namespace {

bool is_422(int format) { return format == AV_PIX_FMT_YUV422P || format == AV_PIX_FMT_YUVJ422P; }

bool is_identity(const PlaneTable& t) {
    for (int i = 0; i < 256; ++i) {
        if (t.table[i] != i) return false;
    }
    return true;
}

// The table a plane goes through, or null when it stays as decoded.
const PlaneTable* effective_table(const PlaneLuts& luts, int plane) {
    const PlaneTable& t = luts.planes[plane];
    return t.enabled && !is_identity(t) ? &t : nullptr;
}

bool usable_map_pair(const cv::Mat& x, const cv::Mat& y) {
    return x.type() == CV_32FC1 && y.type() == CV_32FC1 && !x.empty() && x.size() == y.size() &&
           x.rows < SHRT_MAX && x.cols < SHRT_MAX;
}

// Copies a plane of `rows` x `cols` bytes into the canvas rows from `first`, through the
// table when there is one: the deep copy and the colour table in one pass.
void copy_plane(const uint8_t* src, int src_step, int rows, int cols, cv::Mat& canvas, int first,
                const PlaneTable* table) {
    for (int r = 0; r < rows; ++r) {
        const uint8_t* s = src + static_cast<ptrdiff_t>(r) * src_step;
        uint8_t* d = canvas.ptr<uint8_t>(first + r);
        if (table == nullptr) {
            std::memcpy(d, s, static_cast<size_t>(cols));
        } else {
            const uint8_t* t = table->table;
            for (int c = 0; c < cols; ++c) d[c] = t[s[c]];
        }
    }
}

}  // namespace

FrameConverter::~FrameConverter() { sws_freeContext(scaler_); }

int32_t FrameConverter::convert_frame(const AVFrame* frame1, const AVFrame* frame2,
                                      const ExportParams& params, const EncodeStep& encode) {
    const int32_t result = convert(frame1, frame2, params, encode);
    errnum = result;
    return result < 0 ? result : 0;
}

int32_t FrameConverter::convert(const AVFrame* frame1, const AVFrame* frame2,
                                const ExportParams& params, const EncodeStep& encode) {
    if (frame1 == nullptr || frame2 == nullptr) return AVERROR(EINVAL);
    const AVFrame* lens[2] = {frame1, frame2};
    for (int s = 0; s < 2; ++s) {
        if (!is_422(lens[s]->format)) continue;
        const int32_t r = to_420(*lens[s], frame1->width, frame1->height, s);
        if (r < 0) return r;
        lens[s] = converted_[s].get();
    }
    PlaneLayout layout[2];
    if (!planar_layout(*lens[0], &layout[0]) || !planar_layout(*lens[1], &layout[1]))
        return AVERROR(EINVAL);
    const StitchMaps& maps = params.maps;
    if (!usable_map_pair(maps.map_x, maps.map_y) ||
        !usable_map_pair(maps.map_x_half, maps.map_y_half))
        return AVERROR(EINVAL);
    const bool with_band = params.band.valid != 0 && params.band.planes.size() == 3;
    for (int k = 0; k < 3; ++k) {
        const cv::Mat* band = with_band ? &params.band.planes[k] : nullptr;
        const int width = layout[0].cols[k];
        const int lens_rows = layout[0].rows[k] + layout[1].rows[k];
        if (layout[1].cols[k] != width || width >= SHRT_MAX) return AVERROR(EINVAL);
        if (band != nullptr &&
            (band->type() != CV_8UC1 || band->cols != width || band->rows >= SHRT_MAX))
            return AVERROR(EINVAL);
        if (lens_rows + (band != nullptr ? band->rows : 0) >= SHRT_MAX) return AVERROR(EINVAL);
    }

    for (int k = 0; k < 3; ++k) {
        prepare_canvas(k, layout[0].cols[k], layout[0].rows[k] + layout[1].rows[k],
                       with_band ? &params.band.planes[k] : nullptr);
        copy_plane(lens[0]->data[k], lens[0]->linesize[k], layout[0].rows[k], layout[0].cols[k],
                   canvas_[k], 0, effective_table(params.luts1, k));
        copy_plane(lens[1]->data[k], lens[1]->linesize[k], layout[1].rows[k], layout[1].cols[k],
                   canvas_[k], layout[0].rows[k], effective_table(params.luts2, k));
    }
    remap_bilinear(canvas_[0], maps.map_x, maps.map_y, out_[0]);
    if (canvas_[1].size() == canvas_[2].size() && canvas_[1].step[0] == canvas_[2].step[0]) {
        remap_bilinear_pair(canvas_[1], canvas_[2], maps.map_x_half, maps.map_y_half, out_[1],
                            out_[2]);
    } else {
        remap_bilinear(canvas_[1], maps.map_x_half, maps.map_y_half, out_[1]);
        remap_bilinear(canvas_[2], maps.map_x_half, maps.map_y_half, out_[2]);
    }

    PlaneSet stitched;
    stitched.planes = {out_[0], out_[1], out_[2]};
    stitched.valid = 1;
    FramePtr frame = planes_to_frame(stitched);
    if (!frame) return AVERROR(ENOMEM);
    return encode ? encode(frame.get()) : 0;
}

// The 4:2:0 copy of a 4:2:2 frame, at the given size, in the slot's kept frame. The samples
// are read as limited-range 4:2:2 whatever the frame says, so full-range pictures keep their
// values; only the chroma rows are halved.
int32_t FrameConverter::to_420(const AVFrame& in, int width, int height, int slot) {
    if (in.width <= 0 || in.height <= 0 || in.data[0] == nullptr || in.data[1] == nullptr ||
        in.data[2] == nullptr || in.linesize[0] < in.width || in.linesize[1] < (in.width + 1) / 2 ||
        in.linesize[2] < (in.width + 1) / 2)
        return AVERROR(EINVAL);
    FramePtr& out = converted_[slot];
    if (!out || out->width != width || out->height != height) {
        out.reset(av_frame_alloc());
        if (!out) return AVERROR(ENOMEM);
        out->width = width;
        out->height = height;
        out->format = AV_PIX_FMT_YUV420P;
        const int r = av_frame_get_buffer(out.get(), 32);
        if (r < 0) {
            out.reset();
            return r;
        }
    }
    scaler_ = sws_getCachedContext(scaler_, in.width, in.height, AV_PIX_FMT_YUV422P, width, height,
                                   AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (scaler_ == nullptr) return AVERROR(EINVAL);
    sws_scale(scaler_, in.data, in.linesize, 0, in.height, out->data, out->linesize);
    return 0;
}

void FrameConverter::prepare_canvas(int plane, int width, int lens_rows, const cv::Mat* band) {
    cv::Mat& canvas = canvas_[plane];
    const int rows = lens_rows + (band != nullptr ? band->rows : 0);
    if (canvas.rows != rows || canvas.cols != width) {
        canvas.create(rows, width, CV_8UC1);
        band_row_[plane] = -1;
    }
    if (band == nullptr) {
        canvas_band_[plane].release();
        band_row_[plane] = -1;
        return;
    }
    // The band never changes during an export; it is copied again only when another band
    // arrives or the lens planes moved it.
    if (band_row_[plane] != lens_rows || canvas_band_[plane].data != band->data ||
        canvas_band_[plane].size() != band->size() ||
        canvas_band_[plane].step[0] != band->step[0]) {
        cv::Mat below = canvas.rowRange(lens_rows, rows);
        band->copyTo(below);
        canvas_band_[plane] = *band;
        band_row_[plane] = lens_rows;
    }
}

size_t FrameConverter::held_bytes() const {
    size_t bytes = 0;
    for (int k = 0; k < 3; ++k) bytes += canvas_[k].total() + out_[k].total();
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
