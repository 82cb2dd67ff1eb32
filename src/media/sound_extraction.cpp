#include "media/sound_extraction.h"

#include "util/log.h"

namespace orbv {

// The announced number of audio packets: the stream's length divided by the length of the
// first packet. When that packet states no duration, its length comes from its size (PCM and
// other codecs of fixed frame size) or from the decoder's frame size; when the stream states
// no length, the container's is used. Unknown stays 0.
int64_t SoundExtraction::estimate_audio_packets(const AVFormatContext* fmt, const AVStream* stream,
                                                const AVCodecContext* decoder,
                                                const AVPacket* packet) {
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

JobOutcome SoundExtraction::write_audio(const char* audio_path, int32_t bit_rate,
                                        ProgressReporter& progress) {
    const int32_t result = write(audio_path, bit_rate, progress);
    if (result < 0) error_.fail(result);
    output_.close();
    sound_.reset();
    JobOutcome outcome;
    outcome.error = error_;
    return outcome;
}

int32_t SoundExtraction::write(const char* audio_path, int32_t bit_rate,
                               ProgressReporter& progress) {
    if (audio_path == nullptr || !input_.is_open() || input_.audio_index() < 0) {
        return error_.fail(AVERROR(EINVAL));
    }
    int32_t ret = open_audio_output(audio_path, bit_rate);
    if (ret == 0) ret = copy_sound(progress);
    if (ret < 0) return ret;
    ret = output_.write_trailer();
    return ret < 0 ? error_.fail(ret) : 0;
}

int32_t SoundExtraction::open_audio_output(const char* audio_path, int32_t bit_rate) {
    int32_t ret = output_.create(audio_path, nullptr);
    if (ret < 0) return error_.fail(ret);
    const AVOutputFormat* format = output_.format();
    log_message(LOG_TRACE, "[libavIF::write_audio] format name : %s (%s)", or_null(format->name),
                or_null(format->long_name));
    log_message(LOG_TRACE, "[libavIF::write_audio] format ext : %s", or_null(format->extensions));
    Status sound = output_.add_audio_stream(bit_rate, input_.audio_decoder());
    if (!sound.failed()) sound = sound_.init_swr_context(ends(), input_.audio_stream());
    if (!sound.failed()) sound = sound_.init_audio_fifo(ends());
    if (sound.failed()) return error_.record(sound);
    ret = output_.open_file(audio_path);
    if (ret < 0) return error_.fail(ret);
    const AVCodecContext* encoder = output_.audio().encoder();
    log_message(LOG_TRACE, "[libavIF::write_audio] codec id : %d", encoder->codec_id);
    log_message(LOG_TRACE, "[libavIF::write_audio] codec name : %s",
                avcodec_get_name(encoder->codec_id));
    ret = output_.write_header();
    log_message(LOG_TRACE, "[libavIF::write_audio] header errnum : %d", ret);
    return ret < 0 ? error_.fail(ret) : 0;
}

// The packet loop: every audio packet of the input is counted, reported, decoded into the FIFO and
// encoded frame by frame; at the end of the file the sound is drained.
int32_t SoundExtraction::copy_sound(ProgressReporter& progress) {
    InputSlot& input = input_;
    PacketPtr packet = make_packet();
    if (!packet) return error_.fail(AVERROR(ENOMEM));
    int32_t count = 0;
    int32_t past_end = 0;
    for (;;) {
        const int32_t frame_size = sound_.frame_size(output_.audio());
        past_end = 0;
        log_message(LOG_TRACE, "[libavIF::write_audio] output_frame_size : %d", frame_size);
        const int ret = input.read_packet(packet.get());
        if (ret == AVERROR_EOF) break;
        if (ret < 0) return error_.fail(ret);
        if (packet->stream_index != input.audio_index()) {
            av_packet_unref(packet.get());
            continue;
        }
        if (count == 0) {
            progress.announce(estimate_audio_packets(input.container(), input.audio_stream(),
                                                     input.audio_decoder(), packet.get()));
        }
        if (progress.report(++count)) {
            av_packet_unref(packet.get());
            return error_.cancel();
        }
        const Status written =
            sound_.write_audio_packet(ends(), packet.get(), &past_end, frame_size);
        if (written.failed()) return error_.record(written);
    }
    // A sound track none of whose packets could be read gives no audio file.
    if (count == 0) return error_.fail(AVERROR_EOF);
    // The decoder may still hold samples of the last packets.
    past_end = 0;
    const Status drained = sound_.drain(ends(), &past_end);
    return drained.failed() ? error_.record(drained) : 0;
}

}  // namespace orbv
