#include "media/frame_planes.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace orbv {

bool planar_layout(const AVFrame& frame, PlaneLayout* layout) {
    const int width = frame.width, height = frame.height;
    const PlaneLayout l{{height, height / 2, height / 2}, {width, width / 2, width / 2}};
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format));
    if (desc == nullptr || (desc->flags & (AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BITSTREAM)) ||
        av_pix_fmt_count_planes(static_cast<AVPixelFormat>(frame.format)) < 3 ||
        desc->log2_chroma_w > 1 || desc->log2_chroma_h > 1)
        return false;
    for (int k = 0; k < 3; ++k) {
        if (l.rows[k] <= 0 || l.cols[k] <= 0 || frame.data[k] == nullptr ||
            frame.linesize[k] < l.cols[k])
            return false;
    }
    *layout = l;
    return true;
}

PlaneSet frame_to_planes(const AVFrame* frame) {
    PlaneSet set;
    PlaneLayout l;
    if (frame == nullptr || !planar_layout(*frame, &l)) return set;
    for (int k = 0; k < 3; ++k) {
        const cv::Mat view(l.rows[k], l.cols[k], CV_8UC1, frame->data[k],
                           static_cast<size_t>(frame->linesize[k]));
        set.planes.push_back(view.clone());
    }
    set.valid = 1;
    return set;
}

FramePtr planes_to_frame(const PlaneSet& set) {
    if (set.planes.size() < 3) return nullptr;
    for (int k = 0; k < 3; ++k) {
        if (set.planes[k].type() != CV_8UC1 || set.planes[k].empty()) return nullptr;
    }
    FramePtr frame(av_frame_alloc());
    if (!frame) return nullptr;
    frame->width = set.planes[0].cols;
    frame->height = set.planes[0].rows;
    frame->format = AV_PIX_FMT_YUV420P;
    for (int k = 0; k < 3; ++k) {
        frame->data[k] = set.planes[k].data;
        frame->linesize[k] = static_cast<int>(set.planes[k].step[0]);
    }
    return frame;
}

}  // namespace orbv
