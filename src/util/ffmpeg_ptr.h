#pragma once

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

// Owners of FFmpeg objects: every early return releases what was opened before it.
namespace orbv {

struct InputFormatCloser {
    void operator()(AVFormatContext* ctx) const { avformat_close_input(&ctx); }
};
using InputFormatPtr = std::unique_ptr<AVFormatContext, InputFormatCloser>;

// An output container: closes its file (unless the muxer writes none) and frees the context
// with the streams it owns.
struct OutputFormatCloser {
    void operator()(AVFormatContext* ctx) const {
        if (ctx->oformat != nullptr && !(ctx->oformat->flags & AVFMT_NOFILE)) {
            avio_closep(&ctx->pb);
        }
        avformat_free_context(ctx);
    }
};
using OutputFormatPtr = std::unique_ptr<AVFormatContext, OutputFormatCloser>;

struct CodecContextFree {
    void operator()(AVCodecContext* ctx) const { avcodec_free_context(&ctx); }
};
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFree>;

struct FrameFree {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;

struct PacketFree {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;

struct SwsContextFree {
    void operator()(SwsContext* ctx) const { sws_freeContext(ctx); }
};
using SwsContextPtr = std::unique_ptr<SwsContext, SwsContextFree>;

struct SwrContextFree {
    void operator()(SwrContext* ctx) const { swr_free(&ctx); }
};
using SwrContextPtr = std::unique_ptr<SwrContext, SwrContextFree>;

struct AudioFifoFree {
    void operator()(AVAudioFifo* fifo) const { av_audio_fifo_free(fifo); }
};
using AudioFifoPtr = std::unique_ptr<AVAudioFifo, AudioFifoFree>;

inline FramePtr make_frame() { return FramePtr(av_frame_alloc()); }

// H.264 goes to the decoder registered as "libopenh264" when the FFmpeg build has one, else to
// FFmpeg's own; every other codec to FFmpeg's default decoder for it.
inline const AVCodec* find_video_decoder(AVCodecID id) {
    if (id == AV_CODEC_ID_H264) {
        if (const AVCodec* codec = avcodec_find_decoder_by_name("libopenh264")) return codec;
    }
    return avcodec_find_decoder(id);
}
inline PacketPtr make_packet() { return PacketPtr(av_packet_alloc()); }

}  // namespace orbv
