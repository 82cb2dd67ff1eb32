#pragma once

#include <cstdint>

#include "media/encoded_stream.h"
#include "media/media_error.h"
#include "util/ffmpeg_ptr.h"

namespace orbv {

// Sound on its way out: each frame the source decoder gives is converted by the resampler into
// the output's sample format and appended to a FIFO, which is cut into frames of the encoder's
// size for the output's sound stream. The FIFO decouples the decoder's frame sizes from the
// encoder's. Placed sound goes by its timestamps: silence fills where the source has none, and
// what comes before the output's start or overlaps sound already stored is left out, so every
// sample keeps its time.
//
// The pipeline keeps only its own state; every call is handed the two ends it works between,
// which belong to the job that owns the pipeline, and returns its status to that job.
struct SoundEnds {
    AVCodecContext* decoder;  // the source's sound decoder
    EncodedStream& out;       // the output's sound stream
};

class SoundPipeline {
  public:
    // Connects the source's sound decoder and stream (`stream`) to the output's sound stream
    // through a new resampler (channel counts, rate and format; no layouts). 0 or a negative
    // code.
    Status init_swr_context(const SoundEnds& ends, const AVStream* stream);
    // The FIFO in the encoder's format, room for one sample to begin with.
    Status init_audio_fifo(const SoundEnds& ends);
    // With a count of 0 or more, decoded sound beyond that many samples of the output is not
    // stored, and reaching it ends the window (sets the past-end flag).
    void limit_samples(int64_t count) { sample_limit_ = count; }
    int64_t sample_limit() const { return sample_limit_; }
    // Places the sound: the source's sound at `zero` seconds of its stream's clock goes at the
    // output's time 0. Unplaced sound is stored as it comes.
    void place(double zero) {
        placed_ = true;
        zero_ = zero;
    }

    // Decodes one packet (null: the end of the stream) and stores its frames. A packet the
    // decoder finds damaged is left out. Reaching the sample limit sets *past_end. 0 or a
    // negative code.
    Status decode_audio_to_fifo(const SoundEnds& ends, AVPacket* packet, int32_t* past_end);
    // Encodes the next frame of the encoder's size (the rest, if less) from the FIFO.
    Status encode_audio_from_fifo(const SoundEnds& ends);
    // Decodes one packet into the FIFO and encodes whole frames of `frame_size` samples; once
    // the window is passed, the FIFO is emptied, the last frame shorter. Releases the
    // packet's data in every case. 0 or a negative code.
    Status write_audio_packet(const SoundEnds& ends, AVPacket* packet, int32_t* past_end,
                              int32_t frame_size);
    // At the end of the sound: unless the limit was reached, what the decoder still holds goes
    // into the FIFO; then the FIFO's rest and the encoder's last packets are written.
    Status drain(const SoundEnds& ends, int32_t* past_end);

    // The encoder's frame size, 1000 when it states none, 0 without a connected output.
    int32_t frame_size(const EncodedStream& out) const;
    int fifo_size() const;
    // Forgets the ends, the resampler, the FIFO, the sample count and the limit.
    void reset();

  private:
    Status store(const SoundEnds& ends, AVFrame* decoded, int32_t* past_end);
    // Samples the placed frame's first sample is after the end of the stored sound: negative
    // when it overlaps (or starts before time 0), 0 when unplaced or within a few milliseconds.
    int64_t gap_before(const SoundEnds& ends, const AVFrame* decoded) const;
    Status append(const SoundEnds& ends, uint8_t** data, int count, int32_t* past_end);
    Status append_silence(const SoundEnds& ends, int64_t count, int32_t* past_end);
    Status convert_into_fifo(const SoundEnds& ends, AVFrame* decoded, int64_t skip,
                             int32_t* past_end);
    // Resamples `count` samples at `in` (null: what the resampler holds back) into the FIFO,
    // leaving out the first `skip`; *converted receives how many came out of the resampler.
    Status convert(const SoundEnds& ends, const uint8_t** in, int count, int64_t skip,
                   int32_t* past_end, int* converted);
    Status receive_all(const SoundEnds& ends, AVFrame* frame, int32_t* past_end);
    int64_t stored(const SoundEnds& ends) const;
    static Status out_of_memory(const char* message);

    bool connected_ = false;      // a resampler joins two ends
    AVRational time_base_{0, 1};  // of the source's sound stream
    SwrContextPtr swr_;
    AudioFifoPtr fifo_;
    // What the resampler was set up to read; a decoded frame that differs is refused.
    int in_channels_ = 0;
    int in_format_ = -1;
    int64_t sample_limit_ = -1;
    bool placed_ = false;
    double zero_ = 0;
};

}  // namespace orbv
