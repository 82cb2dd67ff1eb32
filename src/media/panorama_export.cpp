// The video export loop: the two lens inputs read side by side, their pictures paired,
// stitched and encoded, one input's sound copied, progress reported, and the output finished.
#include "media/panorama_export.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "media/container_rules.h"
#include "util/log.h"

namespace orbv {

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

PanoramaExport::PanoramaExport(InputSlot lens1, InputSlot lens2, ExportParams params)
    : params_(std::move(params)) {
    slots_[0] = std::move(lens1);
    slots_[1] = std::move(lens2);
}

PanoramaExport::~PanoramaExport() = default;

JobOutcome PanoramaExport::write_video(const char* export_path, ProgressReporter& progress) {
    const Clock::time_point began = Clock::now();
    JobOutcome outcome;
    outcome.result = run(export_path, progress);
    output_.close();
    sound_.reset();
    timings_.total = seconds_since(began);
    outcome.pictures = pictures_;
    outcome.cancelled = cancelled_;
    outcome.error = error_;
    outcome.timings = timings_;
    return outcome;
}

int PanoramaExport::video_source() const {
    return slots_[0].container()->duration > slots_[1].container()->duration ? 0 : 1;
}

FrameClock PanoramaExport::clock() const {
    const int source = video_source();
    const int timed = slots_[source].still() ? 1 - source : source;
    return slots_[timed].still() ? FrameClock() : frame_clock_for(slots_[timed].video_stream());
}

int64_t PanoramaExport::frames() const {
    const FrameClock clock = this->clock();
    const TimeWindow* windows[2] = {&params_.window1, &params_.window2};
    int64_t count = 0;
    for (int s = 0; s < 2; ++s) {
        if (slots_[s].still() || !clock) continue;
        const int64_t frames = windows[s]->frames(slots_[s].video_duration(), clock.period());
        if (frames > 0) count = count == 0 ? frames : std::min(count, frames);
    }
    return count;
}

int32_t PanoramaExport::run(const char* export_path, ProgressReporter& progress) {
    int32_t ret = set_up(export_path);
    if (ret < 0) return ret;
    position();
    for (int idle = 0;;) {
        bool changed = false;
        bool done = false;
        ret = pass(progress, &changed, &done);
        if (ret < 0) return ret;
        if (done) break;
        // Every pass reads, decodes or pairs something; a pass that cannot is a fault here.
        idle = changed ? 0 : idle + 1;
        if (idle > 1) return fail("stalled loop", error_.fail(AVERROR_BUG));
    }
    log_message(LOG_TRACE, "[libavIF::write_video] loop finished %d %d", in_[0].eof ? 1 : 0,
                in_[1].eof ? 1 : 0);
    return finish();
}

int32_t PanoramaExport::fail(const char* what, int32_t code) {
    log_message(LOG_ERROR, "[libavIF::write_video] %s error %d:%s", what, error_.code(),
                error_.text());
    return code;
}

int32_t PanoramaExport::decode_failed(int s, int32_t code) {
    error_.fail(code);
    return fail(s == 0 ? "decode_packet1" : "decode_packet2", code);
}

// --- Set-up ---------------------------------------------------------------------------------

int32_t PanoramaExport::set_up(const char* export_path) {
    int32_t ret = open_output(export_path);
    if (ret < 0) return ret;
    if (sound_slot_ >= 0) {
        ret = add_sound();
        if (ret < 0) return ret;
    }
    log_message(LOG_TRACE, "[libavIF::write_video] add video stream ");
    const InputSlot& source = slots_[video_source()];
    const AVCodecID codec = two_stills_ ? AV_CODEC_ID_MJPEG : AV_CODEC_ID_H264;
    ret = output_.add_video_stream(codec, params_.output_width, params_.output_height,
                                   source.video_decoder().get(), source.video_stream(), clock_,
                                   error_);
    if (ret < 0) return fail("add video stream", ret);
    // Lens pictures in the other range are converted: a JPEG is full range, a movie limited.
    converter_.set_output_range(two_stills_ ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG);
    if (is_sharing_mp4(output_.format())) {
        log_message(LOG_TRACE, "[libavIF::write_video] mp4: moov first, spherical video boxes");
        ret = prepare_sharing_mp4(output_.container(), output_.video().stream());
        if (ret < 0) return fail("mp4 boxes", error_.fail(ret));
    }
    if (!(output_.format()->flags & AVFMT_NOFILE)) {
        log_message(LOG_TRACE, "[libavIF::write_video] AV I/O open");
        ret = output_.open_file(export_path);
        if (ret < 0) return fail("AV I/O open", error_.fail(ret));
    }
    log_message(LOG_TRACE, "[libavIF::write_video] write header");
    ret = output_.write_header();
    if (ret < 0) return fail("write header", error_.fail(ret));

    packet_ = make_packet();
    for (LensInput& lens : in_) {
        lens.shown = make_frame();
        lens.next = make_frame();
        if (!lens.shown || !lens.next) return error_.fail(AVERROR(ENOMEM));
    }
    if (!packet_) return error_.fail(AVERROR(ENOMEM));
    pictures_ = 0;
    log_message(LOG_TRACE, "[libavIF::write_video] start loop");
    return 0;
}

// The container, named by the export path, and the choices it needs: the video codec (one
// Motion-JPEG picture for two stills, else H.264) and the input whose sound it carries.
int32_t PanoramaExport::open_output(const char* export_path) {
    log_message(LOG_TRACE, "[libavIF::write_video] open outputfile %s", or_null(export_path));
    if (!slots_[0].is_open() || !slots_[1].is_open()) {
        return fail("open outputfile", error_.fail(AVERROR(EINVAL)));
    }
    const int32_t ret = output_.create(export_path, nullptr);
    if (ret < 0) return fail("open outputfile", error_.fail(ret));
    const AVOutputFormat* format = output_.format();
    log_message(LOG_TRACE, "[libavIF::write_video] format name : %s (%s)", or_null(format->name),
                or_null(format->long_name));
    log_message(LOG_TRACE, "[libavIF::write_video] format ext : %s", or_null(format->extensions));

    in_[0].still = slots_[0].still();
    in_[1].still = slots_[1].still();
    in_[0].window = params_.window1;
    in_[1].window = params_.window2;
    for (int s = 0; s < 2; ++s) {
        LensInput& lens = in_[s];
        lens.origin = slots_[s].picture_origin();
        lens.time_base = slots_[s].video_time_base();
        const FrameClock own = frame_clock_for(slots_[s].video_stream());
        lens.period = own ? own.period() : 0;
        if (lens.still) lens.window = TimeWindow();
    }
    two_stills_ = in_[0].still && in_[1].still;
    clock_ = clock();
    if (!two_stills_ && !clock_) {
        return fail("open outputfile",
                    error_.fail(AVERROR_EXIT, "%s", "Could not find the frame rate of the video"));
    }
    for (LensInput& lens : in_) {
        if (lens.period <= 0) lens.period = clock_ ? clock_.period() : 1;
    }
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
int32_t PanoramaExport::add_sound() {
    const InputSlot& source = slots_[sound_slot_];
    in_[sound_slot_].audio_done = false;
    log_message(LOG_TRACE, "[libavIF::write_video] add audio stream ");
    int32_t ret = output_.add_audio_stream(0, source.audio_decoder(), error_);
    if (ret < 0) return fail("add audio stream", ret);
    log_message(LOG_TRACE, "[libavIF::write_video] init swr_context ");
    ret = sound_.init_swr_context(sound_ends(), source.audio_stream());
    if (ret < 0) return fail("init swr_context", ret);
    log_message(LOG_TRACE, "[libavIF::write_video] init audio buffer ");
    ret = sound_.init_audio_fifo(sound_ends());
    if (ret < 0) return fail("init audio buffer", ret);
    return 0;
}

// Positioning: a movie that starts later is sought backwards to the key picture at or before
// its start; the pairing then passes over the pictures before it.
void PanoramaExport::position() {
    for (int s = 0; s < 2; ++s) {
        if (in_[s].window.start > 0 && !in_[s].still) slots_[s].seek(in_[s].window.start);
    }
    expected_ = frames();
    if (sound_slot_ >= 0) limit_sound();
}

// The sound plays with the pictures it played with in the source: its time 0 is the chosen
// lens's window start, and it never runs longer than the pictures the windows allow.
void PanoramaExport::limit_sound() {
    const LensInput& sound = in_[sound_slot_];
    sound_.place(sound.origin + sound.window.start);
    if (expected_ > 0 && clock_) {
        const double seconds = static_cast<double>(expected_) * clock_.period();
        sound_.limit_samples(std::llround(seconds * output_.audio().encoder()->sample_rate));
    }
}

// --- The loop -------------------------------------------------------------------------------

// One pass: one packet read from each input that needs one, then every pair that can be
// formed. *done once no more pairs can be formed and the sound is complete.
int32_t PanoramaExport::pass(ProgressReporter& progress, bool* changed, bool* done) {
    frame_size_ = sound_.frame_size(output_.audio());
    log_message(LOG_TRACE, "[libavIF::write_video] output_frame_size:%d", frame_size_);
    // An input whose decoder holds a picture is not read, so the two inputs go in lock step
    // and each holds a picture or two. Once no more pairs can come, an input is read only for
    // its sound.
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
        const int32_t ret = pair_step(progress, changed);
        if (ret < 0) return ret;
    }
    *done = pictures_done_ && in_[0].audio_done && in_[1].audio_done;
    return 0;
}

// Reads one packet of input s: sound of the chosen input goes through the sound pipeline,
// video to the decoder while pairs can come. *read_other tells that something other than a
// picture's packet was read.
int32_t PanoramaExport::read_input(int s, bool* read_other) {
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
    if (ret < 0) return fail(s == 0 ? "read_frame1" : "read_frame2", error_.fail(ret));
    if (packet->stream_index == slot.audio_index() && s == sound_slot_ && !lens.audio_done) {
        ret = sound_.write_audio_packet(sound_ends(), packet, &past_end_, frame_size_);
        if (ret < 0) return fail("wtire_audio", ret);
        if (past_end_) lens.audio_done = true;
        *read_other = true;
    } else if (packet->stream_index == slot.video_index() && wants_video(s)) {
        const Clock::time_point start = Clock::now();
        ret = decoder.send_packet(packet);
        timings_.decode += seconds_since(start);
        av_packet_unref(packet);
        if (ret < 0) return decode_failed(s, ret);
    } else {
        if (packet->stream_index != slot.video_index()) *read_other = true;
        av_packet_unref(packet);
    }
    return 0;
}

double PanoramaExport::target_time(int s) const {
    const AVRational tb = clock_.time_base;
    const double ticks = static_cast<double>(pictures_ * clock_.ticks);
    return in_[s].window.start + ticks * tb.num / tb.den;
}

// A picture's time from the lens's first picture; one without a timestamp follows the one
// before it by a frame period.
double PanoramaExport::picture_time(int s, const AVFrame* frame, double previous) const {
    const LensInput& lens = in_[s];
    if (frame->best_effort_timestamp == AV_NOPTS_VALUE) return previous + lens.period;
    return static_cast<double>(frame->best_effort_timestamp) * lens.time_base.num /
               lens.time_base.den -
           lens.origin;
}

// Pairing by time: each output picture shows, from each lens, the picture nearest to the lens's
// window start plus the output's time (a later picture wins a tie). A lens whose next picture
// is further away holds the one on screen; a lens without pictures left (its last more than
// half a frame past) ends the pairs, as does the end of a window. A still's picture goes with
// every picture of the movie; two stills give one pair.
int32_t PanoramaExport::pair_step(ProgressReporter& progress, bool* changed) {
    while (!pictures_done_) {
        for (int s = 0; s < 2; ++s) {
            if (!in_[s].still && !in_[s].window.contains(target_time(s))) {
                end_pictures();
                return 0;
            }
        }
        const Settled first = settle(0);
        const Settled second = settle(1);
        if (first == Settled::RunOut || second == Settled::RunOut) {
            end_pictures();
            return 0;
        }
        if (first == Settled::NeedMore || second == Settled::NeedMore) return 0;
        *changed = true;
        if (progress.report(pictures_ + 1)) {
            log_message(LOG_TRACE, "[libavIF::write_video] cancelled");
            cancelled_ = true;
            return error_.cancel();
        }
        const int32_t ret = convert_frame();
        if (ret < 0) return fail("convert_frame", ret);
        if (two_stills_) end_pictures();
    }
    return 0;
}

PanoramaExport::Settled PanoramaExport::settle(int s) {
    LensInput& lens = in_[s];
    VideoDecoder& decoder = slots_[s].video_decoder();
    if (lens.still) {
        if (!lens.have_shown && decoder.take_picture(lens.shown.get()) == 1) lens.have_shown = true;
        if (lens.have_shown) return Settled::Ready;
        return lens.eof ? Settled::RunOut : Settled::NeedMore;
    }
    const double target = target_time(s);
    const double half = lens.period / 2;
    for (;;) {
        if (lens.have_next && (!lens.have_shown || lens.next_time <= target + half)) {
            std::swap(lens.shown, lens.next);
            lens.shown_time = lens.next_time;
            lens.have_shown = true;
            lens.have_next = false;
        }
        if (lens.have_shown && lens.shown_time > target - half) return Settled::Ready;
        if (lens.have_next) return Settled::Ready;  // a gap: the picture on screen holds
        if (decoder.take_picture(lens.next.get()) == 1) {
            lens.next_time = picture_time(s, lens.next.get(), lens.shown_time);
            lens.have_next = true;
            continue;
        }
        return lens.eof ? Settled::RunOut : Settled::NeedMore;
    }
}

// No more pairs: the inputs are read on only for the sound, which never outlasts the
// pictures written.
void PanoramaExport::end_pictures() {
    pictures_done_ = true;
    if (sound_slot_ < 0 || !clock_) return;
    const double seconds = static_cast<double>(pictures_) * clock_.period();
    const int64_t samples = std::llround(seconds * output_.audio().encoder()->sample_rate);
    const int64_t limit = sound_.sample_limit();
    sound_.limit_samples(limit < 0 ? samples : std::min(limit, samples));
}

// Stitches the pair on screen into a frame the encoder no longer holds and encodes it; the
// output stream stamps it. 0 or a negative code, also left in the error.
int32_t PanoramaExport::convert_frame() {
    double encoding = 0;
    const Clock::time_point began = Clock::now();
    EncodedStream& video = output_.video();
    AVFrame* picture = video.writable_frame(AV_PIX_FMT_YUV420P);
    if (picture == nullptr) return error_.fail(AVERROR(ENOMEM));
    auto encode = [&](AVFrame* stitched) -> int32_t {
        const Clock::time_point start = Clock::now();
        bool got = false;
        const int ret = video.write_frame(stitched, &got);
        encoding += seconds_since(start);
        return ret < 0 ? error_.fail(ret) : 0;
    };
    // Maps made for another panorama size than the encoder's do not fit the frame: refused.
    const int32_t result = converter_.convert_frame(in_[0].shown.get(), in_[1].shown.get(),
                                                    params_.stitch, encode, picture);
    timings_.encode += encoding;
    timings_.stitch += seconds_since(began) - encoding;
    if (result < 0) return error_.fail(result);
    ++pictures_;
    return 0;
}

// --- Finish ---------------------------------------------------------------------------------

// The sound that ran to the end of its file, the pictures the encoder still holds, and the
// trailer.
int32_t PanoramaExport::finish() {
    if (sound_slot_ >= 0) {
        const int32_t ret = sound_.drain(sound_ends(), &past_end_);
        if (ret < 0) return ret;
    }
    EncodedStream& video = output_.video();
    for (bool got = true; got;) {
        const Clock::time_point start = Clock::now();
        const int ret = video.write_frame(nullptr, &got);
        timings_.encode += seconds_since(start);
        if (ret < 0) return error_.fail(ret);
    }
    if (video.encoder()->framerate.num > 0)
        video.stream()->r_frame_rate = video.encoder()->framerate;
    const int ret = output_.write_trailer();
    return ret < 0 ? error_.fail(ret) : 0;
}

}  // namespace orbv
