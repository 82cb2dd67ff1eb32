#include "media/sound_pipeline.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
}

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

int32_t SoundPipeline::out_of_memory(const char* message) {
    error_.set_message("%s", message);
    return error_.set_code(AVERROR(ENOMEM));
}

int32_t SoundPipeline::init_swr_context(AVCodecContext* decoder, const AVStream* stream,
                                        EncodedStream* out) {
    reset();
    if (decoder == nullptr || stream == nullptr || out == nullptr || !*out) {
        return error_.set(AVERROR(EINVAL));
    }
    const AVCodecContext* enc = out->encoder();
    swr_.reset(swr_alloc());
    if (!swr_) return error_.set(AVERROR(ENOMEM));
    SwrContext* swr = swr_.get();
    // Only the channel counts matter: the layouts are FFmpeg's defaults for those counts.
    AVChannelLayout in_layout;
    AVChannelLayout out_layout;
    av_channel_layout_default(&in_layout, decoder->ch_layout.nb_channels);
    av_channel_layout_default(&out_layout, enc->ch_layout.nb_channels);
    av_opt_set_chlayout(swr, "in_chlayout", &in_layout, 0);
    av_opt_set_int(swr, "in_sample_rate", decoder->sample_rate, 0);
    av_opt_set_sample_fmt(swr, "in_sample_fmt", decoder->sample_fmt, 0);
    av_opt_set_chlayout(swr, "out_chlayout", &out_layout, 0);
    av_opt_set_int(swr, "out_sample_rate", enc->sample_rate, 0);
    av_opt_set_sample_fmt(swr, "out_sample_fmt", enc->sample_fmt, 0);
    av_channel_layout_uninit(&in_layout);
    av_channel_layout_uninit(&out_layout);
    const int ret = error_.set_code(swr_init(swr));
    if (ret < 0) return error_.set(ret);
    decoder_ = decoder;
    stream_ = stream;
    out_ = out;
    in_channels_ = decoder->ch_layout.nb_channels;
    in_format_ = decoder->sample_fmt;
    return 0;
}

int32_t SoundPipeline::init_audio_fifo() {
    if (out_ == nullptr) return error_.set(AVERROR(EINVAL));
    const AVCodecContext* enc = out_->encoder();
    fifo_.reset(av_audio_fifo_alloc(enc->sample_fmt, enc->ch_layout.nb_channels, 1));
    if (!fifo_) return out_of_memory("Colud Not allocate Audio Fifo");
    return 0;
}

int64_t SoundPipeline::stored() const {
    return (out_ != nullptr ? out_->next_pts() : 0) + fifo_size();
}

int64_t SoundPipeline::gap_before(const AVFrame* decoded) const {
    if (!placed_ || decoded->pts == AV_NOPTS_VALUE) return 0;
    const int rate = decoder_->sample_rate;
    const double t = av_q2d(stream_->time_base) * static_cast<double>(decoded->pts) - zero_;
    const int64_t gap = std::llround(t * rate) - stored();
    // Timestamps rounded by the container leave small steps: they are no gap.
    const bool at_start = stored() == 0 && gap < 0;
    return (at_start || std::llabs(gap) > rate / 100) ? gap : 0;
}

int32_t SoundPipeline::store(AVFrame* decoded, int32_t* past_end) {
    if (*past_end) *past_end = 0;
    decoded->pts = decoded->best_effort_timestamp;
    if (decoded->ch_layout.nb_channels != in_channels_ || decoded->format != in_format_) {
        return error_.set(AVERROR_INPUT_CHANGED);
    }
    const int64_t gap = gap_before(decoded);
    if (gap > 0) {
        const int32_t ret = append_silence(gap, past_end);
        if (ret < 0 || *past_end) return ret;
    }
    if (-gap >= decoded->nb_samples) return 0;
    return convert_into_fifo(decoded, gap < 0 ? -gap : 0, past_end);
}

int32_t SoundPipeline::append(uint8_t** data, int count, int32_t* past_end) {
    if (sample_limit_ >= 0) {
        const int64_t room = sample_limit_ - stored();
        if (room <= count) {
            *past_end = 1;
            count = static_cast<int>(std::max<int64_t>(room, 0));
            if (count == 0) return 0;
        }
    }
    int ret = av_audio_fifo_realloc(fifo_.get(), fifo_size() + count);
    if (ret >= 0) ret = av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(data), count);
    return ret < 0 ? error_.set(ret) : 0;
}

int32_t SoundPipeline::append_silence(int64_t count, int32_t* past_end) {
    const AVCodecContext* enc = out_->encoder();
    const int channels = enc->ch_layout.nb_channels;
    const int chunk = static_cast<int>(std::min<int64_t>(count, enc->sample_rate));
    SampleBuffers buffers;
    buffers.data = static_cast<uint8_t**>(std::calloc(channels, sizeof(uint8_t*)));
    if (buffers.data == nullptr) return out_of_memory("Colud Not allocate input frame");
    int ret = av_samples_alloc(buffers.data, nullptr, channels, chunk, enc->sample_fmt, 0);
    if (ret < 0) return error_.set(ret);
    av_samples_set_silence(buffers.data, 0, chunk, channels, enc->sample_fmt);
    for (int64_t left = count; left > 0 && !*past_end; left -= chunk) {
        ret = append(buffers.data, static_cast<int>(std::min<int64_t>(left, chunk)), past_end);
        if (ret < 0) return ret;
    }
    return 0;
}

int32_t SoundPipeline::convert_into_fifo(AVFrame* decoded, int64_t skip, int32_t* past_end) {
    const AVCodecContext* enc = out_->encoder();
    const int channels = enc->ch_layout.nb_channels;
    const int nb_samples = decoded->nb_samples;
    SampleBuffers buffers;
    buffers.data = static_cast<uint8_t**>(std::calloc(channels, sizeof(uint8_t*)));
    if (buffers.data == nullptr) return out_of_memory("Colud Not allocate input frame");
    int ret = av_samples_alloc(buffers.data, nullptr, channels, nb_samples, enc->sample_fmt, 0);
    if (ret < 0) return error_.set(ret);
    const int converted =
        swr_convert(swr_.get(), buffers.data, nb_samples,
                    const_cast<const uint8_t**>(decoded->extended_data), nb_samples);
    if (converted < 0) return error_.set(converted);
    if (skip >= converted) return 0;
    if (skip > 0) {
        // The samples that overlap stored sound (or come before the start) are left out.
        uint8_t* kept[AV_NUM_DATA_POINTERS] = {};
        const int planes = av_sample_fmt_is_planar(enc->sample_fmt) ? channels : 1;
        const int step = av_get_bytes_per_sample(enc->sample_fmt) *
                         (av_sample_fmt_is_planar(enc->sample_fmt) ? 1 : channels);
        for (int p = 0; p < planes && p < AV_NUM_DATA_POINTERS; ++p)
            kept[p] = buffers.data[p] + skip * step;
        return append(kept, converted - static_cast<int>(skip), past_end);
    }
    return append(buffers.data, converted, past_end);
}

int32_t SoundPipeline::receive_all(AVFrame* frame, int32_t* past_end) {
    for (;;) {
        const int ret = avcodec_receive_frame(decoder_, frame);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) return 0;
        if (ret == AVERROR_INVALIDDATA) continue;  // a damaged packet gives no sound
        if (ret < 0) return error_.set(ret);
        const int32_t stored = store(frame, past_end);
        av_frame_unref(frame);
        if (stored < 0) return stored;
    }
}

int32_t SoundPipeline::decode_audio_to_fifo(AVPacket* packet, int32_t* past_end) {
    if (decoder_ == nullptr || !swr_ || !fifo_) return error_.set(AVERROR(EINVAL));
    FramePtr frame = make_frame();
    if (!frame) return out_of_memory("Colud Not allocate input frame");
    int ret = avcodec_send_packet(decoder_, packet);
    if (ret == AVERROR(EAGAIN)) {
        ret = receive_all(frame.get(), past_end);
        if (ret < 0) return ret;
        ret = avcodec_send_packet(decoder_, packet);
    }
    // A second end-of-stream signal is no error, nor a packet the decoder finds damaged.
    if (ret == AVERROR_EOF && (packet == nullptr || packet->size == 0)) ret = 0;
    if (ret == AVERROR_INVALIDDATA) ret = 0;
    if (ret < 0) return error_.set(ret);
    ret = receive_all(frame.get(), past_end);
    if (ret < 0) return ret;
    return error_.set_code(0);
}

int32_t SoundPipeline::encode_audio_from_fifo() {
    if (out_ == nullptr || !fifo_) return error_.set(AVERROR(EINVAL));
    AVCodecContext* enc = out_->encoder();
    if (enc->frame_size == 0) enc->frame_size = kDefaultFrameSize;
    log_message(LOG_TRACE, "frame %d", enc->frame_size);
    const int n = std::min(fifo_size(), enc->frame_size);
    FramePtr frame = make_frame();
    if (!frame) return out_of_memory("Colud Not allocate input frame");
    frame->nb_samples = n;
    int ret = av_channel_layout_copy(&frame->ch_layout, &enc->ch_layout);
    if (ret < 0) return error_.set(ret);
    frame->format = enc->sample_fmt;
    frame->sample_rate = enc->sample_rate;
    ret = av_frame_get_buffer(frame.get(), 0);
    if (ret < 0) return error_.set(ret);
    if (av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(frame->data), n) < n) {
        error_.set_message("Colud Not read data from audio fifo");
        return error_.set_code(AVERROR_EXIT);
    }
    bool got = false;
    ret = out_->write_frame(frame.get(), &got);
    return ret < 0 ? error_.set(ret) : error_.set_code(0);
}

int32_t SoundPipeline::write_audio_packet(AVPacket* packet, int32_t* past_end, int32_t frame_size) {
    int32_t ret = decode_audio_to_fifo(packet, past_end);
    if (ret >= 0 && fifo_size() >= frame_size) {
        // With the end of the window reached, the FIFO is emptied, the last frame shorter.
        while (ret >= 0 && fifo_size() >= 1 && (fifo_size() >= frame_size || *past_end)) {
            ret = encode_audio_from_fifo();
        }
    }
    if (packet) av_packet_unref(packet);
    return ret < 0 ? ret : 0;
}

int32_t SoundPipeline::drain(int32_t* past_end) {
    if (out_ == nullptr) return 0;
    if (!*past_end) {
        const int32_t ret = decode_audio_to_fifo(nullptr, past_end);
        if (ret < 0) return ret;
    }
    while (fifo_size() > 0) {
        const int32_t ret = encode_audio_from_fifo();
        if (ret < 0) return ret;
    }
    for (bool got = true; got;) {
        const int ret = out_->write_frame(nullptr, &got);
        if (ret < 0) return error_.set(ret);
        error_.set_code(0);
    }
    return 0;
}

int32_t SoundPipeline::frame_size() const {
    if (out_ == nullptr || !*out_) return 0;
    const int size = out_->encoder()->frame_size;
    return size != 0 ? size : kDefaultFrameSize;
}

int SoundPipeline::fifo_size() const { return fifo_ ? av_audio_fifo_size(fifo_.get()) : 0; }

void SoundPipeline::reset() {
    swr_.reset();
    fifo_.reset();
    decoder_ = nullptr;
    stream_ = nullptr;
    out_ = nullptr;
    in_channels_ = 0;
    in_format_ = -1;
    sample_limit_ = -1;
    placed_ = false;
    zero_ = 0;
}

}  // namespace orbv
