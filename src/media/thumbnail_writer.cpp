// The thumbnail writer: the first picture of slot 0, scaled, turned upright, as one JPEG.
#include <algorithm>
#include <cstring>

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include "media/libav_if.h"
#include "util/log.h"

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

}  // namespace

void libavIF::orient_frame(const AVFrame* src, AVFrame* dst, int32_t orientation) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(src->format));
    if (desc == nullptr || dst->format != src->format) return;
    // 5, 7 and values outside 1..8 copy, as 1 does.
    const int mode = (orientation >= 2 && orientation <= 8 && orientation != 5 && orientation != 7)
                         ? orientation
                         : 1;
    for (int p = 0; p < AV_NUM_DATA_POINTERS && src->data[p] && dst->data[p]; ++p) {
        const PlaneGeometry s = plane_geometry(desc, src, p);
        const PlaneGeometry d = plane_geometry(desc, dst, p);
        const int ps = s.pixel;
        const uint8_t* S = src->data[p];
        uint8_t* D = dst->data[p];
        const int ss = src->linesize[p];
        const int ds = dst->linesize[p];
        // Every write is checked against the destination plane, so a frame of the wrong size
        // or a format whose planes do not turn evenly is never written past its end.
        auto put = [&](int r, int x, int dr, int dc) {
            if (dr < 0 || dr >= d.height || dc < 0 || dc >= d.width) return;
            if (ps == 1) {
                D[static_cast<ptrdiff_t>(dr) * ds + dc] = S[static_cast<ptrdiff_t>(r) * ss + x];
            } else {
                std::memcpy(D + static_cast<ptrdiff_t>(dr) * ds + static_cast<ptrdiff_t>(dc) * ps,
                            S + static_cast<ptrdiff_t>(r) * ss + static_cast<ptrdiff_t>(x) * ps,
                            ps);
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
                    std::memcpy(D + static_cast<ptrdiff_t>(dr) * ds,
                                S + static_cast<ptrdiff_t>(r) * ss, bytes);
                }
                break;
            }
        }
    }
}

int32_t libavIF::write_thumbnail(const char* path, int32_t width_request, int32_t orientation) {
    VideoDecoder& decoder = video_dec_ctx[0];
    if (!fmt_ctx[0] || !decoder || decoder->width <= 0 || decoder->height <= 0) {
        return set_error(AVERROR(EINVAL));
    }
    const int source_width = decoder->width;
    const int source_height = decoder->height;
    const int w =
        (width_request <= 0 || width_request > source_width) ? source_width : width_request;
    const int h = static_cast<int>(static_cast<int64_t>(source_height) * w / source_width);
    // A quarter turn makes a picture of swapped width and height.
    const bool quarter = is_quarter_turn(orientation);
    const int out_width = quarter ? h : w;
    const int out_height = quarter ? w : h;

    AVFormatContext* raw = nullptr;
    avformat_alloc_output_context2(&raw, nullptr, nullptr, path);
    if (raw == nullptr) avformat_alloc_output_context2(&raw, nullptr, "jpeg", path);
    if (raw == nullptr) {
        set_message("Colud Not Open OutputFile:%s", or_null(path));
        return AVERROR_EXIT;
    }
    ofmt_ctx.reset(raw);
    // The image muxer would read a '%d' in the path as a sequence pattern and write another
    // file: one picture goes to exactly the given path. Other muxers have no such option, and
    // the private data of a muxer without an option class (srt, for one) is no AVClass object.
    if (ofmt_ctx->oformat->priv_class != nullptr && ofmt_ctx->priv_data != nullptr) {
        av_opt_set_int(ofmt_ctx->priv_data, "update", 1, 0);
    }
    auto fail = [&](int32_t code) {
        close_output();
        return code;
    };

    errnum = add_video_stream(ofmt_ctx->oformat->video_codec, out_width, out_height, 0);
    if (errnum < 0) return fail(errnum);
    // The scaler made here may be missing when the stream header did not tell the picture
    // format; it is made again from the first picture, and the thumbnail fails only when
    // that is impossible too.
    errnum = init_sws_context(w, h);
    if (errnum < 0) return fail(errnum);
    if (!(ofmt_ctx->oformat->flags & AVFMT_NOFILE)) {
        errnum = avio_open(&ofmt_ctx->pb, path, AVIO_FLAG_WRITE);
        if (errnum < 0) return fail(set_error(errnum));
    }
    errnum = avformat_write_header(ofmt_ctx.get(), nullptr);
    if (errnum < 0) return fail(set_error(errnum));

    PacketPtr packet = make_packet();
    FramePtr decoded = make_frame();
    FramePtr scaled = make_frame();
    FramePtr oriented = make_frame();
    if (!packet || !decoded || !scaled || !oriented) return fail(set_error(AVERROR(ENOMEM)));
    const AVPixelFormat format = video_enc_ctx->pix_fmt;
    scaled->width = w;
    scaled->height = h;
    scaled->format = format;
    errnum = av_frame_get_buffer(scaled.get(), 32);
    if (errnum < 0) return fail(set_error(errnum));
    oriented->width = out_width;
    oriented->height = out_height;
    oriented->format = format;
    errnum = av_frame_get_buffer(oriented.get(), 32);
    if (errnum < 0) return fail(set_error(errnum));

    // Read until the first picture. The end of the file releases what the decoder still
    // holds, so a picture that comes out late is not lost.
    bool have_picture = false;
    while (!have_picture && !decoder.finished()) {
        if (decoder.take_picture(decoded.get()) == 1) {
            have_picture = true;
            break;
        }
        int ret = av_read_frame(fmt_ctx[0].get(), packet.get());
        if (ret == AVERROR_EOF) {
            ret = decoder.drain();
            if (ret < 0) return fail(set_error(ret));
            continue;
        }
        if (ret < 0) return fail(set_error(ret));
        if (packet->stream_index == video_stream_idx[0]) {
            ret = decoder.send_packet(packet.get());
            av_packet_unref(packet.get());
            if (ret < 0) return fail(set_error(ret));
        } else {
            av_packet_unref(packet.get());
        }
    }

    // A stream that ends before any picture decodes gives no thumbnail: reporting one as made
    // would leave the host with a file that is empty or not there at all.
    if (!have_picture) return fail(set_error(AVERROR_EOF));
    decoded->pts = decoded->best_effort_timestamp;
    // The picture's own size and format decide the scaler: they may differ from what the
    // stream header announced.
    const AVPixelFormat decoded_format = static_cast<AVPixelFormat>(decoded->format);
    if (!sws_isSupportedInput(decoded_format)) return fail(set_error(AVERROR(EINVAL)));
    sws_ctx.reset(sws_getCachedContext(sws_ctx.release(), decoded->width, decoded->height,
                                       decoded_format, w, h, format, SWS_BICUBIC, nullptr, nullptr,
                                       nullptr));
    if (!sws_ctx) return fail(set_error(AVERROR(EINVAL)));
    sws_scale(sws_ctx.get(), decoded->data, decoded->linesize, 0, decoded->height, scaled->data,
              scaled->linesize);
    orient_frame(scaled.get(), oriented.get(), orientation);
    oriented->pts = 0;
    errnum = encode_video_frame(oriented.get());
    if (errnum != 0) return fail(set_error(errnum));
    // An encoder with a delay gives its packet only when drained.
    int32_t drained = 0;
    while ((drained = encode_video_frame(nullptr)) == 0) {
    }
    if (drained < 0) return fail(drained);

    errnum = av_write_trailer(ofmt_ctx.get());
    if (errnum < 0) return fail(set_error(errnum));
    close_output();
    return 0;
}

}  // namespace orbv
