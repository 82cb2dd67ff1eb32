// Pictures turned upright for the EXIF orientation of their source.
#include "media/orientation.h"

#include <algorithm>
#include <cmath>
#include <cstring>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/pixdesc.h>
}

namespace orbv {

namespace {

struct PlaneGeometry {
    int width;   // in pixels
    int height;  // in rows
    int pixel;   // bytes per pixel
};

// Chroma planes of subsampled formats are the rounded-up fraction of the picture, as FFmpeg
// allocates them, so that odd sizes keep their last column and row.
PlaneGeometry plane_geometry(const AVPixFmtDescriptor* desc, const AVFrame* frame, int plane) {
    PlaneGeometry g{frame->width, frame->height, 1};
    const bool chroma = (plane == 1 || plane == 2) && !(desc->flags & AV_PIX_FMT_FLAG_RGB);
    if (chroma) {
        g.width = AV_CEIL_RSHIFT(frame->width, desc->log2_chroma_w);
        g.height = AV_CEIL_RSHIFT(frame->height, desc->log2_chroma_h);
    }
    for (int c = 0; c < desc->nb_components; ++c) {
        if (desc->comp[c].plane == plane) g.pixel = std::max(g.pixel, desc->comp[c].step);
    }
    return g;
}

// One plane of src into dst, turned by `mode` (1 to 8).
void orient_plane(const AVPixFmtDescriptor* desc, const AVFrame* src, AVFrame* dst, int p,
                  int mode) {
    const PlaneGeometry s = plane_geometry(desc, src, p);
    const PlaneGeometry d = plane_geometry(desc, dst, p);
    const int ps = s.pixel;
    const uint8_t* S = src->data[p];
    uint8_t* D = dst->data[p];
    const int ss = src->linesize[p];
    const int ds = dst->linesize[p];
    // Every write is checked against the destination plane, so a frame of the wrong size or a
    // format whose planes do not turn evenly is never written past its end.
    auto put = [&](int r, int x, int dr, int dc) {
        if (dr < 0 || dr >= d.height || dc < 0 || dc >= d.width) return;
        if (ps == 1) {
            D[static_cast<ptrdiff_t>(dr) * ds + dc] = S[static_cast<ptrdiff_t>(r) * ss + x];
        } else {
            std::memcpy(D + static_cast<ptrdiff_t>(dr) * ds + static_cast<ptrdiff_t>(dc) * ps,
                        S + static_cast<ptrdiff_t>(r) * ss + static_cast<ptrdiff_t>(x) * ps, ps);
        }
    };
    const int pw = s.width;
    const int ph = s.height;
    switch (mode) {
        case 2:
            for (int r = 0; r < ph; ++r)
                for (int x = 0; x < pw; ++x) put(r, x, r, pw - 1 - x);
            break;
        case 3:
            for (int r = 0; r < ph; ++r)
                for (int x = 0; x < pw; ++x) put(r, x, ph - 1 - r, pw - 1 - x);
            break;
        case 5:  // transpose: mirrored, then turned a quarter counter-clockwise
            for (int r = 0; r < ph; ++r)
                for (int x = 0; x < pw; ++x) put(r, x, x, r);
            break;
        case 7:  // transverse: mirrored, then turned a quarter clockwise
            for (int r = 0; r < ph; ++r)
                for (int x = 0; x < pw; ++x) put(r, x, pw - 1 - x, ph - 1 - r);
            break;
        case 6:  // quarter turn clockwise: source row r becomes destination column ph-1-r
            for (int r = 0; r < ph; ++r)
                for (int x = 0; x < pw; ++x) put(r, x, x, ph - 1 - r);
            break;
        case 8:  // quarter turn counter-clockwise
            for (int r = 0; r < ph; ++r)
                for (int x = 0; x < pw; ++x) put(r, x, pw - 1 - x, r);
            break;
        default: {  // 1 (copy) and 4 (upside down) move whole rows
            const size_t bytes =
                static_cast<size_t>(std::min(pw, d.width)) * static_cast<size_t>(ps);
            for (int r = 0; r < ph; ++r) {
                const int dr = mode == 4 ? ph - 1 - r : r;
                if (dr < 0 || dr >= d.height) continue;
                std::memcpy(D + static_cast<ptrdiff_t>(dr) * ds, S + static_cast<ptrdiff_t>(r) * ss,
                            bytes);
            }
            break;
        }
    }
}

}  // namespace

void orient_frame(const AVFrame* src, AVFrame* dst, int32_t orientation) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(src->format));
    if (desc == nullptr || dst->format != src->format) return;
    // Values outside 1..8 copy, as 1 does.
    const int mode = (orientation >= 2 && orientation <= 8) ? orientation : 1;
    for (int p = 0; p < AV_NUM_DATA_POINTERS && src->data[p] && dst->data[p]; ++p) {
        orient_plane(desc, src, dst, p, mode);
    }
}

int32_t display_orientation(const AVStream* stream) {
    size_t size = 0;
    const uint8_t* matrix =
        stream ? av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size) : nullptr;
    if (matrix == nullptr || size < 9 * sizeof(int32_t)) return -1;
    // Players turn the picture counter-clockwise by the matrix's angle: a quarter turn
    // clockwise is -90 degrees.
    const double angle = av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
    if (std::isnan(angle)) return -1;
    switch ((static_cast<int>(std::lround(-angle / 90.0)) % 4 + 4) % 4) {
        case 1:
            return 6;
        case 2:
            return 3;
        case 3:
            return 8;
        default:
            return -1;
    }
}

}  // namespace orbv
