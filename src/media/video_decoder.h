#pragma once

#include <cstddef>
#include <deque>

#include "util/ffmpeg_ptr.h"

namespace orbv {

// A video decoder that loses no picture. FFmpeg's decoders hand pictures out after a delay
// that depends on the stream (B-frames) and on the decoder's threads, and refuse packets while
// they hold undelivered pictures. This wrapper accepts every packet, keeps the pictures that
// come out in a queue, and gives them out one at a time in presentation order, so every
// picture of a stream comes out exactly once whatever the delay.
class VideoDecoder {
  public:
    VideoDecoder() = default;
    explicit VideoDecoder(CodecContextPtr context) : context_(std::move(context)) {}
    VideoDecoder(VideoDecoder&&) = default;
    VideoDecoder& operator=(VideoDecoder&&) = default;

    AVCodecContext* get() const { return context_.get(); }
    AVCodecContext* operator->() const { return context_.get(); }
    explicit operator bool() const { return context_ != nullptr; }

    // Releases the decoder and the pictures still queued.
    void reset();

    // Decodes one packet. A null or empty packet is the end-of-stream signal, as drain().
    // 0 or a negative FFmpeg code; AVERROR_EOF when the stream was already drained.
    int send_packet(const AVPacket* packet);
    // Signals the end of the stream: the pictures the decoder still holds join the queue.
    int drain();
    // Moves the next picture into `frame`: 1 when one was given, 0 when none is ready yet
    // (send more packets, or drain at the end of the stream).
    int take_picture(AVFrame* frame);
    // The stream was drained and every picture has been taken.
    bool finished() const { return draining_ && at_end_ && queue_.empty(); }
    size_t queued() const { return queue_.size(); }
    // Forgets every picture and the end-of-stream state, as after a seek.
    void flush();

  private:
    int receive_all();

    CodecContextPtr context_;
    std::deque<FramePtr> queue_;
    bool draining_ = false;
    bool at_end_ = false;
};

}  // namespace orbv
