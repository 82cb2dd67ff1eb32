// The output side of the media interface object: streams, encoders, scaler, and their release.
#include <cmath>

extern "C" {
#include <libavutil/channel_layout.h>
}

#include "media/libav_if.h"

namespace orbv {

int32_t libavIF::add_video_stream(int32_t codec_id, int32_t out_width, int32_t out_height,
                                  int32_t source_choice) {
    // Source: slot 0, or with a non-zero choice the input whose container is longer (slot 1
    // on a tie); a slot that is not open cannot be the source.
    int s = 0;
    if (source_choice != 0) {
        if (!fmt_ctx[0]) {
            s = 1;
        } else if (fmt_ctx[1]) {
            s = fmt_ctx[0]->duration > fmt_ctx[1]->duration ? 0 : 1;
        }
    }
    const AVStream* source_stream = input_video_stream(s);
    const AVCodecContext* source = video_dec_ctx[s].get();
    if (!ofmt_ctx || source_stream == nullptr || source == nullptr || source->width <= 0 ||
        source->height <= 0) {
        return set_error(AVERROR(EINVAL));
    }
    // The source bit rate scaled by the ratio of picture areas.
    const int64_t bit_rate = static_cast<int64_t>(std::floor(
        static_cast<double>(out_width) / source->width * static_cast<double>(source->bit_rate) *
        (static_cast<double>(out_height) / source->height)));

    video_codec = avcodec_find_encoder(static_cast<AVCodecID>(codec_id));
    if (video_codec == nullptr) {
        set_message("Colud not finde encoder");
        return AVERROR_EXIT;
    }
    video_stream = avformat_new_stream(ofmt_ctx.get(), nullptr);
    if (video_stream == nullptr) {
        set_message("Could not allocate stream\n");
        return AVERROR_EXIT;
    }
    CodecContextPtr enc(avcodec_alloc_context3(video_codec));
    if (!enc) return set_error(AVERROR(ENOMEM));

    video_stream->id = static_cast<int>(ofmt_ctx->nb_streams) - 1;
    enc->codec_id = static_cast<AVCodecID>(codec_id);
    enc->bit_rate = bit_rate;
    enc->width = out_width;
    enc->height = out_height;
    const AVRational source_tb = source_stream->time_base;
    if (codec_id == AV_CODEC_ID_H264) {
        // One picture per 1001 ticks of the source's clock. The encoder reads frame timestamps
        // in its own time base, so it gets the source's clock and the frame rate is stated.
        enc->time_base = source_tb;
        enc->framerate = AVRational{source_tb.den, 1001};
        enc->pix_fmt = AV_PIX_FMT_YUV420P;
        enc->thread_count = encoder_threads;
        video_stream->time_base = source_tb;
    } else {
        enc->time_base = AVRational{1001, source_tb.den};
        if (codec_id == AV_CODEC_ID_MJPEG) {
            enc->pix_fmt = AV_PIX_FMT_YUVJ420P;
        } else {
            enc->pix_fmt = video_codec->pix_fmts ? video_codec->pix_fmts[0] : AV_PIX_FMT_YUV420P;
        }
    }
    if (ofmt_ctx->oformat->flags & AVFMT_GLOBALHEADER) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

    errnum = avcodec_open2(enc.get(), video_codec, nullptr);
    if (errnum < 0) return set_error(errnum);
    errnum = avcodec_parameters_from_context(video_stream->codecpar, enc.get());
    if (errnum < 0) return set_error(errnum);
    video_enc_ctx = std::move(enc);
    video_enc_draining_ = false;
    return 0;
}

int libavIF::audio_source() const {
    if (audio_source_slot == 0 || audio_source_slot == 1) return audio_source_slot;
    return audio_stream_idx[0] != -1 ? 0 : 1;
}

int32_t libavIF::add_audio_stream(int32_t bit_rate) {
    const int s = audio_source();
    const AVCodecContext* source = audio_dec_ctx[s].get();
    if (!ofmt_ctx || source == nullptr) return set_error(AVERROR(EINVAL));

    audio_codec = avcodec_find_encoder(AV_CODEC_ID_PCM_S16LE);
    if (audio_codec == nullptr) {
        set_message("Colud not find encoder");
        return AVERROR_EXIT;
    }
    audio_stream = avformat_new_stream(ofmt_ctx.get(), nullptr);
    if (audio_stream == nullptr) {
        set_message("Could not allocate stream\n");
        return AVERROR_EXIT;
    }
    CodecContextPtr enc(avcodec_alloc_context3(audio_codec));
    if (!enc) return set_error(AVERROR(ENOMEM));

    enc->sample_fmt = audio_codec->sample_fmts ? audio_codec->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
    enc->codec_id = AV_CODEC_ID_PCM_S16LE;
    enc->sample_rate = source->sample_rate;
    enc->bit_rate = bit_rate != 0 ? bit_rate : source->bit_rate;
    const AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    errnum = av_channel_layout_copy(&enc->ch_layout, &stereo);
    if (errnum < 0) return set_error(errnum);
    audio_stream->id = static_cast<int>(ofmt_ctx->nb_streams) - 1;
    audio_stream->time_base = AVRational{1, source->sample_rate};
    enc->time_base = audio_stream->time_base;

    errnum = avcodec_open2(enc.get(), audio_codec, nullptr);
    if (errnum < 0) return set_error(errnum);
    errnum = avcodec_parameters_from_context(audio_stream->codecpar, enc.get());
    if (errnum < 0) return set_error(errnum);
    audio_enc_ctx = std::move(enc);
    audio_enc_draining_ = false;
    return 0;
}

int32_t libavIF::init_sws_context() {
    if (!video_enc_ctx) return set_error(AVERROR(EINVAL));
    return init_sws_context(video_enc_ctx->width, video_enc_ctx->height);
}

int32_t libavIF::init_sws_context(int32_t out_width, int32_t out_height) {
    const AVCodecContext* source = video_dec_ctx[0].get();
    if (source == nullptr || !video_enc_ctx) return set_error(AVERROR(EINVAL));
    // A scaler that cannot be made is left null; its user refuses to go on without it. A
    // format the stream probe could not tell (AV_PIX_FMT_NONE) must not reach swscale, which
    // aborts on it.
    sws_ctx.reset();
    if (!sws_isSupportedInput(source->pix_fmt) || !sws_isSupportedOutput(video_enc_ctx->pix_fmt)) {
        return 0;
    }
    sws_ctx.reset(sws_getContext(source->width, source->height, source->pix_fmt, out_width,
                                 out_height, video_enc_ctx->pix_fmt, SWS_BICUBIC, nullptr, nullptr,
                                 nullptr));
    return 0;
}

int32_t libavIF::write_encoded(AVCodecContext* encoder, AVStream* stream, bool interleaved,
                               bool one, bool* got) {
    *got = false;
    PacketPtr packet = make_packet();
    if (!packet) return set_error(AVERROR(ENOMEM));
    for (;;) {
        int ret = avcodec_receive_packet(encoder, packet.get());
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) return 0;
        if (ret < 0) return set_error(ret);
        *got = true;
        packet->stream_index = stream->index;
        // libx264 states no packet duration; the last picture would last one tick.
        if (packet->duration == 0 && encoder->codec_type == AVMEDIA_TYPE_VIDEO &&
            encoder->framerate.num > 0 && encoder->framerate.den > 0) {
            packet->duration = av_rescale_q(1, av_inv_q(encoder->framerate), encoder->time_base);
        }
        // The muxer may have chosen another time base for the stream at the header.
        av_packet_rescale_ts(packet.get(), encoder->time_base, stream->time_base);
        if (interleaved) {
            ret = av_interleaved_write_frame(ofmt_ctx.get(), packet.get());
        } else {
            ret = packet->pts >= 0 ? av_write_frame(ofmt_ctx.get(), packet.get()) : 0;
        }
        av_packet_unref(packet.get());
        if (ret < 0) return set_error(ret);
        if (one) return 0;
    }
}

int32_t libavIF::encode_video_frame(AVFrame* frame) {
    if (!video_enc_ctx || video_stream == nullptr || !ofmt_ctx) return set_error(AVERROR(EINVAL));
    AVCodecContext* enc = video_enc_ctx.get();
    bool got = false;
    if (frame == nullptr) {
        // Draining hands out one packet per call, 1 once there is none left.
        if (!video_enc_draining_) {
            video_enc_draining_ = true;
            const int ret = avcodec_send_frame(enc, nullptr);
            if (ret < 0 && ret != AVERROR_EOF) return set_error(ret);
        }
        const int32_t ret = write_encoded(enc, video_stream, true, true, &got);
        if (ret < 0) return ret;
        errnum = 0;
        return got ? 0 : 1;
    }
    if (video_enc_draining_) return set_error(AVERROR_EOF);
    int ret = avcodec_send_frame(enc, frame);
    if (ret == AVERROR(EAGAIN)) {
        ret = write_encoded(enc, video_stream, true, false, &got);
        if (ret < 0) return ret;
        ret = avcodec_send_frame(enc, frame);
    }
    if (ret < 0) return set_error(ret);
    ret = write_encoded(enc, video_stream, true, false, &got);
    if (ret < 0) return ret;
    errnum = 0;
    return 0;
}

int32_t libavIF::encode_audio_frame(AVFrame* frame, int32_t* got_packet) {
    *got_packet = 0;
    if (!audio_enc_ctx || audio_stream == nullptr || !ofmt_ctx) return set_error(AVERROR(EINVAL));
    AVCodecContext* enc = audio_enc_ctx.get();
    bool got = false;
    if (frame == nullptr) {
        if (!audio_enc_draining_) {
            audio_enc_draining_ = true;
            const int ret = avcodec_send_frame(enc, nullptr);
            if (ret < 0 && ret != AVERROR_EOF) return set_error(ret);
        }
        const int32_t ret = write_encoded(enc, audio_stream, false, true, &got);
        if (ret < 0) return ret;
        *got_packet = got ? 1 : 0;
        errnum = 0;
        return 0;
    }
    if (audio_enc_draining_) return set_error(AVERROR_EOF);
    frame->pts = audio_pts;
    audio_pts += frame->nb_samples;
    int ret = avcodec_send_frame(enc, frame);
    if (ret == AVERROR(EAGAIN)) {
        bool earlier = false;
        ret = write_encoded(enc, audio_stream, false, false, &earlier);
        if (ret < 0) return ret;
        got = earlier;
        ret = avcodec_send_frame(enc, frame);
    }
    if (ret < 0) return set_error(ret);
    bool now = false;
    ret = write_encoded(enc, audio_stream, false, false, &now);
    if (ret < 0) return ret;
    *got_packet = (got || now) ? 1 : 0;
    errnum = 0;
    return 0;
}

void libavIF::close_output() {
    video_enc_ctx.reset();
    sws_ctx.reset();
    audio_fifo.reset();
    audio_enc_ctx.reset();
    swr_ctx.reset();
    ofmt_ctx.reset();  // closes the file unless the muxer writes none, frees the streams
    video_stream = nullptr;
    audio_stream = nullptr;
    video_enc_draining_ = false;
    audio_enc_draining_ = false;
}

}  // namespace orbv
