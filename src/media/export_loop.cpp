// The video export loop: the two lens inputs read side by side, their pictures paired,
// stitched and encoded, one input's sound copied, progress reported, and the output finished.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

#include "media/container_rules.h"
#include "media/libav_if.h"
#include "stitch/frame_converter.h"
#include "util/log.h"

namespace orbv {

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
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
    bool has_end = false;    // an end time of 0 or less means the whole stream
    int64_t timestamp = -1;  // best-effort timestamp of the last picture received, -1: none
    FramePtr frame;
    // A movie whose pictures are all used up: no later pair can be formed.
    bool exhausted() const { return video_done && !have_frame; }
    // The exact end of the window for the sound, which reads 0 or less as "none".
    float sound_end() const { return has_end ? end : -1.0f; }
};

}  // namespace

// One export from set-up to finish. It keeps what lives for the export: the loop state of the
// two lens inputs, the frame conversion with its canvases, and the picture handed to the
// encoder. That picture owns its buffers, so the encoder takes a reference instead of a fresh
// copy per picture: allocating and zeroing tens of megabytes for every picture would cost more
// than the copy into the kept picture.
class libavIF::ExportRun {
  public:
    ExportRun(libavIF& media, const char* export_path, ExportParams params,
              ProgressReporter& progress)
        : media_(media),
          slots_(media.slots_),
          output_(media.output_),
          sound_(media.sound_),
          error_(media.error_),
          timings_(media.export_timings_),
          export_path_(export_path),
          params_(std::move(params)),
          progress_(progress) {}

    int32_t run();

  private:
    int32_t set_up();
    int32_t open_output();
    int32_t add_sound();
    void position();
    void limit_sound();
    int32_t pass(bool* changed, bool* done);
    int32_t read_input(int s, bool* read_other);
    int32_t pair_step(bool* changed);
    void accept_picture(int s);
    int32_t convert_frame();
    int32_t finish();

    // Logs "[libavIF::write_video] <what> error %d:%s" with the error; returns code.
    int32_t fail(const char* what, int32_t code);
    int32_t decode_failed(int s, int32_t code);
    // No later pair can come: a movie is used up, or two stills gave their one picture.
    bool pairs_possible() const {
        return !in_[0].exhausted() && !in_[1].exhausted() && !(two_stills_ && paired_);
    }
    bool wants_video(int s) const { return !in_[s].video_done && pairs_possible(); }

    libavIF& media_;
    InputSlot (&slots_)[2];
    OutputFile& output_;
    SoundPipeline& sound_;
    MediaError& error_;
    ExportTimings& timings_;
    const char* export_path_;
    ExportParams params_;
    ProgressReporter& progress_;

    LensInput in_[2];
    bool two_stills_ = false;
    int sound_slot_ = -1;  // the input whose sound the output carries, -1: none
    int32_t frame_size_ = 0;
    int32_t past_end_ = 0;  // the sound input's window is passed
    bool paired_ = false;
    PacketPtr packet_;
    FrameConverter converter_;
    FramePtr picture_ = make_frame();
};

int32_t libavIF::write_video(const char* export_path, ExportParams params,
                             ProgressReporter& progress) {
    const Clock::time_point began = Clock::now();
    export_timings_ = ExportTimings{};
    const int32_t result = ExportRun(*this, export_path, std::move(params), progress).run();
    close_output();
    export_timings_.total = seconds_since(began);
    return result;
}

int32_t libavIF::ExportRun::run() {
    int32_t ret = set_up();
    if (ret < 0) return ret;
    position();
    for (int idle = 0;;) {
        bool changed = false;
        bool done = false;
        ret = pass(&changed, &done);
        if (ret < 0) return ret;
        if (done) break;
        // Every pass reads, decodes or pairs something; a pass that cannot is a fault here.
        idle = changed ? 0 : idle + 1;
        if (idle > 1) return fail("decode_packet1", error_.set(AVERROR_BUG));
    }
    log_message(LOG_TRACE, "[libavIF::write_video] loop finished %d %d", in_[0].video_done ? 1 : 0,
                in_[1].video_done ? 1 : 0);
    return finish();
}

int32_t libavIF::ExportRun::fail(const char* what, int32_t code) {
    log_message(LOG_ERROR, "[libavIF::write_video] %s error %d:%s", what, error_.code(),
                error_.text());
    return code;
}

int32_t libavIF::ExportRun::decode_failed(int s, int32_t code) {
    error_.set(code);
    return fail(s == 0 ? "decode_packet1" : "decode_packet2", code);
}

// --- Set-up ---------------------------------------------------------------------------------

int32_t libavIF::ExportRun::set_up() {
    int32_t ret = open_output();
    if (ret < 0) return ret;
    if (sound_slot_ >= 0) {
        ret = add_sound();
        if (ret < 0) return ret;
    }
    log_message(LOG_TRACE, "[libavIF::write_video] add video stream ");
    const InputSlot& source = slots_[media_.video_source(1)];
    const AVCodecID codec = two_stills_ ? AV_CODEC_ID_MJPEG : AV_CODEC_ID_H264;
    ret = error_.set_code(
        output_.add_video_stream(codec, params_.output_width, params_.output_height,
                                 source.video_decoder().get(), source.video_stream(), error_));
    if (ret < 0) return fail("add video stream", ret);
    // Lens pictures in the other range are converted: a JPEG is full range, a movie limited.
    converter_.set_output_range(two_stills_ ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG);
    ret = error_.set_code(output_.set_creation_time(params_.datetime));
    if (ret < 0) return fail("add video stream", error_.set(ret));
    if (is_sharing_mp4(output_.format())) {
        log_message(LOG_TRACE, "[libavIF::write_video] mp4: moov first, spherical video boxes");
        ret = error_.set_code(prepare_sharing_mp4(output_.container(), output_.video().stream()));
        if (ret < 0) return fail("add video stream", error_.set(ret));
    }
    if (!(output_.format()->flags & AVFMT_NOFILE)) {
        log_message(LOG_TRACE, "[libavIF::write_video] AV I/O open");
        ret = error_.set_code(output_.open_file(export_path_));
        if (ret < 0) return fail("AV I/O open", error_.set(ret));
    }
    log_message(LOG_TRACE, "[libavIF::write_video] write header");
    ret = error_.set_code(output_.write_header());
    if (ret < 0) return fail("write header", error_.set(ret));

    packet_ = make_packet();
    for (LensInput& lens : in_) lens.frame = make_frame();
    if (!packet_ || !in_[0].frame || !in_[1].frame || !picture_) {
        return error_.set(AVERROR(ENOMEM));
    }
    media_.video_pts_ = 0;
    log_message(LOG_TRACE, "[libavIF::write_video] start loop");
    return 0;
}

// The container, named by the export path, and the choices it needs: the video codec (one
// Motion-JPEG picture for two stills, else H.264) and the input whose sound it carries.
int32_t libavIF::ExportRun::open_output() {
    log_message(LOG_TRACE, "[libavIF::write_video] open outputfile %s", or_null(export_path_));
    if (!slots_[0].is_open() || !slots_[1].is_open()) {
        return fail("open outputfile", error_.set(AVERROR(EINVAL)));
    }
    const int32_t ret = error_.set_code(output_.create(export_path_, nullptr));
    if (ret < 0) return fail("open outputfile", error_.set(ret));
    const AVOutputFormat* format = output_.format();
    log_message(LOG_TRACE, "[libavIF::write_video] format name : %s (%s)", or_null(format->name),
                or_null(format->long_name));
    log_message(LOG_TRACE, "[libavIF::write_video] format ext : %s", or_null(format->extensions));

    in_[0].still = slots_[0].still();
    in_[1].still = slots_[1].still();
    two_stills_ = in_[0].still && in_[1].still;
    log_message(LOG_TRACE, two_stills_ ? "[libavIF::write_video] codec use AV_CODEC_ID_MJPEG "
                                       : "[libavIF::write_video] codec use AV_CODEC_ID_H264 ");
    // The output carries the sound of the input the host chose; without sound there (or with
    // another choice) it carries none.
    const int chosen = params_.audio_input;
    if ((chosen == 0 || chosen == 1) && slots_[chosen].audio_index() != -1 &&
        slots_[chosen].audio_decoder() != nullptr) {
        sound_slot_ = chosen;
    }
    return 0;
}

// The sound stream, made for the chosen input's sound, with its resampler and FIFO.
int32_t libavIF::ExportRun::add_sound() {
    const InputSlot& source = slots_[sound_slot_];
    in_[sound_slot_].audio_done = false;
    log_message(LOG_TRACE, "[libavIF::write_video] add audio stream ");
    int32_t ret = error_.set_code(output_.add_audio_stream(0, source.audio_decoder(), error_));
    if (ret < 0) return fail("add audio stream", ret);
    log_message(LOG_TRACE, "[libavIF::write_video] init swr_context ");
    ret = error_.set_code(
        sound_.init_swr_context(source.audio_decoder(), source.audio_stream(), &output_.audio()));
    if (ret < 0) return fail("init swr_context", ret);
    log_message(LOG_TRACE, "[libavIF::write_video] init audio buffer ");
    ret = error_.set_code(sound_.init_audio_fifo());
    if (ret < 0) return fail("init audio buffer", ret);
    return 0;
}

// Positioning: a movie that starts later is sought backwards to the key picture at or before
// its start; the window then drops what comes before the start. The windows are widened by
// 1e-8 s on each side.
void libavIF::ExportRun::position() {
    in_[0].start = params_.start_time1;
    in_[1].start = params_.start_time2;
    in_[0].end = params_.end_time1;
    in_[1].end = params_.end_time2;
    for (int s = 0; s < 2; ++s) {
        in_[s].has_end = in_[s].end > 0;
        if (in_[s].start != 0 && !in_[s].still) slots_[s].seek(in_[s].start);
    }
    if (sound_slot_ >= 0) limit_sound();
    for (LensInput& lens : in_) {
        lens.start = static_cast<float>(static_cast<double>(lens.start) - 1e-8);
        if (lens.has_end) lens.end = static_cast<float>(static_cast<double>(lens.end) + 1e-8);
    }
}

// The sound never runs longer than the shorter picture span (the span of a movie is its
// window within its video stream), counted in samples: whole decoded frames would overshoot
// the window's end. The window's seconds are single precision: the count is rounded, not cut.
void libavIF::ExportRun::limit_sound() {
    double span[2];
    for (int s = 0; s < 2; ++s) {
        const AVStream* stream = slots_[s].video_stream();
        double length = std::numeric_limits<double>::infinity();
        if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
            length = av_q2d(stream->time_base) * static_cast<double>(stream->duration);
        }
        if (in_[s].has_end) length = std::min<double>(length, in_[s].end);
        span[s] = length - in_[s].start;
    }
    LensInput& sound = in_[sound_slot_];
    const int other = 1 - sound_slot_;
    double length = span[sound_slot_];
    if (!in_[other].still && span[sound_slot_] > span[other]) {
        sound.end = static_cast<float>(sound.start + span[other]);
        sound.has_end = true;
        length = span[other];
    }
    if (std::isfinite(length)) {
        const double samples = std::max(length, 0.0) * output_.audio().encoder()->sample_rate;
        sound_.limit_samples(std::llround(samples));
    }
}

// --- The loop -------------------------------------------------------------------------------

// One pass: one packet read from each input that needs one, then every pair that can be
// formed. *done once no more pairs can be formed and the sound is complete.
int32_t libavIF::ExportRun::pass(bool* changed, bool* done) {
    frame_size_ = sound_.frame_size();
    log_message(LOG_TRACE, "[libavIF::write_video] output_frame_size:%d", frame_size_);
    // An input whose decoded picture waits is not read, so the two inputs go in lock step and
    // each holds at most a picture or two. Once its pictures are of no more use, an input is
    // read only for its sound.
    bool read_other = false;
    for (int s = 0; s < 2; ++s) {
        const LensInput& lens = in_[s];
        if (lens.eof) continue;
        if (wants_video(s) ? slots_[s].video_decoder().queued() > 0 : lens.audio_done) continue;
        *changed = true;
        const int32_t ret = read_input(s, &read_other);
        if (ret < 0) return ret;
    }
    if (!read_other) {
        const int32_t ret = pair_step(changed);
        if (ret < 0) return ret;
    }
    for (int s = 0; s < 2; ++s) {
        if (in_[s].eof && slots_[s].video_decoder().queued() == 0 && !in_[s].have_frame) {
            in_[s].video_done = true;
        }
    }
    *done = !wants_video(0) && !wants_video(1) && in_[0].audio_done && in_[1].audio_done;
    return 0;
}

// Reads one packet of input s: sound of the chosen input goes through the sound pipeline,
// video to the decoder while its pictures are wanted. *read_other tells that something other
// than a picture's packet was read.
int32_t libavIF::ExportRun::read_input(int s, bool* read_other) {
    InputSlot& slot = slots_[s];
    LensInput& lens = in_[s];
    VideoDecoder& decoder = slot.video_decoder();
    AVPacket* packet = packet_.get();
    int32_t ret = slot.read_packet(packet);
    if (ret == AVERROR_EOF) {
        lens.eof = true;
        lens.audio_done = true;
        // The end of the stream releases every picture the decoder still holds.
        const Clock::time_point start = Clock::now();
        ret = decoder.drain();
        timings_.decode += seconds_since(start);
        return ret < 0 ? decode_failed(s, ret) : 0;
    }
    if (ret < 0) return fail(s == 0 ? "read_frame1" : "read_frame2", error_.set(ret));
    if (packet->stream_index == slot.audio_index() && s == sound_slot_ && !lens.audio_done) {
        ret = error_.set_code(sound_.write_audio_packet(packet, &past_end_, frame_size_, lens.start,
                                                        lens.sound_end()));
        if (ret < 0) return fail("wtire_audio", ret);
        if (past_end_) lens.audio_done = true;
        *read_other = true;
    } else if (packet->stream_index == slot.video_index() && wants_video(s)) {
        const Clock::time_point start = Clock::now();
        ret = decoder.send_packet(packet);
        timings_.decode += seconds_since(start);
        av_packet_unref(packet);
        if (ret < 0) return decode_failed(s, ret);
        // The first video packet starts the chain of timestamps.
        if (lens.timestamp < 0) lens.timestamp = 0;
    } else {
        if (packet->stream_index != slot.video_index()) *read_other = true;
        av_packet_unref(packet);
    }
    return 0;
}

// Pairing: the k-th accepted picture of one input goes with the k-th of the other; a still's
// picture goes with every picture of the movie. Each pair is reported, then converted.
int32_t libavIF::ExportRun::pair_step(bool* changed) {
    for (bool more = true; more;) {
        more = false;
        for (int s = 0; s < 2; ++s) {
            LensInput& lens = in_[s];
            if (lens.have_frame || !wants_video(s)) continue;
            if (slots_[s].video_decoder().take_picture(lens.frame.get()) == 1) {
                accept_picture(s);
                more = *changed = true;
            } else if (lens.eof) {
                lens.video_done = true;  // drained and every picture taken
            }
        }
        if (!in_[0].have_frame || !in_[1].have_frame || !pairs_possible()) continue;
        in_[0].have_frame = in_[0].still;
        in_[1].have_frame = in_[1].still;
        paired_ = more = *changed = true;
        if (progress_.report(std::max(in_[0].count, in_[1].count))) {
            log_message(LOG_TRACE, "[libavIF::write_video] cancelled");
            media_.cancelled_ = true;
            return error_.set_code(AVERROR_EXIT);
        }
        const int32_t ret = error_.set_code(convert_frame());
        if (ret < 0) return fail("convert_frame", ret);
    }
    return 0;
}

// The picture's window test uses the timestamp of the picture before it (0 for the first
// after the start or a seek); a still has no window.
void libavIF::ExportRun::accept_picture(int s) {
    LensInput& lens = in_[s];
    AVFrame* frame = lens.frame.get();
    frame->pts = lens.timestamp;
    if (frame->best_effort_timestamp != AV_NOPTS_VALUE)
        lens.timestamp = frame->best_effort_timestamp;
    if (!lens.still) {
        const double t = av_q2d(slots_[s].video_time_base()) * static_cast<double>(frame->pts);
        if (lens.start > t) return;
        if (lens.has_end && t > lens.end) {
            lens.video_done = true;
            return;
        }
    }
    lens.have_frame = true;
    ++lens.count;
}

// Stitches the waiting pair, stamps it with the next presentation time (then advanced by
// 1001) and encodes it. 0 or a negative code, also left in the error.
int32_t libavIF::ExportRun::convert_frame() {
    converter_.video_pts = media_.video_pts_;
    bool encoder_failed = false;
    double encoding = 0;
    const Clock::time_point began = Clock::now();
    auto encode = [&](AVFrame* stitched) -> int32_t {
        AVFrame* picture = picture_.get();
        const AVCodecContext* encoder = output_.video().encoder();
        // Maps made for another panorama size than the encoder's cannot be encoded.
        if (stitched->width != encoder->width || stitched->height != encoder->height) {
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
        bool got = false;
        ret = output_.video().write_frame(picture, &got);
        encoding += seconds_since(start);
        encoder_failed = ret < 0;
        return ret < 0 ? error_.set(ret) : error_.set_code(0);
    };
    const int32_t result =
        converter_.convert_frame(in_[0].frame.get(), in_[1].frame.get(), params_, encode);
    timings_.encode += encoding;
    timings_.stitch += seconds_since(began) - encoding;
    media_.video_pts_ = converter_.video_pts;
    // The encoder left its own text; the conversion's own refusals get FFmpeg's text.
    if (result < 0 && !encoder_failed) return error_.set(result);
    return error_.set_code(result);
}

// --- Finish ---------------------------------------------------------------------------------

// The sound that ran to the end of its file, the pictures the encoder still holds, and the
// trailer.
int32_t libavIF::ExportRun::finish() {
    if (sound_slot_ >= 0) {
        const LensInput& sound = in_[sound_slot_];
        const int32_t ret = sound_.drain(&past_end_, sound.start, sound.sound_end());
        if (ret < 0) return ret;
    }
    EncodedStream& video = output_.video();
    for (bool got = true; got;) {
        const Clock::time_point start = Clock::now();
        const int ret = video.write_frame(nullptr, &got);
        timings_.encode += seconds_since(start);
        if (ret < 0) return error_.set(ret);
    }
    if (video.encoder()->framerate.num > 0)
        video.stream()->r_frame_rate = video.encoder()->framerate;
    const int ret = error_.set_code(output_.write_trailer());
    return ret < 0 ? error_.set(ret) : error_.set_code(0);
}

}  // namespace orbv
