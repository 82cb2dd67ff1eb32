// The audio track writer: the sound of slot 0 as 16-bit stereo PCM in a file of its own.
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
    if (audio_path == nullptr || !fmt_ctx[0] || audio_stream_idx[0] < 0) {
        return set_error(AVERROR(EINVAL));
    }
    auto fail = [&](int32_t code) {
        close_output();
        return code;
    };

    AVFormatContext* raw = nullptr;
    errnum = avformat_alloc_output_context2(&raw, nullptr, nullptr, audio_path);
    if (errnum < 0 || raw == nullptr) return fail(set_error(errnum < 0 ? errnum : AVERROR(ENOMEM)));
    ofmt_ctx.reset(raw);
    const AVOutputFormat* oformat = ofmt_ctx->oformat;
    log_message(LOG_TRACE, "[libavIF::write_audio] format name : %s (%s)", or_null(oformat->name),
                or_null(oformat->long_name));
    log_message(LOG_TRACE, "[libavIF::write_audio] format ext : %s", or_null(oformat->extensions));

    errnum = add_audio_stream(bit_rate);
    if (errnum < 0) return fail(errnum);
    errnum = init_swr_context();
    if (errnum < 0) return fail(errnum);
    errnum = init_audio_fifo();
    if (errnum < 0) return fail(errnum);
    if (!(oformat->flags & AVFMT_NOFILE)) {
        errnum = avio_open(&ofmt_ctx->pb, audio_path, AVIO_FLAG_WRITE);
        if (errnum < 0) return fail(set_error(errnum));
    }
    log_message(LOG_TRACE, "[libavIF::write_audio] codec id : %d", audio_enc_ctx->codec_id);
    log_message(LOG_TRACE, "[libavIF::write_audio] codec name : %s",
                avcodec_get_name(audio_enc_ctx->codec_id));
    errnum = avformat_write_header(ofmt_ctx.get(), nullptr);
    log_message(LOG_TRACE, "[libavIF::write_audio] header errnum : %d", errnum);
    if (errnum < 0) return fail(set_error(errnum));

    PacketPtr packet = make_packet();
    if (!packet) return fail(set_error(AVERROR(ENOMEM)));
    AVFormatContext* input = fmt_ctx[0].get();
    const AVStream* stream = input->streams[audio_stream_idx[0]];
    int32_t count = 0;
    bool first = true;
    int32_t past_end = 0;
    auto fifo_size = [&] { return av_audio_fifo_size(audio_fifo.get()); };

    for (;;) {
        const int32_t frame_size =
            audio_enc_ctx->frame_size != 0 ? audio_enc_ctx->frame_size : 1000;
        past_end = 0;
        log_message(LOG_TRACE, "[libavIF::write_audio] output_frame_size : %d", frame_size);
        const int ret = av_read_frame(input, packet.get());
        if (ret == AVERROR_EOF) break;
        if (ret < 0) return fail(set_error(ret));
        if (packet->stream_index != audio_stream_idx[0]) {
            av_packet_unref(packet.get());
            continue;
        }
        if (first) {
            first = false;
            progress.announce(
                estimate_audio_packets(input, stream, audio_dec_ctx[0].get(), packet.get()));
        }
        if (progress.report(++count)) {
            cancelled = true;
            av_packet_unref(packet.get());
            errnum = AVERROR_EXIT;
            return fail(AVERROR_EXIT);
        }
        errnum = decode_audio_to_fifo(0, packet.get(), &past_end, -1.0f, -1.0f);
        if (errnum < 0) {
            av_packet_unref(packet.get());
            return fail(errnum);
        }
        if (fifo_size() >= frame_size) {
            while (fifo_size() >= frame_size || (past_end && fifo_size() > 0)) {
                errnum = encode_audio_from_fifo();
                if (errnum < 0) {
                    av_packet_unref(packet.get());
                    return fail(errnum);
                }
            }
        }
        av_packet_unref(packet.get());
    }

    // A sound track none of whose packets could be read gives no audio file.
    if (first) return fail(set_error(AVERROR_EOF));
    // The decoder may still hold samples of the last packets.
    past_end = 0;
    errnum = decode_audio_to_fifo(0, nullptr, &past_end, -1.0f, -1.0f);
    if (errnum < 0) return fail(errnum);
    while (fifo_size() > 0) {
        errnum = encode_audio_from_fifo();
        if (errnum < 0) return fail(errnum);
    }
    int32_t got = 0;
    do {
        errnum = encode_audio_frame(nullptr, &got);
        if (errnum < 0) return fail(errnum);
    } while (got);
    errnum = av_write_trailer(ofmt_ctx.get());
    if (errnum < 0) return fail(set_error(errnum));
    close_output();
    return 0;
}

}  // namespace orbv
