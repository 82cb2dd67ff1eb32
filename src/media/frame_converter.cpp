#include "media/frame_converter.h"

#include <climits>
#include <cstring>

#include "stitch/bilinear_remap.h"

extern "C" {
#include <libavutil/common.h>
#include <libavutil/error.h>
}

namespace orbv {
namespace {

// The table a plane goes through, or null when it stays as decoded.
const PlaneTable* effective_table(const PlaneLuts& luts, int plane) {
    const PlaneTable& t = luts.planes[plane];
    return t.enabled ? &t : nullptr;
}

bool usable_map(const FixedPointMap& map) {
    const cv::Mat& taps = map.taps;
    return taps.type() == CV_16SC2 && map.fractions.type() == CV_16UC1 && !taps.empty() &&
           taps.size() == map.fractions.size() && taps.rows < SHRT_MAX && taps.cols < SHRT_MAX;
}

// The target's planes as the remap's destinations, or false when the target is not a writable
// 4:2:0 frame of the maps' size: writing into a frame the encoder still holds would change a
// picture it has not encoded yet.
bool target_planes(AVFrame* target, const StitchMaps& maps, cv::Mat out[3]) {
    const cv::Size luma = maps.map.taps.size(), chroma = maps.map_half.taps.size();
    if (target->format != AV_PIX_FMT_YUV420P || target->width != luma.width ||
        target->height != luma.height || AV_CEIL_RSHIFT(luma.width, 1) != chroma.width ||
        AV_CEIL_RSHIFT(luma.height, 1) != chroma.height || av_frame_is_writable(target) == 0)
        return false;
    for (int k = 0; k < 3; ++k) {
        const cv::Size size = k == 0 ? luma : chroma;
        if (target->data[k] == nullptr || target->linesize[k] < size.width) return false;
        out[k] = cv::Mat(size, CV_8UC1, target->data[k], static_cast<size_t>(target->linesize[k]));
    }
    return true;
}

// One lens plane on its way into the canvas: its rows, and the table it goes through (null:
// none).
struct LensPlane {
    const uint8_t* data;
    int step;
    int rows;
    const PlaneTable* table;
};

// Copies row r of the plane into canvas row `to`, through the table when there is one.
void copy_row(const LensPlane& plane, int r, int cols, uint8_t* to) {
    const uint8_t* s = plane.data + static_cast<ptrdiff_t>(r) * plane.step;
    if (plane.table == nullptr) {
        std::memcpy(to, s, static_cast<size_t>(cols));
        return;
    }
    const uint8_t* t = plane.table->table;
    for (int c = 0; c < cols; ++c) to[c] = t[s[c]];
}

// Stacks a plane of both lenses, `cols` bytes wide, in the canvas: the deep copy and the
// colour table of both in one banded pass.
void stack_planes(const LensPlane& top, const LensPlane& bottom, int cols, cv::Mat& canvas,
                  BandPool* pool) {
    run_in_bands(pool, top.rows + bottom.rows, [&](int first_row, int last_row) {
        for (int r = first_row; r < last_row; ++r) {
            uint8_t* to = canvas.ptr<uint8_t>(r);
            if (r < top.rows) {
                copy_row(top, r, cols, to);
            } else {
                copy_row(bottom, r - top.rows, cols, to);
            }
        }
    });
}

}  // namespace

FrameConverter::~FrameConverter() = default;

int32_t FrameConverter::convert_frame(const AVFrame* frame1, const AVFrame* frame2,
                                      const StitchSetup& params, const EncodeStep& encode,
                                      AVFrame* target) {
    const int32_t result = convert(frame1, frame2, params, encode, target);
    return result < 0 ? result : 0;
}

int32_t FrameConverter::convert(const AVFrame* frame1, const AVFrame* frame2,
                                const StitchSetup& params, const EncodeStep& encode,
                                AVFrame* target) {
    if (frame1 == nullptr || frame2 == nullptr) return AVERROR(EINVAL);
    const AVFrame* lens[2] = {frame1, frame2};
    for (int s = 0; s < 2; ++s) {
        const int32_t r = working_.convert(*lens[s], frame1->width, frame1->height, s, &lens[s]);
        if (r < 0) return r;
    }
    PlaneLayout layout[2];
    if (!planar_layout(*lens[0], &layout[0]) || !planar_layout(*lens[1], &layout[1]))
        return AVERROR(EINVAL);
    const StitchMaps& maps = params.maps;
    if (!usable_map(maps.map) || !usable_map(maps.map_half)) return AVERROR(EINVAL);
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
    cv::Mat target_out[3];
    if (target != nullptr && !target_planes(target, maps, target_out)) return AVERROR(EINVAL);
    cv::Mat* out = target != nullptr ? target_out : out_;

    for (int k = 0; k < 3; ++k) {
        prepare_canvas(k, layout[0].cols[k], layout[0].rows[k] + layout[1].rows[k],
                       with_band ? &params.band.planes[k] : nullptr);
        const LensPlane top{lens[0]->data[k], lens[0]->linesize[k], layout[0].rows[k],
                            effective_table(params.luts1, k)};
        const LensPlane bottom{lens[1]->data[k], lens[1]->linesize[k], layout[1].rows[k],
                               effective_table(params.luts2, k)};
        stack_planes(top, bottom, layout[0].cols[k], canvas_[k], &pool_);
    }
    remap_bilinear(canvas_[0], maps.map, out[0], SimdPath::kFast, &pool_);
    if (canvas_[1].size() == canvas_[2].size() && canvas_[1].step[0] == canvas_[2].step[0]) {
        remap_bilinear_pair(canvas_[1], canvas_[2], maps.map_half, out[1], out[2], SimdPath::kFast,
                            &pool_);
    } else {
        remap_bilinear(canvas_[1], maps.map_half, out[1], SimdPath::kFast, &pool_);
        remap_bilinear(canvas_[2], maps.map_half, out[2], SimdPath::kFast, &pool_);
    }
    if (target != nullptr) return encode ? encode(target) : 0;

    PlaneSet stitched;
    stitched.planes = {out_[0], out_[1], out_[2]};
    stitched.valid = 1;
    FramePtr frame = planes_to_frame(stitched);
    if (!frame) return AVERROR(ENOMEM);
    return encode ? encode(frame.get()) : 0;
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
    return bytes + working_.held_bytes();
}

}  // namespace orbv
