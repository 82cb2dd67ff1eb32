#pragma once

#include <cstdint>

#include "media/encoded_stream.h"
#include "media/frame_clock.h"
#include "media/media_error.h"
#include "util/ffmpeg_ptr.h"

namespace orbv {

// The video encoder's bit rate for pictures of width x height: the source's scaled by the
// ratio of picture areas.
int64_t video_bit_rate(int32_t width, int32_t height, const AVCodecContext* source);

// The one output of a media job: a container opened by name, its video and sound
// streams with their encoders, the file with its header and trailer. The writers go through
// it in this order: create, add the streams, open_file, write_header, frames per stream,
// write_trailer; close on every return.
class OutputFile {
  public:
    // Allocates the container, FFmpeg choosing the muxer from the name, or the muxer named
    // `fallback` (may be null) when the name tells none. 0 or a negative code.
    int create(const char* path, const char* fallback);
    bool is_open() const { return container_ != nullptr; }
    AVFormatContext* container() const { return container_.get(); }
    const AVOutputFormat* format() const { return container_->oformat; }

    // The video stream: `codec_id` at width x height, its bit rate the source decoder's scaled
    // by the ratio of picture areas. H.264 takes the clock's time base and rate, a picture
    // lasting its ticks, with the encoder's own choice of threads; other codecs (one picture)
    // a time base of 1001 over the source clock's denominator.
    Status add_video_stream(int32_t codec_id, int32_t width, int32_t height,
                            const AVCodecContext* source, const AVStream* source_stream,
                            const FrameClock& clock);
    // The sound stream, stereo at the source's sample rate in the codec the container takes
    // (16-bit PCM, or AAC for MP4, FLAC for .flac), at `bit_rate` (0: the source's, 192 kb/s
    // for AAC).
    Status add_audio_stream(int32_t bit_rate, const AVCodecContext* source);
    EncodedStream& video() { return video_; }
    EncodedStream& audio() { return audio_; }

    // Opens the file for writing unless the muxer writes none. 0 or a negative code.
    int open_file(const char* path);
    int write_header();
    int write_trailer();
    // Releases encoders, streams, file and container; safe at any time and more than once.
    void close();

  private:
    // A stream being added: its encoder, the stream in the container and the encoder's context.
    struct NewStream {
        const AVCodec* codec = nullptr;
        AVStream* stream = nullptr;
        CodecContextPtr encoder;
    };
    // The encoder of `codec_id` (else the fixed message `no_encoder`), a new stream numbered by
    // its position, and a fresh context; AVERROR_EXIT for the fixed failures.
    Status new_stream(AVCodecID codec_id, const char* no_encoder, NewStream* out);
    // Opens the encoder set up in `made` and gives the stream its parameters.
    Status open_stream(NewStream* made, bool interleaved, EncodedStream* into);

    OutputFormatPtr container_;
    EncodedStream video_;
    EncodedStream audio_;
};

}  // namespace orbv
