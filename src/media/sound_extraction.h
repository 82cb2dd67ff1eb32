#pragma once

#include <cstdint>

#include "media/input_slot.h"
#include "media/job_outcome.h"
#include "media/output_file.h"
#include "media/progress_reporter.h"
#include "media/sound_pipeline.h"

namespace orbv {

// The sound of one opened movie in stereo in a file of its own, in the codec the file's name
// asks for (see OutputFile::add_audio_stream). The job owns the input from its start, the
// output and the pipeline between them.
class SoundExtraction {
  public:
    explicit SoundExtraction(InputSlot input) : input_(std::move(input)) {}

    // Writes the sound into the file at audio_path, reporting every audio packet. AVERROR_EOF
    // when not one packet of the sound was read. The output is closed on every return.
    JobOutcome write_audio(const char* audio_path, int32_t bit_rate, ProgressReporter& progress);

    // The number of audio packets announced: the stream's length over the first packet's. A
    // packet without a duration is measured by its size or the decoder's frame size; a stream
    // without a length takes the container's. 0 when unknown.
    static int64_t estimate_audio_packets(const AVFormatContext* fmt, const AVStream* stream,
                                          const AVCodecContext* decoder, const AVPacket* packet);

  private:
    int32_t write(const char* audio_path, int32_t bit_rate, ProgressReporter& progress);
    // Container, sound stream, resampler, FIFO, file and header of the audio file.
    int32_t open_audio_output(const char* audio_path, int32_t bit_rate);
    int32_t copy_sound(ProgressReporter& progress);
    SoundEnds ends() { return {input_.audio_decoder(), output_.audio()}; }

    InputSlot input_;
    OutputFile output_;
    SoundPipeline sound_;
    MediaError error_;
};

}  // namespace orbv
