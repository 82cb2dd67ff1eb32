#pragma once

#include <cstdint>

#include "media/media_error.h"
#include "media/video_decoder.h"
#include "util/ffmpeg_ptr.h"

namespace orbv {

// Decoder threads for a reader of the first picture alone: the caller's thread when the stream
// gives its pictures in decoding order, FFmpeg's choice when the decoder must hold pictures back
// (B-frames), whose threads then decode the held-back pictures side by side.
constexpr int kFirstPictureThreads = -1;

// One input of a call: an open container, its chosen video stream with a decoder
// that loses no picture, its sound stream (if any) with its decoder, and the reading of
// packets and pictures. Opening happens in two steps so that the owner can tell a file that
// could not be opened at all from one that opened and then failed.
class InputSlot {
  public:
    // Opens the container, the UTF-8 path handed to FFmpeg unchanged. 0, or FFmpeg's code with
    // the slot closed.
    int32_t open_container(const char* path);
    // Finds the best video stream and the sound, and opens their decoders (`threads` for the
    // video decoder: 0 lets FFmpeg take one per core; or kFirstPictureThreads). 0, or a
    // negative status with the slot closed: the missing streams and decoder give AVERROR_EXIT
    // with a fixed text.
    Status open_streams(int threads);
    // Releases the decoders and the container; the stream choice stays. Safe at any time.
    void close();
    bool is_open() const { return container_ != nullptr; }

    AVFormatContext* container() const { return container_.get(); }
    // Null when the slot is not open (or has no sound).
    AVStream* video_stream() const;
    AVStream* audio_stream() const;
    int video_index() const { return video_index_; }
    int audio_index() const { return audio_index_; }  // -1 without sound
    VideoDecoder& video_decoder() { return video_; }
    const VideoDecoder& video_decoder() const { return video_; }
    AVCodecContext* audio_decoder() const { return audio_.get(); }
    // One picture of an image codec in an image container, decided by content, not by a
    // frame count in the container.
    bool still() const { return still_; }
    AVRational video_time_base() const;  // {0, 1} when not open
    // Seconds of the video stream's first picture on its clock (0 when it states none): the
    // export's times count from it, so an edit list or an offset start moves nothing.
    double picture_origin() const;
    // Seconds from the first picture to the end of the video stream as the container states
    // it (the stream's length, else the file's); 0 when unknown.
    double video_duration() const;

    // The next packet of any stream; AVERROR_EOF at the end of the file.
    int read_packet(AVPacket* packet);
    // Whether a read met the end of the file.
    bool read_to_end() const { return read_to_end_; }
    // Reads and decodes until the next picture of the video stream is in `frame`, stamped
    // with its best-effort timestamp: 1 then, 0 when the stream has no picture left (`frame`
    // untouched), or a negative code. The end of the file releases the pictures the decoder
    // still holds.
    int next_picture(AVFrame* frame);
    // As next_picture for the first picture of a still whose decoder can reduce (a JPEG's:
    // see AVCodec::max_lowres), decoded at 1/2^reduction of its width and height, rounded up.
    // A picture that cannot be decoded reduced is decoded at full size.
    int next_picture_reduced(int reduction, AVFrame* frame);
    // Moves back to the key picture at or before `seconds` after the first picture and
    // forgets what the decoders hold.
    void seek(double seconds);

  private:
    InputFormatPtr container_;
    VideoDecoder video_;
    CodecContextPtr audio_;
    int video_index_ = -1;
    int audio_index_ = -1;
    bool still_ = false;
    bool read_to_end_ = false;
};

}  // namespace orbv
