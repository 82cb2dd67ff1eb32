// The media interface object: construction, errors, and the input side.
#include "media/libav_if.h"

#include <cstdarg>
#include <cstdio>

namespace orbv {

namespace {

// A decoder of our own for one input stream: FFmpeg 5 keeps no usable codec context inside
// the stream, so the stream's parameters are copied into a fresh context.
int open_decoder(const AVCodec* codec, const AVStream* stream, int threads, CodecContextPtr* out) {
    CodecContextPtr ctx(avcodec_alloc_context3(codec));
    if (!ctx) return AVERROR(ENOMEM);
    int ret = avcodec_parameters_to_context(ctx.get(), stream->codecpar);
    if (ret < 0) return ret;
    ctx->pkt_timebase = stream->time_base;
    ctx->thread_count = threads;
    ctx->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    ret = avcodec_open2(ctx.get(), codec, nullptr);
    if (ret < 0) return ret;
    *out = std::move(ctx);
    return 0;
}

int slot_index(int32_t slot) { return slot == 0 ? 0 : 1; }

}  // namespace

libavIF::libavIF(const char* path1_) : path1(path1_), path2(nullptr) {}

libavIF::libavIF(const char* path1_, const char* path2_) : path1(path1_), path2(path2_) {}

libavIF::~libavIF() {
    close_input();
    // The writers close their output on every return; this only guards against a caller that
    // built an output by hand and left early.
    close_output();
}

int32_t libavIF::set_error(int32_t code) {
    errnum = code;
    if (av_strerror(code, errstr, sizeof(errstr)) < 0) {
        std::snprintf(errstr, sizeof(errstr), "Error number %d occurred", code);
    }
    return code;
}

void libavIF::set_message(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(errstr, sizeof(errstr), format, args);
    va_end(args);
}

int32_t libavIF::open_input(int32_t slot) {
    const int s = slot_index(slot);
    const char* path = s == 0 ? path1 : path2;
    if (path == nullptr) return set_error(AVERROR(EINVAL));

    AVFormatContext* raw = nullptr;
    errnum = avformat_open_input(&raw, path, nullptr, nullptr);
    if (errnum < 0) return set_error(errnum);
    InputFormatPtr fmt(raw);

    // Every later failure releases this container and every slot opened before.
    auto fail = [&](int32_t code) {
        fmt.reset();
        close_input();
        return code;
    };
    auto fail_message = [&](const char* message) {
        set_message("%s", message);
        return fail(AVERROR_EXIT);
    };

    errnum = avformat_find_stream_info(fmt.get(), nullptr);
    if (errnum < 0) return fail(set_error(errnum));

    const int video = av_find_best_stream(fmt.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (video < 0) return fail_message("Not Found Video Stream");
    int audio = av_find_best_stream(fmt.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (audio < 0 && audio != AVERROR_STREAM_NOT_FOUND) {
        return fail_message("Not Found Audio Stream");
    }

    AVStream* vst = fmt->streams[video];
    const AVCodec* video_decoder = find_video_decoder(vst->codecpar->codec_id);
    if (video_decoder == nullptr) return fail_message("Not Found Video Codec");
    CodecContextPtr vctx;
    errnum = open_decoder(video_decoder, vst, decoder_threads, &vctx);
    if (errnum < 0) return fail(set_error(errnum));
    // FFmpeg's image demuxer takes any file named like a picture and reports a stream whose
    // size it could not find; such a stream holds no picture to work with.
    if (vctx->width <= 0 || vctx->height <= 0) return fail(set_error(AVERROR_INVALIDDATA));

    CodecContextPtr actx;
    if (audio >= 0) {
        AVStream* ast = fmt->streams[audio];
        const AVCodec* audio_decoder = avcodec_find_decoder(ast->codecpar->codec_id);
        if (audio_decoder == nullptr) return fail(set_error(AVERROR_DECODER_NOT_FOUND));
        errnum = open_decoder(audio_decoder, ast, 1, &actx);
        if (errnum < 0) return fail(set_error(errnum));
        audio_codec_id = ast->codecpar->codec_id;
    }

    width = vctx->width;
    height = vctx->height;
    nb_frames = vst->nb_frames;
    // An unknown stream duration stays unknown rather than becoming a huge negative number.
    duration = vst->duration == AV_NOPTS_VALUE
                   ? -1.0
                   : static_cast<double>(vst->time_base.num) / vst->time_base.den *
                         static_cast<double>(vst->duration);

    fmt_ctx[s] = std::move(fmt);
    video_dec_ctx[s] = VideoDecoder(std::move(vctx));
    audio_dec_ctx[s] = std::move(actx);
    video_stream_idx[s] = video;
    audio_stream_idx[s] = audio >= 0 ? audio : -1;
    still_input[s] = vst->nb_frames == 0;
    return 0;
}

void libavIF::close_input() {
    for (int s = 0; s < 2; ++s) {
        video_dec_ctx[s].reset();
        audio_dec_ctx[s].reset();
        fmt_ctx[s].reset();
    }
}

int32_t libavIF::read_video_frame(AVFrame** frame) {
    *frame = av_frame_alloc();
    if (*frame == nullptr) return set_error(AVERROR(ENOMEM));
    VideoDecoder& decoder = video_dec_ctx[0];
    if (!fmt_ctx[0] || !decoder) return set_error(AVERROR(EINVAL));
    PacketPtr packet = make_packet();
    if (!packet) return set_error(AVERROR(ENOMEM));

    for (;;) {
        if (decoder.take_picture(*frame) == 1) {
            (*frame)->pts = (*frame)->best_effort_timestamp;
            errnum = 0;
            return 0;
        }
        if (decoder.finished()) {
            errnum = 0;
            return 0;  // nothing left: the frame stays empty
        }
        const int ret = av_read_frame(fmt_ctx[0].get(), packet.get());
        if (ret == AVERROR_EOF) {
            // The end of the file releases the pictures the decoder still holds, whichever
            // stream index the video has.
            const int drained = decoder.drain();
            if (drained < 0) {
                set_error(drained);
                return 0;
            }
            errnum = 0;
            if (decoder.take_picture(*frame) == 1) {
                (*frame)->pts = (*frame)->best_effort_timestamp;
            }
            return 0;
        }
        if (ret < 0) return set_error(ret);
        if (packet->stream_index == video_stream_idx[0]) {
            const int sent = decoder.send_packet(packet.get());
            av_packet_unref(packet.get());
            if (sent < 0) return set_error(sent);
        } else {
            av_packet_unref(packet.get());
        }
    }
}

AVStream* libavIF::input_video_stream(int32_t slot) const {
    const int s = slot_index(slot);
    if (!fmt_ctx[s] || video_stream_idx[s] < 0) return nullptr;
    return fmt_ctx[s]->streams[video_stream_idx[s]];
}

AVStream* libavIF::input_audio_stream(int32_t slot) const {
    const int s = slot_index(slot);
    if (!fmt_ctx[s] || audio_stream_idx[s] < 0) return nullptr;
    return fmt_ctx[s]->streams[audio_stream_idx[s]];
}

AVRational libavIF::video_time_base(int32_t slot) const {
    const AVStream* stream = input_video_stream(slot);
    return stream ? stream->time_base : AVRational{0, 1};
}

int64_t libavIF::video_frame_count(int32_t slot) const {
    const AVStream* stream = input_video_stream(slot);
    return stream ? stream->nb_frames : 0;
}

}  // namespace orbv
