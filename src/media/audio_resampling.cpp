// Sound on its way out: decoding into the resampler, the sample FIFO, and whole frames out of
// it into the PCM encoder.
#include <algorithm>
#include <cstdlib>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
}

#include "media/libav_if.h"
#include "util/log.h"

namespace orbv {

namespace {

// The encoder states no frame size for PCM: frames of this many samples are taken from the
// FIFO instead.
constexpr int kDefaultFrameSize = 1000;

// Sample buffers of one converted frame, one pointer per channel.
struct SampleBuffers {
    uint8_t** data = nullptr;
    ~SampleBuffers() {
        if (data != nullptr) {
            av_freep(&data[0]);
            std::free(data);
        }
    }
};

}  // namespace

int32_t libavIF::init_swr_context() {
    const int s = audio_source();
    const AVCodecContext* source = audio_dec_ctx[s].get();
    if (source == nullptr || !audio_enc_ctx) return set_error(AVERROR(EINVAL));
    swr_ctx.reset(swr_alloc());
    if (!swr_ctx) return -1;
    SwrContext* swr = swr_ctx.get();
    // Only the channel counts matter: the layouts are FFmpeg's defaults for those counts.
    AVChannelLayout in_layout;
    AVChannelLayout out_layout;
    av_channel_layout_default(&in_layout, source->ch_layout.nb_channels);
    av_channel_layout_default(&out_layout, audio_enc_ctx->ch_layout.nb_channels);
    av_opt_set_chlayout(swr, "in_chlayout", &in_layout, 0);
    av_opt_set_int(swr, "in_sample_rate", source->sample_rate, 0);
    av_opt_set_sample_fmt(swr, "in_sample_fmt", source->sample_fmt, 0);
    av_opt_set_chlayout(swr, "out_chlayout", &out_layout, 0);
    av_opt_set_int(swr, "out_sample_rate", audio_enc_ctx->sample_rate, 0);
    av_opt_set_sample_fmt(swr, "out_sample_fmt", audio_enc_ctx->sample_fmt, 0);
    av_channel_layout_uninit(&in_layout);
    av_channel_layout_uninit(&out_layout);
    errnum = swr_init(swr);
    if (errnum < 0) return set_error(errnum);
    swr_in_channels_ = source->ch_layout.nb_channels;
    swr_in_format_ = source->sample_fmt;
    return 0;
}

int32_t libavIF::init_audio_fifo() {
    if (!audio_enc_ctx) return set_error(AVERROR(EINVAL));
    audio_fifo.reset(
        av_audio_fifo_alloc(audio_enc_ctx->sample_fmt, audio_enc_ctx->ch_layout.nb_channels, 1));
    if (!audio_fifo) {
        errnum = AVERROR(ENOMEM);
        set_message("Colud Not allocate Audio Fifo");
        return errnum;
    }
    return 0;
}

int32_t libavIF::decode_audio_to_fifo(int32_t slot, AVPacket* packet, int32_t* past_end,
                                      float start, float end) {
    const int s = slot == 0 ? 0 : 1;
    AVCodecContext* decoder = audio_dec_ctx[s].get();
    const AVStream* stream = input_audio_stream(s);
    if (decoder == nullptr || stream == nullptr || !swr_ctx || !audio_fifo || !audio_enc_ctx) {
        return set_error(AVERROR(EINVAL));
    }
    if (start <= 0) start = 0;
    if (end <= 0) end = 9999.0f;
    FramePtr frame = make_frame();
    if (!frame) {
        set_message("Colud Not allocate input frame");
        errnum = AVERROR(ENOMEM);
        return errnum;
    }
    const int channels = audio_enc_ctx->ch_layout.nb_channels;
    const AVSampleFormat format = audio_enc_ctx->sample_fmt;

    // One decoded frame: dropped before the window, flags the end after it, else converted
    // into the FIFO.
    auto store = [&](AVFrame* decoded) -> int32_t {
        if (*past_end) *past_end = 0;
        decoded->pts = decoded->best_effort_timestamp;
        // A frame without any timestamp cannot be placed in the window; it is kept.
        if (decoded->pts != AV_NOPTS_VALUE) {
            const double t = static_cast<double>(stream->time_base.num) / stream->time_base.den *
                             static_cast<double>(decoded->pts);
            if (start > t) return 0;
            if (t > end) {
                *past_end = 1;
                return 0;
            }
        }
        if (decoded->ch_layout.nb_channels != swr_in_channels_ ||
            decoded->format != swr_in_format_) {
            return set_error(AVERROR_INPUT_CHANGED);
        }
        const int nb_samples = decoded->nb_samples;
        SampleBuffers buffers;
        buffers.data = static_cast<uint8_t**>(std::calloc(channels, sizeof(uint8_t*)));
        if (buffers.data == nullptr) {
            set_message("Colud Not allocate input frame");
            errnum = AVERROR(ENOMEM);
            return errnum;
        }
        errnum = av_samples_alloc(buffers.data, nullptr, channels, nb_samples, format, 0);
        if (errnum < 0) return set_error(errnum);
        errnum = swr_convert(swr_ctx.get(), buffers.data, nb_samples,
                             const_cast<const uint8_t**>(decoded->extended_data), nb_samples);
        if (errnum < 0) return set_error(errnum);
        int converted = errnum;
        if (audio_sample_limit >= 0) {
            const int64_t room =
                audio_sample_limit - audio_pts - av_audio_fifo_size(audio_fifo.get());
            if (room <= converted) {
                *past_end = 1;
                converted = static_cast<int>(std::max<int64_t>(room, 0));
                if (converted == 0) return 0;
            }
        }
        errnum = av_audio_fifo_realloc(audio_fifo.get(),
                                       av_audio_fifo_size(audio_fifo.get()) + converted);
        if (errnum < 0) return set_error(errnum);
        errnum = av_audio_fifo_write(audio_fifo.get(), reinterpret_cast<void**>(buffers.data),
                                     converted);
        if (errnum < 0) return set_error(errnum);
        return 0;
    };
    // Every frame the decoder has ready goes through `store`.
    auto receive_all = [&]() -> int32_t {
        for (;;) {
            const int ret = avcodec_receive_frame(decoder, frame.get());
            if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) return 0;
            if (ret < 0) return set_error(ret);
            const int32_t stored = store(frame.get());
            av_frame_unref(frame.get());
            if (stored < 0) return stored;
        }
    };

    int ret = avcodec_send_packet(decoder, packet);
    if (ret == AVERROR(EAGAIN)) {
        ret = receive_all();
        if (ret < 0) return ret;
        ret = avcodec_send_packet(decoder, packet);
    }
    // A second end-of-stream signal is no error.
    if (ret == AVERROR_EOF && (packet == nullptr || packet->size == 0)) ret = 0;
    if (ret < 0) return set_error(ret);
    ret = receive_all();
    if (ret < 0) return ret;
    errnum = 0;
    return 0;
}

int32_t libavIF::encode_audio_from_fifo() {
    if (!audio_enc_ctx || !audio_fifo) return set_error(AVERROR(EINVAL));
    AVCodecContext* enc = audio_enc_ctx.get();
    if (enc->frame_size == 0) enc->frame_size = kDefaultFrameSize;
    log_message(LOG_TRACE, "frame %d", enc->frame_size);
    const int n = std::min(av_audio_fifo_size(audio_fifo.get()), enc->frame_size);
    FramePtr frame = make_frame();
    if (!frame) {
        set_message("Colud Not allocate input frame");
        errnum = AVERROR(ENOMEM);
        return errnum;
    }
    frame->nb_samples = n;
    errnum = av_channel_layout_copy(&frame->ch_layout, &enc->ch_layout);
    if (errnum < 0) return set_error(errnum);
    frame->format = enc->sample_fmt;
    frame->sample_rate = enc->sample_rate;
    errnum = av_frame_get_buffer(frame.get(), 0);
    if (errnum < 0) return set_error(errnum);
    if (av_audio_fifo_read(audio_fifo.get(), reinterpret_cast<void**>(frame->data), n) < n) {
        set_message("Colud Not read data from audio fifo");
        errnum = AVERROR_EXIT;
        return AVERROR_EXIT;
    }
    int32_t got = 0;
    errnum = encode_audio_frame(frame.get(), &got);
    return errnum < 0 ? errnum : 0;
}

int32_t libavIF::write_audio_packet(int32_t slot, AVPacket* packet, int32_t* past_end,
                                    int32_t frame_size, float start, float end) {
    errnum = decode_audio_to_fifo(slot, packet, past_end, start, end);
    if (errnum < 0) {
        close_output();
        if (packet) av_packet_unref(packet);
        return errnum;
    }
    auto fifo_size = [&] { return audio_fifo ? av_audio_fifo_size(audio_fifo.get()) : 0; };
    if (fifo_size() >= frame_size) {
        // With the end of the window reached, the FIFO is emptied, the last frame shorter.
        while (fifo_size() >= 1 && (fifo_size() >= frame_size || *past_end)) {
            errnum = encode_audio_from_fifo();
            if (errnum < 0) {
                close_output();
                if (packet) av_packet_unref(packet);
                return errnum;
            }
        }
    }
    if (packet) av_packet_unref(packet);
    return 0;
}

}  // namespace orbv
