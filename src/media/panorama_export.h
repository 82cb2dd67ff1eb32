#pragma once

#include <cstdint>

#include "media/export_plan.h"
#include "media/frame_converter.h"
#include "media/input_slot.h"
#include "media/job_outcome.h"
#include "media/output_file.h"
#include "media/picture_pairing.h"
#include "media/progress_reporter.h"
#include "media/sound_pipeline.h"
#include "util/ffmpeg_ptr.h"

namespace orbv {

// The export of one shot as its plan says: the pictures of the two lens inputs paired by
// time, stitched into the panorama and encoded, with the sound of one input, into one output
// file. The job owns both inputs from its start, the output, the sound pipeline and the frame
// conversion.
class PanoramaExport {
  public:
    // Over two open inputs, lens 1 and lens 2, planned by plan_export.
    PanoramaExport(InputSlot lens1, InputSlot lens2, ExportPlan plan);
    ~PanoramaExport();
    PanoramaExport(const PanoramaExport&) = delete;
    PanoramaExport& operator=(const PanoramaExport&) = delete;

    // Stitches the pictures pair by pair into the panorama file at export_path, with the sound
    // of the planned input, reporting every pair. Runs once; the output is closed on every
    // return.
    JobOutcome write_video(const char* export_path, ProgressReporter& progress);

  private:
    // How far the loop has read a lens input.
    struct LensInput {
        bool eof = false;        // the container is read to its end
        bool audio_done = true;  // no more sound is taken from it
    };
    // What one pass of the loop did: a negative code, or whether it moved anything and
    // whether the export is complete.
    struct Pass {
        int32_t code = 0;
        bool moved = false;
        bool done = false;
    };
    // The pictures of the lens decoders, as the pairing takes them.
    struct Decoded;

    int32_t run(const char* export_path, ProgressReporter& progress);
    int32_t set_up(const char* export_path);
    int32_t open_output(const char* export_path);
    int32_t add_sound();
    void position();
    Pass pass(ProgressReporter& progress);
    int32_t read_input(int s);
    int32_t write_pairs(ProgressReporter& progress);
    void end_pictures();
    int32_t convert_frame();
    int32_t finish();

    SoundEnds sound_ends() { return {slots_[plan_.sound_input].audio_decoder(), output_.audio()}; }
    int sample_rate() { return output_.audio().encoder()->sample_rate; }
    // Records the status (the first failure stays) and logs
    // "[libavIF::write_video] <what> error %d:%s" with the record; returns the status's code.
    int32_t fail(const char* what, const Status& status);
    int32_t decode_failed(int s, int32_t code);
    bool wants_video(int s) const { return !pairing_.ended() && !in_[s].eof; }

    InputSlot slots_[2];
    const ExportPlan plan_;
    OutputFile output_;
    SoundPipeline sound_;
    FrameConverter converter_;
    MediaError error_;
    JobTimings timings_;

    LensInput in_[2];
    PicturePairing pairing_;
    int32_t frame_size_ = 0;  // of the output's sound frames
    int32_t past_end_ = 0;    // the sound input's window is passed
    PacketPtr packet_;
};

}  // namespace orbv
