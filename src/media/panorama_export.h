#pragma once

#include <cstdint>

#include "media/export_params.h"
#include "media/frame_clock.h"
#include "media/frame_converter.h"
#include "media/input_slot.h"
#include "media/job_outcome.h"
#include "media/output_file.h"
#include "media/progress_reporter.h"
#include "media/sound_pipeline.h"
#include "util/ffmpeg_ptr.h"

namespace orbv {

// The export of one shot: the pictures of the two lens inputs paired by time, stitched into
// the panorama and encoded, with the sound of one input, into one output file. The job owns
// both inputs from its start, the output, the sound pipeline and the frame conversion.
class PanoramaExport {
  public:
    // Over two open inputs, lens 1 and lens 2, for the settings in `params`.
    PanoramaExport(InputSlot lens1, InputSlot lens2, ExportParams params);
    ~PanoramaExport();
    PanoramaExport(const PanoramaExport&) = delete;
    PanoramaExport& operator=(const PanoramaExport&) = delete;

    // The clock of the exported pictures: that of the movie the encoder is made for (the input
    // whose container is longer, lens 2 on a tie), or of the other input when that one is a
    // still. No ticks for two stills or a movie without a frame rate.
    FrameClock clock() const;
    // The pictures write_video gives: as many as fit in each movie's window and duration, the
    // fewer of the two; 0 when no movie states a duration or the clock is unknown, as for two
    // stills (whose one picture is no movie frame).
    int64_t frames() const;

    // Stitches the pictures pair by pair into the panorama file at export_path, with the sound
    // of the input params.audio_input names, reporting every pair. Runs once; the output is
    // closed on every return.
    JobOutcome write_video(const char* export_path, ProgressReporter& progress);

  private:
    // One lens input as the loop sees it. Its times are seconds from its first picture.
    struct LensInput {
        bool still = false;
        bool eof = false;        // the container is read to its end
        bool audio_done = true;  // no more sound is taken from it
        TimeWindow window;
        double origin = 0;  // the first picture's time on the stream's clock
        double period = 0;  // the stream's own frame period
        AVRational time_base{0, 1};
        // The picture on screen at the current output time, and the one after it once decoded.
        FramePtr shown;
        FramePtr next;
        bool have_shown = false;
        bool have_next = false;
        double shown_time = 0;
        double next_time = 0;
    };
    // What a lens can give for the current output time.
    enum class Settled { NeedMore, Ready, RunOut };

    int32_t run(const char* export_path, ProgressReporter& progress);
    int32_t set_up(const char* export_path);
    int32_t open_output(const char* export_path);
    int32_t add_sound();
    void position();
    void limit_sound();
    int32_t pass(ProgressReporter& progress, bool* changed, bool* done);
    int32_t read_input(int s, bool* read_other);
    int32_t pair_step(ProgressReporter& progress, bool* changed);
    Settled settle(int s);
    double picture_time(int s, const AVFrame* frame, double previous) const;
    // The time of lens s that the next output picture shows.
    double target_time(int s) const;
    void end_pictures();
    int32_t convert_frame();
    int32_t finish();

    // The input the encoder is made for: the one whose container is longer, lens 2 on a tie.
    int video_source() const;
    SoundEnds sound_ends() {
        return {slots_[sound_slot_].audio_decoder(), output_.audio(), error_};
    }
    // Logs "[libavIF::write_video] <what> error %d:%s" with the error; returns code.
    int32_t fail(const char* what, int32_t code);
    int32_t decode_failed(int s, int32_t code);
    bool wants_video(int s) const { return !pictures_done_ && !in_[s].eof; }

    InputSlot slots_[2];
    ExportParams params_;
    OutputFile output_;
    SoundPipeline sound_;
    FrameConverter converter_;
    MediaError error_;
    JobTimings timings_;

    LensInput in_[2];
    bool two_stills_ = false;
    int sound_slot_ = -1;  // the input whose sound the output carries, -1: none
    int32_t frame_size_ = 0;
    int32_t past_end_ = 0;        // the sound input's window is passed
    bool pictures_done_ = false;  // no later pair can come
    bool cancelled_ = false;
    FrameClock clock_;      // of the output pictures
    int64_t expected_ = 0;  // output pictures the windows and durations allow, 0: unknown
    int64_t pictures_ = 0;  // handed to the encoder
    PacketPtr packet_;
};

}  // namespace orbv
