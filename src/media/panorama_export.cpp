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

// The lens decoders' pictures for the pairing; a lens read to its end gives no more.
struct PanoramaExport::Decoded {
    InputSlot* slots;
    const LensInput* in;
    bool take(int s, AVFrame* into) { return slots[s].video_decoder().take_picture(into) == 1; }
    bool ended(int s) const { return in[s].eof; }
};

PanoramaExport::PanoramaExport(InputSlot lens1, InputSlot lens2, ExportPlan plan)
    : plan_(std::move(plan)), pairing_(plan_.lens[0], plan_.lens[1], plan_.clock) {
    slots_[0] = std::move(lens1);
    slots_[1] = std::move(lens2);
}

PanoramaExport::~PanoramaExport() = default;

JobOutcome PanoramaExport::write_video(const char* export_path, ProgressReporter& progress) {
    const Clock::time_point began = Clock::now();
    // A step that stopped without a record still fails the job.
    const int32_t result = run(export_path, progress);
    if (result < 0) error_.fail(result);
    output_.close();
    sound_.reset();
    timings_.total = seconds_since(began);
    JobOutcome outcome;
    outcome.error = error_;
    outcome.pictures = pairing_.pictures();
    outcome.timings = timings_;
    return outcome;
}

int32_t PanoramaExport::run(const char* export_path, ProgressReporter& progress) {
    int32_t ret = set_up(export_path);
    if (ret < 0) return ret;
    position();
    for (int idle = 0;;) {
        const Pass pass = this->pass(progress);
        if (pass.code < 0) return pass.code;
        if (pass.done) break;
        // Every pass reads, decodes or pairs something; a pass that cannot is a fault here.
        idle = pass.moved ? 0 : idle + 1;
        if (idle > 1) return fail("stalled loop", AVERROR_BUG);
    }
    log_message(LOG_TRACE, "[libavIF::write_video] loop finished %d %d", in_[0].eof ? 1 : 0,
                in_[1].eof ? 1 : 0);
    return finish();
}

int32_t PanoramaExport::fail(const char* what, const Status& status) {
    error_.record(status);
    log_message(LOG_ERROR, "[libavIF::write_video] %s error %d:%s", what, error_.code(),
                error_.text());
    return status.code;
}

int32_t PanoramaExport::decode_failed(int s, int32_t code) {
    return fail(s == 0 ? "decode_packet1" : "decode_packet2", code);
}

// --- Set-up ---------------------------------------------------------------------------------

int32_t PanoramaExport::set_up(const char* export_path) {
    int32_t ret = open_output(export_path);
    if (ret < 0) return ret;
    if (plan_.sound_input >= 0) {
        ret = add_sound();
        if (ret < 0) return ret;
    }
    log_message(LOG_TRACE, "[libavIF::write_video] add video stream ");
    const InputSlot& source = slots_[plan_.video_source];
    const AVCodecID codec = plan_.two_stills ? AV_CODEC_ID_MJPEG : AV_CODEC_ID_H264;
    const ExportParams& params = plan_.params;
    const Status video =
        output_.add_video_stream(codec, params.output_width, params.output_height,
                                 source.video_decoder().get(), source.video_stream(), plan_.clock);
    if (video.failed()) return fail("add video stream", video);
    // Lens pictures in the other range are converted: a JPEG is full range, a movie limited.
    converter_.set_output_range(plan_.two_stills ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG);
    if (is_sharing_mp4(output_.format())) {
        log_message(LOG_TRACE, "[libavIF::write_video] mp4: moov first, spherical video boxes");
        ret = prepare_sharing_mp4(output_.container(), output_.video().stream());
        if (ret < 0) return fail("mp4 boxes", ret);
    }
    if (!(output_.format()->flags & AVFMT_NOFILE)) {
        log_message(LOG_TRACE, "[libavIF::write_video] AV I/O open");
        ret = output_.open_file(export_path);
        if (ret < 0) return fail("AV I/O open", ret);
    }
    log_message(LOG_TRACE, "[libavIF::write_video] write header");
    ret = output_.write_header();
    if (ret < 0) return fail("write header", ret);

    packet_ = make_packet();
    if (pairing_.allocate() < 0 || !packet_) return error_.fail(AVERROR(ENOMEM));
    frame_size_ = sound_.frame_size(output_.audio());
    log_message(LOG_TRACE, "[libavIF::write_video] start loop");
    return 0;
}

// The container, named by the export path, for the planned codec: one Motion-JPEG picture for
// two stills, else H.264.
int32_t PanoramaExport::open_output(const char* export_path) {
    log_message(LOG_TRACE, "[libavIF::write_video] open outputfile %s", or_null(export_path));
    if (!slots_[0].is_open() || !slots_[1].is_open()) {
        return fail("open outputfile", AVERROR(EINVAL));
    }
    const int32_t ret = output_.create(export_path, nullptr);
    if (ret < 0) return fail("open outputfile", ret);
    const AVOutputFormat* format = output_.format();
    log_message(LOG_TRACE, "[libavIF::write_video] format name : %s (%s)", or_null(format->name),
                or_null(format->long_name));
    log_message(LOG_TRACE, "[libavIF::write_video] format ext : %s", or_null(format->extensions));
    if (!plan_.has_clock()) {
        return fail("open outputfile",
                    {AVERROR_EXIT, "Could not find the frame rate of the video"});
    }
    log_message(LOG_TRACE, plan_.two_stills ? "[libavIF::write_video] codec use AV_CODEC_ID_MJPEG "
                                            : "[libavIF::write_video] codec use AV_CODEC_ID_H264 ");
    return 0;
}

// The sound stream, made for the chosen input's sound, with its resampler and FIFO.
int32_t PanoramaExport::add_sound() {
    const InputSlot& source = slots_[plan_.sound_input];
    in_[plan_.sound_input].audio_done = false;
    log_message(LOG_TRACE, "[libavIF::write_video] add audio stream ");
    Status ret = output_.add_audio_stream(0, source.audio_decoder());
    if (ret.failed()) return fail("add audio stream", ret);
    log_message(LOG_TRACE, "[libavIF::write_video] init swr_context ");
    ret = sound_.init_swr_context(sound_ends(), source.audio_stream());
    if (ret.failed()) return fail("init swr_context", ret);
    log_message(LOG_TRACE, "[libavIF::write_video] init audio buffer ");
    ret = sound_.init_audio_fifo(sound_ends());
    if (ret.failed()) return fail("init audio buffer", ret);
    return 0;
}

// Positioning: a movie that starts later is sought backwards to the key picture at or before
// its start; the pairing then passes over the pictures before it. The sound plays with the
// pictures it played with in the source: its time 0 is the chosen lens's window start, and it
// never runs longer than the pictures the windows allow.
void PanoramaExport::position() {
    for (int s = 0; s < 2; ++s) {
        const LensTiming& lens = plan_.lens[s];
        if (lens.window.start > 0 && !lens.still) slots_[s].seek(lens.window.start);
    }
    if (plan_.sound_input < 0) return;
    const LensTiming& sound = plan_.lens[plan_.sound_input];
    sound_.place(sound.origin + sound.window.start);
    const double seconds = plan_.sound_seconds();
    if (seconds > 0) sound_.limit_samples(samples_for(seconds, sample_rate()));
}

// --- The loop -------------------------------------------------------------------------------

// One pass: one packet read from each input that needs one, then every pair that can be
// formed. Done once no more pairs can be formed and the sound is complete.
PanoramaExport::Pass PanoramaExport::pass(ProgressReporter& progress) {
    log_message(LOG_TRACE, "[libavIF::write_video] output_frame_size:%d", frame_size_);
    // An input whose decoder holds a picture is not read, so the two inputs go in lock step
    // and each holds a picture or two. Once no more pairs can come, an input is read only for
    // its sound.
    Pass result;
    bool read_other = false;
    for (int s = 0; s < 2; ++s) {
        const LensInput& lens = in_[s];
        if (lens.eof) continue;
        if (wants_video(s) ? slots_[s].video_decoder().queued() > 0 : lens.audio_done) continue;
        result.moved = true;
        const int32_t read = read_input(s);
        if (read < 0) return {read};
        if (read > 0) read_other = true;
    }
    if (!read_other) {
        const int32_t written = write_pairs(progress);
        if (written < 0) return {written};
        if (written > 0) result.moved = true;
    }
    result.done = pairing_.ended() && in_[0].audio_done && in_[1].audio_done;
    return result;
}

// Reads one packet of input s: sound of the chosen input goes through the sound pipeline,
// video to the decoder while pairs can come. 1 when what was read is no picture's packet, 0
// when it is one or the input ended, or a negative code.
int32_t PanoramaExport::read_input(int s) {
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
    if (ret < 0) return fail(s == 0 ? "read_frame1" : "read_frame2", ret);
    if (packet->stream_index == slot.audio_index() && s == plan_.sound_input && !lens.audio_done) {
        const Status sound =
            sound_.write_audio_packet(sound_ends(), packet, &past_end_, frame_size_);
        if (sound.failed()) return fail("wtire_audio", sound);
        if (past_end_) lens.audio_done = true;
        return 1;
    }
    const bool picture = packet->stream_index == slot.video_index();
    if (picture && wants_video(s)) {
        const Clock::time_point start = Clock::now();
        ret = decoder.send_packet(packet);
        timings_.decode += seconds_since(start);
        av_packet_unref(packet);
        return ret < 0 ? decode_failed(s, ret) : 0;
    }
    av_packet_unref(packet);
    return picture ? 0 : 1;
}

// Writes every pair the decoded pictures allow: the count written, or a negative code. The
// end of the pairs limits the sound to the pictures written.
int32_t PanoramaExport::write_pairs(ProgressReporter& progress) {
    Decoded decoded{slots_, in_};
    int32_t written = 0;
    while (!pairing_.ended()) {
        const PicturePairing::Step step = pairing_.next(decoded);
        if (step == PicturePairing::Step::End) end_pictures();
        if (step != PicturePairing::Step::Pair) return written;
        if (progress.report(pairing_.pictures() + 1)) {
            log_message(LOG_TRACE, "[libavIF::write_video] cancelled");
            return error_.cancel();
        }
        ++written;
        const int32_t ret = convert_frame();
        if (ret < 0) return fail("convert_frame", ret);
        pairing_.paired();
    }
    return written;
}

// No more pairs: the inputs are read on only for the sound, which never outlasts the
// pictures written.
void PanoramaExport::end_pictures() {
    if (plan_.sound_input < 0 || !plan_.clock) return;
    const double seconds = static_cast<double>(pairing_.pictures()) * plan_.clock.period();
    const int64_t samples = samples_for(seconds, sample_rate());
    const int64_t limit = sound_.sample_limit();
    sound_.limit_samples(limit < 0 ? samples : std::min(limit, samples));
}

// Stitches the pair on screen into a frame the encoder no longer holds and encodes it; the
// output stream stamps it. 0 or a negative code.
int32_t PanoramaExport::convert_frame() {
    double encoding = 0;
    const Clock::time_point began = Clock::now();
    EncodedStream& video = output_.video();
    AVFrame* picture = video.writable_frame(AV_PIX_FMT_YUV420P);
    if (picture == nullptr) return AVERROR(ENOMEM);
    auto encode = [&](AVFrame* stitched) -> int32_t {
        const Clock::time_point start = Clock::now();
        bool got = false;
        const int ret = video.write_frame(stitched, &got);
        encoding += seconds_since(start);
        return ret < 0 ? ret : 0;
    };
    // Maps made for another panorama size than the encoder's do not fit the frame: refused.
    const int32_t result = converter_.convert_frame(pairing_.shown(0), pairing_.shown(1),
                                                    plan_.stitch, encode, picture);
    timings_.encode += encoding;
    timings_.stitch += seconds_since(began) - encoding;
    return result < 0 ? result : 0;
}

// --- Finish ---------------------------------------------------------------------------------

// The sound that ran to the end of its file, the pictures the encoder still holds, and the
// trailer.
int32_t PanoramaExport::finish() {
    if (plan_.sound_input >= 0) {
        const Status drained = sound_.drain(sound_ends(), &past_end_);
        if (drained.failed()) return error_.record(drained);
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
