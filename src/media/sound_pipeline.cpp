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

Status SoundPipeline::out_of_memory(const char* message) { return {AVERROR(ENOMEM), message}; }

Status SoundPipeline::init_swr_context(const SoundEnds& ends, const AVStream* stream) {
    reset();
    const AVCodecContext* decoder = ends.decoder;
    if (decoder == nullptr || stream == nullptr || !ends.out) return AVERROR(EINVAL);
    const AVCodecContext* enc = ends.out.encoder();
    swr_.reset(swr_alloc());
    if (!swr_) return AVERROR(ENOMEM);
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
    const int ret = swr_init(swr);
    if (ret < 0) return ret;
    time_base_ = stream->time_base;
    connected_ = true;
    in_channels_ = decoder->ch_layout.nb_channels;
    in_format_ = decoder->sample_fmt;
    return 0;
}

Status SoundPipeline::init_audio_fifo(const SoundEnds& ends) {
    if (!connected_) return AVERROR(EINVAL);
    const AVCodecContext* enc = ends.out.encoder();
    fifo_.reset(av_audio_fifo_alloc(enc->sample_fmt, enc->ch_layout.nb_channels, 1));
    if (!fifo_) return out_of_memory("Colud Not allocate Audio Fifo");
    return 0;
}

int64_t SoundPipeline::stored(const SoundEnds& ends) const {
    return (connected_ ? ends.out.next_pts() : 0) + fifo_size();
}

int64_t SoundPipeline::gap_before(const SoundEnds& ends, const AVFrame* decoded) const {
    if (!placed_ || decoded->pts == AV_NOPTS_VALUE) return 0;
    const int rate = ends.decoder->sample_rate;
    const double t = av_q2d(time_base_) * static_cast<double>(decoded->pts) - zero_;
    const int64_t gap = std::llround(t * rate) - stored(ends);
    // Timestamps rounded by the container leave small steps: they are no gap.
    const bool at_start = stored(ends) == 0 && gap < 0;
    return (at_start || std::llabs(gap) > rate / 100) ? gap : 0;
}

Status SoundPipeline::store(const SoundEnds& ends, AVFrame* decoded, int32_t* past_end) {
    if (*past_end) *past_end = 0;
    decoded->pts = decoded->best_effort_timestamp;
    if (decoded->ch_layout.nb_channels != in_channels_ || decoded->format != in_format_) {
        return AVERROR_INPUT_CHANGED;
    }
    const int64_t gap = gap_before(ends, decoded);
    if (gap > 0) {
        const Status ret = append_silence(ends, gap, past_end);
        if (ret.failed() || *past_end) return ret;
    }
    if (-gap >= decoded->nb_samples) return 0;
    return convert_into_fifo(ends, decoded, gap < 0 ? -gap : 0, past_end);
}

Status SoundPipeline::append(const SoundEnds& ends, uint8_t** data, int count, int32_t* past_end) {
    if (sample_limit_ >= 0) {
        const int64_t room = sample_limit_ - stored(ends);
        if (room <= count) {
            *past_end = 1;
            count = static_cast<int>(std::max<int64_t>(room, 0));
            if (count == 0) return 0;
        }
    }
    int ret = av_audio_fifo_realloc(fifo_.get(), fifo_size() + count);
    if (ret >= 0) ret = av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(data), count);
    return ret < 0 ? Status(ret) : Status();
}

Status SoundPipeline::append_silence(const SoundEnds& ends, int64_t count, int32_t* past_end) {
    const AVCodecContext* enc = ends.out.encoder();
    const int channels = enc->ch_layout.nb_channels;
    const int chunk = static_cast<int>(std::min<int64_t>(count, enc->sample_rate));
    SampleBuffers buffers;
    buffers.data = static_cast<uint8_t**>(std::calloc(channels, sizeof(uint8_t*)));
    if (buffers.data == nullptr) return out_of_memory("Colud Not allocate input frame");
    int ret = av_samples_alloc(buffers.data, nullptr, channels, chunk, enc->sample_fmt, 0);
    if (ret < 0) return ret;
    av_samples_set_silence(buffers.data, 0, chunk, channels, enc->sample_fmt);
    for (int64_t left = count; left > 0 && !*past_end; left -= chunk) {
        const Status appended =
            append(ends, buffers.data, static_cast<int>(std::min<int64_t>(left, chunk)), past_end);
        if (appended.failed()) return appended;
    }
    return 0;
}

Status SoundPipeline::convert_into_fifo(const SoundEnds& ends, AVFrame* decoded, int64_t skip,
                                        int32_t* past_end) {
    int converted = 0;
    return convert(ends, const_cast<const uint8_t**>(decoded->extended_data), decoded->nb_samples,
                   skip, past_end, &converted);
}

Status SoundPipeline::convert(const SoundEnds& ends, const uint8_t** in, int count, int64_t skip,
                              int32_t* past_end, int* converted_out) {
    const AVCodecContext* enc = ends.out.encoder();
    const int channels = enc->ch_layout.nb_channels;
    // As many as come in at one rate; a resampler that changes the rate says how many.
    const int room = swr_get_out_samples(swr_.get(), count);
    if (room < 0) return room;
    if (room == 0) return 0;
    SampleBuffers buffers;
    buffers.data = static_cast<uint8_t**>(std::calloc(channels, sizeof(uint8_t*)));
    if (buffers.data == nullptr) return out_of_memory("Colud Not allocate input frame");
    int ret = av_samples_alloc(buffers.data, nullptr, channels, room, enc->sample_fmt, 0);
    if (ret < 0) return ret;
    const int converted = swr_convert(swr_.get(), buffers.data, room, in, count);
    if (converted < 0) return converted;
    *converted_out = converted;
    if (skip >= converted) return 0;
    if (skip > 0) {
        // The samples that overlap stored sound (or come before the start) are left out.
        uint8_t* kept[AV_NUM_DATA_POINTERS] = {};
        const int planes = av_sample_fmt_is_planar(enc->sample_fmt) ? channels : 1;
        const int step = av_get_bytes_per_sample(enc->sample_fmt) *
                         (av_sample_fmt_is_planar(enc->sample_fmt) ? 1 : channels);
        for (int p = 0; p < planes && p < AV_NUM_DATA_POINTERS; ++p)
            kept[p] = buffers.data[p] + skip * step;
        return append(ends, kept, converted - static_cast<int>(skip), past_end);
    }
    return append(ends, buffers.data, converted, past_end);
}

Status SoundPipeline::receive_all(const SoundEnds& ends, AVFrame* frame, int32_t* past_end) {
    for (;;) {
        const int ret = avcodec_receive_frame(ends.decoder, frame);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) return 0;
        if (ret == AVERROR_INVALIDDATA) continue;  // a damaged packet gives no sound
        if (ret < 0) return ret;
        const Status stored = store(ends, frame, past_end);
        av_frame_unref(frame);
        if (stored.failed()) return stored;
    }
}

Status SoundPipeline::decode_audio_to_fifo(const SoundEnds& ends, AVPacket* packet,
                                           int32_t* past_end) {
    if (ends.decoder == nullptr || !swr_ || !fifo_) return AVERROR(EINVAL);
    FramePtr frame = make_frame();
    if (!frame) return out_of_memory("Colud Not allocate input frame");
    int ret = avcodec_send_packet(ends.decoder, packet);
    if (ret == AVERROR(EAGAIN)) {
        const Status received = receive_all(ends, frame.get(), past_end);
        if (received.failed()) return received;
        ret = avcodec_send_packet(ends.decoder, packet);
    }
    // A second end-of-stream signal is no error, nor a packet the decoder finds damaged.
    if (ret == AVERROR_EOF && (packet == nullptr || packet->size == 0)) ret = 0;
    if (ret == AVERROR_INVALIDDATA) ret = 0;
    if (ret < 0) return ret;
    return receive_all(ends, frame.get(), past_end);
}

Status SoundPipeline::encode_audio_from_fifo(const SoundEnds& ends) {
    if (!connected_ || !fifo_) return AVERROR(EINVAL);
    AVCodecContext* enc = ends.out.encoder();
    if (enc->frame_size == 0) enc->frame_size = kDefaultFrameSize;
    log_message(LOG_TRACE, "frame %d", enc->frame_size);
    const int n = std::min(fifo_size(), enc->frame_size);
    FramePtr frame = make_frame();
    if (!frame) return out_of_memory("Colud Not allocate input frame");
    frame->nb_samples = n;
    int ret = av_channel_layout_copy(&frame->ch_layout, &enc->ch_layout);
    if (ret < 0) return ret;
    frame->format = enc->sample_fmt;
    frame->sample_rate = enc->sample_rate;
    ret = av_frame_get_buffer(frame.get(), 0);
    if (ret < 0) return ret;
    if (av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(frame->data), n) < n) {
        return Status(AVERROR_EXIT, "Colud Not read data from audio fifo");
    }
    bool got = false;
    ret = ends.out.write_frame(frame.get(), &got);
    return ret < 0 ? Status(ret) : Status();
}

Status SoundPipeline::write_audio_packet(const SoundEnds& ends, AVPacket* packet, int32_t* past_end,
                                         int32_t frame_size) {
    Status ret = decode_audio_to_fifo(ends, packet, past_end);
    if (!ret.failed() && fifo_size() >= frame_size) {
        // With the end of the window reached, the FIFO is emptied, the last frame shorter.
        while (!ret.failed() && fifo_size() >= 1 && (fifo_size() >= frame_size || *past_end)) {
            ret = encode_audio_from_fifo(ends);
        }
    }
    if (packet) av_packet_unref(packet);
    return ret.failed() ? ret : Status();
}

Status SoundPipeline::drain(const SoundEnds& ends, int32_t* past_end) {
    if (!connected_) return 0;
    if (!*past_end) {
        const Status ret = decode_audio_to_fifo(ends, nullptr, past_end);
        if (ret.failed()) return ret;
        // A resampler that changes the rate holds the last samples back.
        for (int converted = 1; converted > 0 && !*past_end;) {
            converted = 0;
            const Status flushed = convert(ends, nullptr, 0, 0, past_end, &converted);
            if (flushed.failed()) return flushed;
        }
    }
    while (fifo_size() > 0) {
        const Status ret = encode_audio_from_fifo(ends);
        if (ret.failed()) return ret;
    }
    for (bool got = true; got;) {
        const int ret = ends.out.write_frame(nullptr, &got);
        if (ret < 0) return ret;
    }
    return 0;
}

int32_t SoundPipeline::frame_size(const EncodedStream& out) const {
    if (!connected_ || !out) return 0;
    const int size = out.encoder()->frame_size;
    return size != 0 ? size : kDefaultFrameSize;
}

int SoundPipeline::fifo_size() const { return fifo_ ? av_audio_fifo_size(fifo_.get()) : 0; }

void SoundPipeline::reset() {
    swr_.reset();
    fifo_.reset();
    time_base_ = AVRational{0, 1};
    connected_ = false;
    in_channels_ = 0;
    in_format_ = -1;
    sample_limit_ = -1;
    placed_ = false;
    zero_ = 0;
}

}  // namespace orbv
