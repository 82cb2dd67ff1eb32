#include "media/range_scaler.h"

extern "C" {
#include <libavutil/opt.h>
}

namespace orbv {

AVPixelFormat without_jpeg_range(int format) {
    switch (format) {
        case AV_PIX_FMT_YUVJ420P:
            return AV_PIX_FMT_YUV420P;
        case AV_PIX_FMT_YUVJ422P:
            return AV_PIX_FMT_YUV422P;
        case AV_PIX_FMT_YUVJ444P:
            return AV_PIX_FMT_YUV444P;
        case AV_PIX_FMT_YUVJ440P:
            return AV_PIX_FMT_YUV440P;
        case AV_PIX_FMT_YUVJ411P:
            return AV_PIX_FMT_YUV411P;
        default:
            return static_cast<AVPixelFormat>(format);
    }
}

SwsContext* new_range_scaler(const ScalerSide& from, const ScalerSide& to) {
    SwsContext* s = sws_alloc_context();
    if (s == nullptr) return nullptr;
    av_opt_set_int(s, "srcw", from.width, 0);
    av_opt_set_int(s, "srch", from.height, 0);
    av_opt_set_int(s, "src_format", without_jpeg_range(from.format), 0);
    av_opt_set_int(s, "src_range", from.full ? 1 : 0, 0);
    av_opt_set_int(s, "dstw", to.width, 0);
    av_opt_set_int(s, "dsth", to.height, 0);
    av_opt_set_int(s, "dst_format", without_jpeg_range(to.format), 0);
    av_opt_set_int(s, "dst_range", to.full ? 1 : 0, 0);
    av_opt_set_int(s, "sws_flags", SWS_BICUBIC, 0);
    if (sws_init_context(s, nullptr, nullptr) < 0) {
        sws_freeContext(s);
        return nullptr;
    }
    return s;
}

}  // namespace orbv
