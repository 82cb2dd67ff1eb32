#pragma once

#include "util/ffmpeg_ptr.h"

namespace orbv {

// One stream of an output container with the encoder that feeds it. Frames go in, and the
// packets that come out are written to the container, as FFmpeg's muxing example does.
class EncodedStream {
  public:
    EncodedStream() = default;
    // `interleaved`: packets go through the muxer's interleaving; otherwise they are written as
    // they come, those without a presentation time left out.
    EncodedStream(AVFormatContext* container, AVStream* stream, CodecContextPtr encoder,
                  bool interleaved);
    EncodedStream(EncodedStream&&) = default;
    // NOLINTNEXTLINE(bugprone-reserved-identifier): reads the compiler's own parameter name
    EncodedStream& operator=(EncodedStream&&) = default;

    explicit operator bool() const { return encoder_ != nullptr; }
    AVCodecContext* encoder() const { return encoder_.get(); }
    AVStream* stream() const { return stream_; }

    // Encodes one frame and writes every packet that is ready. The stream stamps the frame
    // with its next presentation time, then advances it by the ticks of a picture (see
    // set_frame_ticks) or by the frame's samples. A null frame drains the encoder, one packet
    // per call. *got tells whether a packet was written. 0 or a negative FFmpeg code;
    // AVERROR_EOF for a frame after draining.
    int write_frame(AVFrame* frame, bool* got);
    // The encoder's ticks per picture of a video stream; 0 (sound) counts samples.
    void set_frame_ticks(int64_t ticks) { frame_ticks_ = ticks; }
    // Presentation time of the next frame, in the encoder's time base.
    int64_t next_pts() const { return next_pts_; }
    // Frames stamped so far.
    int64_t frames() const { return frames_; }
    // A frame of the encoder's picture size in `format` for the next picture to be written
    // into, whose buffers the encoder no longer holds; null when none can be allocated. It
    // comes from a small pool: a new buffer is taken only when the encoder holds every frame
    // of the pool, and the encoder keeps its reference to the buffer that frame had.
    AVFrame* writable_frame(int format);

  private:
    int write_packets(bool one, bool* got);

    static constexpr int kPoolSize = 3;

    AVFormatContext* container_ = nullptr;  // not owned; the stream belongs to it
    AVStream* stream_ = nullptr;
    CodecContextPtr encoder_;
    bool interleaved_ = true;
    bool draining_ = false;
    int64_t frame_ticks_ = 0;
    int64_t next_pts_ = 0;
    int64_t frames_ = 0;
    FramePtr pool_[kPoolSize];
    int pool_next_ = 0;  // the frame that gets a new buffer next when every one is held
};

}  // namespace orbv
