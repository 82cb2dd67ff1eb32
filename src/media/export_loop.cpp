// The video export loop: the two lens inputs read side by side, their pictures paired,
// stitched and encoded, one input's sound copied, progress reported, and the output finished.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

extern "C" {
#include <libavutil/opt.h>
}

#include "media/libav_if.h"
#include "stitch/export_params.h"
#include "stitch/frame_converter.h"
#include "util/log.h"

namespace orbv {

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Writes the error line of a set-up step or exit: "[libavIF::write_video] <what> error %d:%s".
void log_failure(const char* what, int32_t errnum, const char* errstr) {
    log_message(LOG_ERROR, "[libavIF::write_video] %s error %d:%s", what, errnum, errstr);
}

// One lens input as the loop sees it.
struct LensInput {
    bool still = false;
    bool eof = false;         // the container is read to its end
    bool video_done = false;  // no later picture of this input can be used
    bool audio_done = true;   // no more sound is taken from it
    bool have_frame = false;  // `frame` holds an accepted picture that waits for its partner
    int32_t count = 0;        // pictures accepted inside the window
    float start = 0;
    float end = 0;
    bool has_end = false;  // an end time of 0 or less means the whole stream
    FramePtr frame;
    // A movie whose pictures are all used up: no later pair can be formed.
    bool exhausted() const { return video_done && !have_frame; }
};

// The exact end of a time window for the sound helpers, which read 0 or less as "none".
float sound_end(const LensInput& in) { return in.has_end ? in.end : -1.0f; }

// Restores a pointer member when the call that set it returns.
template <typename T>
class ScopedPointer {
  public:
    ScopedPointer(T*& slot, T* value) : slot_(slot), old_(slot) { slot_ = value; }
    ~ScopedPointer() { slot_ = old_; }
    ScopedPointer(const ScopedPointer&) = delete;
    ScopedPointer& operator=(const ScopedPointer&) = delete;

  private:
    T*& slot_;
    T* old_;
};

}  // namespace

// What an export keeps from pair to pair: the conversion's canvases and planes, and the
// picture handed to the encoder. That picture owns its buffers, so the encoder takes a
// reference instead of a fresh copy per picture: allocating and zeroing tens of megabytes
// for every picture would cost more than the copy into the kept picture.
struct ExportWork {
    FrameConverter converter;
    FramePtr picture = make_frame();
};

int32_t libavIF::convert_frame(AVFrame* frame1, AVFrame* frame2, ExportParams params) {
    ExportWork single;
    ExportWork& work = export_work_ != nullptr ? *export_work_ : single;
    FrameConverter& converter = work.converter;
    converter.video_pts = video_pts;
    bool encoder_failed = false;
    double encoding = 0;
    const Clock::time_point began = Clock::now();
    auto encode = [&](AVFrame* stitched) -> int32_t {
        AVFrame* picture = work.picture.get();
        if (picture == nullptr) return AVERROR(ENOMEM);
        // Maps made for another panorama size than the encoder's cannot be encoded.
        if (video_enc_ctx && (stitched->width != video_enc_ctx->width ||
                              stitched->height != video_enc_ctx->height)) {
            return AVERROR(EINVAL);
        }
        int ret = 0;
        if (picture->width != stitched->width || picture->height != stitched->height ||
            picture->format != stitched->format || picture->buf[0] == nullptr) {
            av_frame_unref(picture);
            picture->width = stitched->width;
            picture->height = stitched->height;
            picture->format = stitched->format;
            ret = av_frame_get_buffer(picture, 0);
        } else {
            ret = av_frame_make_writable(picture);  // a new buffer only if the encoder kept it
        }
        if (ret >= 0) ret = av_frame_copy(picture, stitched);
        if (ret < 0) return ret;
        picture->pts = stitched->pts;
        const Clock::time_point start = Clock::now();
        const int32_t encoded = encode_video_frame(picture);
        encoding += seconds_since(start);
        encoder_failed = encoded < 0;
        return encoded;
    };
    const int32_t result = converter.convert_frame(frame1, frame2, params, encode);
    export_timings.encode += encoding;
    export_timings.stitch += seconds_since(began) - encoding;
    video_pts = converter.video_pts;
    // The encoder left its own text; the conversion's own refusals get FFmpeg's text.
    if (result < 0 && !encoder_failed) return set_error(result);
    errnum = result;
    return result;
}

int32_t libavIF::write_video(const char* export_path, ExportParams params,
                             ProgressReporter& progress) {
    const Clock::time_point began = Clock::now();
    export_timings = ExportTimings{};
    // Every return closes the output and forgets the export's settings of the sound.
    auto leave = [&](int32_t code) {
        close_output();
        audio_source_slot = -1;
        audio_sample_limit = -1;
        export_timings.total = seconds_since(began);
        return code;
    };
    auto fail_logged = [&](const char* what, int32_t code) {
        log_failure(what, errnum, errstr);
        return leave(code);
    };

    log_message(LOG_TRACE, "[libavIF::write_video] open outputfile %s", or_null(export_path));
    if (!fmt_ctx[0] || !fmt_ctx[1] || !video_dec_ctx[0] || !video_dec_ctx[1]) {
        return fail_logged("open outputfile", set_error(AVERROR(EINVAL)));
    }
    AVFormatContext* raw = nullptr;
    errnum = avformat_alloc_output_context2(&raw, nullptr, nullptr, export_path);
    if (errnum < 0 || raw == nullptr) {
        set_error(errnum < 0 ? errnum : AVERROR(ENOMEM));
        return fail_logged("open outputfile", errnum);
    }
    ofmt_ctx.reset(raw);
    const AVOutputFormat* oformat = ofmt_ctx->oformat;
    // The image muxer would read a '%d' in the path as a sequence pattern and write another
    // file: the one picture goes to exactly the given path.
    if (std::strcmp(oformat->name, "image2") == 0) {
        av_opt_set_int(ofmt_ctx->priv_data, "update", 1, 0);
    }
    log_message(LOG_TRACE, "[libavIF::write_video] format name : %s (%s)", or_null(oformat->name),
                or_null(oformat->long_name));
    log_message(LOG_TRACE, "[libavIF::write_video] format ext : %s", or_null(oformat->extensions));

    LensInput in[2];
    in[0].still = still_input[0];
    in[1].still = still_input[1];
    const bool two_stills = in[0].still && in[1].still;
    AVCodecID codec = AV_CODEC_ID_H264;
    if (two_stills) {
        codec = AV_CODEC_ID_MJPEG;
        log_message(LOG_TRACE, "[libavIF::write_video] codec use AV_CODEC_ID_MJPEG ");
    } else {
        log_message(LOG_TRACE, "[libavIF::write_video] codec use AV_CODEC_ID_H264 ");
    }

    // The output carries the sound of the input the host chose, made for that input's sound;
    // without sound there (or with another choice) it carries none.
    const int sound = (params.audio_input == 0 || params.audio_input == 1) &&
                              audio_stream_idx[params.audio_input] != -1 &&
                              audio_dec_ctx[params.audio_input]
                          ? params.audio_input
                          : -1;
    if (sound >= 0) {
        audio_source_slot = sound;
        in[sound].audio_done = false;
        log_message(LOG_TRACE, "[libavIF::write_video] add audio stream ");
        errnum = add_audio_stream(0);
        if (errnum < 0) return fail_logged("add audio stream", errnum);
        log_message(LOG_TRACE, "[libavIF::write_video] init swr_context ");
        errnum = init_swr_context();
        if (errnum < 0) return fail_logged("init swr_context", errnum);
        log_message(LOG_TRACE, "[libavIF::write_video] init audio buffer ");
        errnum = init_audio_fifo();
        if (errnum < 0) return fail_logged("init audio buffer", errnum);
    }
    log_message(LOG_TRACE, "[libavIF::write_video] add video stream ");
    errnum = add_video_stream(codec, params.output_width, params.output_height, 1);
    if (errnum < 0) return fail_logged("add video stream", errnum);
    if (!(oformat->flags & AVFMT_NOFILE)) {
        log_message(LOG_TRACE, "[libavIF::write_video] AV I/O open");
        errnum = avio_open(&ofmt_ctx->pb, export_path, AVIO_FLAG_WRITE);
        if (errnum < 0) return fail_logged("AV I/O open", set_error(errnum));
    }
    log_message(LOG_TRACE, "[libavIF::write_video] write header");
    errnum = avformat_write_header(ofmt_ctx.get(), nullptr);
    if (errnum < 0) return fail_logged("write header", set_error(errnum));

    PacketPtr packet = make_packet();
    for (LensInput& lens : in) lens.frame = make_frame();
    if (!packet || !in[0].frame || !in[1].frame) return leave(set_error(AVERROR(ENOMEM)));
    ExportWork work;
    const ScopedPointer<ExportWork> active(export_work_, &work);
    video_pts = 0;
    audio_pts = 0;
    log_message(LOG_TRACE, "[libavIF::write_video] start loop");

    // Positioning: a movie that starts later is sought backwards to the key picture at or
    // before its start; the window then drops what comes before the start.
    in[0].start = params.start_time1;
    in[1].start = params.start_time2;
    in[0].end = params.end_time1;
    in[1].end = params.end_time2;
    for (int s = 0; s < 2; ++s) {
        in[s].has_end = in[s].end > 0;
        if (in[s].start == 0 || in[s].still) continue;
        const AVRational tb = video_time_base(s);
        const float ticks = static_cast<float>(tb.den) * in[s].start;
        const int64_t target =
            static_cast<int64_t>(std::floor(static_cast<double>(ticks) / tb.num));
        av_seek_frame(fmt_ctx[s].get(), video_stream_idx[s], target, AVSEEK_FLAG_BACKWARD);
        video_dec_ctx[s].flush();
        if (audio_dec_ctx[s]) avcodec_flush_buffers(audio_dec_ctx[s].get());
    }

    // Sound window: the sound never runs longer than the shorter picture span. The span of a
    // movie is its window within its video stream.
    double span[2];
    for (int s = 0; s < 2; ++s) {
        const AVStream* stream = input_video_stream(s);
        double length = std::numeric_limits<double>::infinity();
        if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
            length = av_q2d(stream->time_base) * static_cast<double>(stream->duration);
        }
        if (in[s].has_end) length = std::min<double>(length, in[s].end);
        span[s] = length - in[s].start;
    }
    if (sound >= 0) {
        const int other = 1 - sound;
        double length = span[sound];
        if (!in[other].still && span[sound] > span[other]) {
            in[sound].end = static_cast<float>(in[sound].start + span[other]);
            in[sound].has_end = true;
            length = span[other];
        }
        // Whole decoded frames would overshoot the window's end; the sample count does not.
        // (The window's seconds are single precision: the count is rounded, not cut.)
        if (std::isfinite(length)) {
            const double samples = std::max(length, 0.0) * audio_enc_ctx->sample_rate;
            audio_sample_limit = std::llround(samples);
        }
    }
    for (LensInput& lens : in) {
        lens.start = static_cast<float>(static_cast<double>(lens.start) - 1e-8);
        if (lens.has_end) lens.end = static_cast<float>(static_cast<double>(lens.end) + 1e-8);
    }
    video_ts1 = -1;
    video_ts2 = -1;
    int64_t* video_ts[2] = {&video_ts1, &video_ts2};
    int32_t past_end = 0;  // the sound input's window is passed
    bool paired = false;

    // No later pair can come: a movie is used up, or two stills gave their one picture.
    auto pairs_possible = [&] {
        return !in[0].exhausted() && !in[1].exhausted() && !(two_stills && paired);
    };
    auto wants_video = [&](int s) { return !in[s].video_done && pairs_possible(); };
    auto decode_failed = [&](int s, int32_t code) {
        set_error(code);
        return fail_logged(s == 0 ? "decode_packet1" : "decode_packet2", code);
    };
    // The picture's window test uses the timestamp of the picture before it (0 for the first
    // after the start or a seek); a still has no window.
    auto accept_picture = [&](int s) {
        LensInput& lens = in[s];
        AVFrame* frame = lens.frame.get();
        frame->pts = *video_ts[s];
        if (frame->best_effort_timestamp != AV_NOPTS_VALUE) {
            *video_ts[s] = frame->best_effort_timestamp;
        }
        if (!lens.still) {
            const double t = av_q2d(video_time_base(s)) * static_cast<double>(frame->pts);
            if (lens.start > t) return;
            if (lens.has_end && t > lens.end) {
                lens.video_done = true;
                return;
            }
        }
        lens.have_frame = true;
        ++lens.count;
    };

    for (int passes_without_change = 0;;) {
        const int32_t frame_size =
            audio_enc_ctx ? (audio_enc_ctx->frame_size != 0 ? audio_enc_ctx->frame_size : 1000) : 0;
        log_message(LOG_TRACE, "[libavIF::write_video] output_frame_size:%d", frame_size);
        bool changed = false;

        // Reading: one packet per input and pass. An input whose decoded picture waits is not
        // read, so the two inputs go in lock step and each holds at most a picture or two.
        // Once its pictures are of no more use, an input is read only for its sound.
        bool read_other = false;
        for (int s = 0; s < 2; ++s) {
            LensInput& lens = in[s];
            if (lens.eof) continue;
            if (wants_video(s) ? video_dec_ctx[s].queued() > 0 : lens.audio_done) continue;
            changed = true;
            const int ret = av_read_frame(fmt_ctx[s].get(), packet.get());
            if (ret == AVERROR_EOF) {
                lens.eof = true;
                lens.audio_done = true;
                // The end of the stream releases every picture the decoder still holds.
                const Clock::time_point start = Clock::now();
                const int drained = video_dec_ctx[s].drain();
                export_timings.decode += seconds_since(start);
                if (drained < 0) return decode_failed(s, drained);
                continue;
            }
            if (ret < 0) {
                set_error(ret);
                return fail_logged(s == 0 ? "read_frame1" : "read_frame2", ret);
            }
            if (packet->stream_index == audio_stream_idx[s] && s == sound && !lens.audio_done) {
                errnum = write_audio_packet(s, packet.get(), &past_end, frame_size, lens.start,
                                            sound_end(lens));
                if (errnum < 0) return fail_logged("wtire_audio", errnum);
                if (past_end) lens.audio_done = true;
                read_other = true;
            } else if (packet->stream_index == video_stream_idx[s]) {
                if (wants_video(s)) {
                    const Clock::time_point start = Clock::now();
                    const int sent = video_dec_ctx[s].send_packet(packet.get());
                    export_timings.decode += seconds_since(start);
                    av_packet_unref(packet.get());
                    if (sent < 0) return decode_failed(s, sent);
                    // The first video packet starts the chain of timestamps.
                    if (*video_ts[s] < 0) *video_ts[s] = 0;
                } else {
                    av_packet_unref(packet.get());
                }
            } else {
                av_packet_unref(packet.get());
                read_other = true;
            }
        }

        // Pairing: the k-th accepted picture of one input goes with the k-th of the other; a
        // still's picture goes with every picture of the movie.
        for (bool more = !read_other; more;) {
            more = false;
            for (int s = 0; s < 2; ++s) {
                LensInput& lens = in[s];
                if (lens.have_frame || !wants_video(s)) continue;
                if (video_dec_ctx[s].take_picture(lens.frame.get()) == 1) {
                    accept_picture(s);
                    more = changed = true;
                } else if (lens.eof) {
                    lens.video_done = true;  // drained and every picture taken
                }
            }
            if (!in[0].have_frame || !in[1].have_frame || !pairs_possible()) continue;
            in[0].have_frame = in[0].still;
            in[1].have_frame = in[1].still;
            paired = more = changed = true;
            if (progress.report(std::max(in[0].count, in[1].count))) {
                log_message(LOG_TRACE, "[libavIF::write_video] cancelled");
                cancelled = true;
                errnum = AVERROR_EXIT;
                return leave(AVERROR_EXIT);
            }
            errnum = convert_frame(in[0].frame.get(), in[1].frame.get(), params);
            if (errnum < 0) return fail_logged("convert_frame", errnum);
        }

        // The end: no more pairs can be formed and the sound is complete.
        for (int s = 0; s < 2; ++s) {
            if (in[s].eof && video_dec_ctx[s].queued() == 0 && !in[s].have_frame) {
                in[s].video_done = true;
            }
        }
        if (!wants_video(0) && !wants_video(1) && in[0].audio_done && in[1].audio_done) break;
        // Every pass reads, decodes or pairs something; a pass that cannot is a fault here.
        passes_without_change = changed ? 0 : passes_without_change + 1;
        if (passes_without_change > 1) return fail_logged("decode_packet1", set_error(AVERROR_BUG));
    }
    log_message(LOG_TRACE, "[libavIF::write_video] loop finished %d %d", in[0].video_done ? 1 : 0,
                in[1].video_done ? 1 : 0);

    // Sound that ran to the end of its file: what the decoder still holds, then what is left
    // in the FIFO, within the window and the sample count.
    if (audio_enc_ctx) {
        if (sound >= 0 && !past_end) {
            errnum = decode_audio_to_fifo(sound, nullptr, &past_end, in[sound].start,
                                          sound_end(in[sound]));
            if (errnum < 0) return leave(errnum);
        }
        while (audio_fifo && av_audio_fifo_size(audio_fifo.get()) > 0) {
            errnum = encode_audio_from_fifo();
            if (errnum < 0) return leave(errnum);
        }
        int32_t got = 0;
        do {
            errnum = encode_audio_frame(nullptr, &got);
            if (errnum < 0) return leave(errnum);
        } while (got);
    }
    // The pictures the encoder still holds.
    for (;;) {
        const Clock::time_point start = Clock::now();
        const int32_t drained = encode_video_frame(nullptr);
        export_timings.encode += seconds_since(start);
        if (drained < 0) return leave(drained);
        if (drained == 1) break;
    }
    if (video_enc_ctx && video_enc_ctx->framerate.num > 0) {
        video_stream->r_frame_rate = video_enc_ctx->framerate;
    }
    errnum = av_write_trailer(ofmt_ctx.get());
    if (errnum < 0) return leave(set_error(errnum));
    errnum = 0;
    return leave(0);
}

}  // namespace orbv
