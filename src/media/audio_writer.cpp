// The audio track writer: the sound of slot 0 in stereo in a file of its own (16-bit PCM, or
// AAC or FLAC where the file's name asks for them).
#include "media/libav_if.h"
#include "util/log.h"

namespace orbv {

// The announced number of audio packets: the stream's length divided by the length of the
// first packet. When that packet states no duration, its length comes from its size (PCM and
// other codecs of fixed frame size) or from the decoder's frame size; when the stream states
// no length, the container's is used. Unknown stays 0.
int64_t libavIF::estimate_audio_packets(const AVFormatContext* fmt, const AVStream* stream,
                                        const AVCodecContext* decoder, const AVPacket* packet) {
    int64_t per_packet = packet->duration;
    if (per_packet <= 0) {
        int samples = av_get_audio_frame_duration2(stream->codecpar, packet->size);
        if (samples <= 0) samples = decoder->frame_size;
        if (samples > 0 && decoder->sample_rate > 0) {
            per_packet =
                av_rescale_q(samples, AVRational{1, decoder->sample_rate}, stream->time_base);
        }
    }
    int64_t total = stream->duration;
    if (total == AV_NOPTS_VALUE || total <= 0) {
        total = (fmt->duration != AV_NOPTS_VALUE && fmt->duration > 0)
                    ? av_rescale_q(fmt->duration, AV_TIME_BASE_Q, stream->time_base)
                    : 0;
    }
    return per_packet > 0 ? total / per_packet : 0;
}

int32_t libavIF::write_audio(const char* audio_path, int32_t bit_rate, ProgressReporter& progress) {
    if (audio_path == nullptr || !slots_[0].is_open() || slots_[0].audio_index() < 0) {
        return error_.set(AVERROR(EINVAL));
    }
    int32_t ret = open_audio_output(audio_path, bit_rate);
    if (ret == 0) ret = copy_sound(progress);
    if (ret == 0) {
        ret = error_.set_code(output_.write_trailer());
        if (ret < 0) error_.set(ret);
    }
    close_output();
    return ret < 0 ? ret : 0;
}

int32_t libavIF::open_audio_output(const char* audio_path, int32_t bit_rate) {
    int32_t ret = error_.set_code(output_.create(audio_path, nullptr));
    if (ret < 0) return error_.set(ret);
    const AVOutputFormat* format = output_.format();
    log_message(LOG_TRACE, "[libavIF::write_audio] format name : %s (%s)", or_null(format->name),
                or_null(format->long_name));
    log_message(LOG_TRACE, "[libavIF::write_audio] format ext : %s", or_null(format->extensions));
    InputSlot& input = slots_[0];
    ret = error_.set_code(output_.add_audio_stream(bit_rate, input.audio_decoder(), error_));
    if (ret >= 0) {
        ret = error_.set_code(
            sound_.init_swr_context(input.audio_decoder(), input.audio_stream(), &output_.audio()));
    }
    if (ret >= 0) ret = error_.set_code(sound_.init_audio_fifo());
    if (ret < 0) return ret;
    ret = error_.set_code(output_.open_file(audio_path));
    if (ret < 0) return error_.set(ret);
    const AVCodecContext* encoder = output_.audio().encoder();
    log_message(LOG_TRACE, "[libavIF::write_audio] codec id : %d", encoder->codec_id);
    log_message(LOG_TRACE, "[libavIF::write_audio] codec name : %s",
                avcodec_get_name(encoder->codec_id));
    ret = error_.set_code(output_.write_header());
    log_message(LOG_TRACE, "[libavIF::write_audio] header errnum : %d", ret);
    return ret < 0 ? error_.set(ret) : 0;
}

// The packet loop: every audio packet of slot 0 is counted, reported, decoded into the FIFO and
// encoded frame by frame; at the end of the file the sound is drained.
int32_t libavIF::copy_sound(ProgressReporter& progress) {
    InputSlot& input = slots_[0];
    PacketPtr packet = make_packet();
    if (!packet) return error_.set(AVERROR(ENOMEM));
    int32_t count = 0;
    int32_t past_end = 0;
    for (;;) {
        const int32_t frame_size = sound_.frame_size();
        past_end = 0;
        log_message(LOG_TRACE, "[libavIF::write_audio] output_frame_size : %d", frame_size);
        const int ret = input.read_packet(packet.get());
        if (ret == AVERROR_EOF) break;
        if (ret < 0) return error_.set(ret);
        if (packet->stream_index != input.audio_index()) {
            av_packet_unref(packet.get());
            continue;
        }
        if (count == 0) {
            progress.announce(estimate_audio_packets(input.container(), input.audio_stream(),
                                                     input.audio_decoder(), packet.get()));
        }
        if (progress.report(++count)) {
            cancelled_ = true;
            av_packet_unref(packet.get());
            return error_.set_code(AVERROR_EXIT);
        }
        const int32_t written = sound_.write_audio_packet(packet.get(), &past_end, frame_size);
        if (written < 0) return written;
    }
    // A sound track none of whose packets could be read gives no audio file.
    if (count == 0) return error_.set(AVERROR_EOF);
    // The decoder may still hold samples of the last packets.
    past_end = 0;
    return sound_.drain(&past_end);
}

}  // namespace orbv
