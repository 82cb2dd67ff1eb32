#pragma once

#include <cstdint>

#include "media/frame_clock.h"
#include "media/input_slot.h"
#include "media/media_error.h"
#include "media/output_file.h"
#include "media/progress_reporter.h"
#include "media/sound_pipeline.h"
#include "stitch/export_params.h"
#include "util/ffmpeg_ptr.h"

namespace orbv {

// Where the export loop spent its time on the calling thread, in seconds: decoding the lens
// pictures, stitching them (conversion without the encoder), encoding and writing the
// panorama pictures, and the whole call. The rest of the total is reading, sound and set-up.
struct ExportTimings {
    double decode = 0;
    double stitch = 0;
    double encode = 0;
    double total = 0;
};

// How the thumbnail writer decodes a JPEG still: reduced in the decoder to no less than the
// thumbnail's width, or at full size (the slower path, kept for comparison).
enum class ThumbnailDecode { Reduced, FullSize };

// The media interface object: every use of FFmpeg by the front ends goes through one of these.
// It is built from parts with state of their own: two input slots (one per lens of a shot),
// one output file, the sound pipeline between them, and the record of the last error. One
// object serves one exported call on the caller's thread.
//
// Operations return 0 on success and a negative FFmpeg code (AVERROR_EXIT for the layer's own
// fixed failures and for a cancel) otherwise, with errnum()/errstr() describing the failure.
class libavIF {
  public:
    explicit libavIF(const char* path1);
    libavIF(const char* path1, const char* path2);
    ~libavIF();
    libavIF(const libavIF&) = delete;
    libavIF& operator=(const libavIF&) = delete;

    // --- Inputs ---------------------------------------------------------------------------
    // Opens path1 into slot 0 (slot 0) or path2 into slot 1 (any other value). A failure after
    // the container was opened closes every slot.
    int32_t open_input(int32_t slot);
    // Closes both slots; safe at any time and more than once.
    void close_input();
    // Decodes the next picture of slot 0 into a new frame that the caller owns in every case
    // (av_frame_free). At the end of the file the frame may be empty (width 0): check it.
    int32_t read_video_frame(AVFrame** frame);
    // A slot (0, or 1 for any other value), for the facts of its streams.
    InputSlot& input(int32_t slot) { return slots_[slot == 0 ? 0 : 1]; }
    const InputSlot& input(int32_t slot) const { return slots_[slot == 0 ? 0 : 1]; }
    // Facts of the input opened last (audio_codec_id: of the last one with sound).
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    int64_t nb_frames() const { return nb_frames_; }  // of a movie as players show it, 0: none
    double duration() const { return duration_; }     // seconds, -1 until known
    int32_t audio_codec_id() const { return audio_codec_id_; }
    // Decoder threads of the inputs opened after it is set: 0 lets FFmpeg take one per core, 1
    // decodes on the caller's thread alone, kFirstPictureThreads chooses for a reader of the
    // first picture alone. Threads never change the decoded pictures.
    void set_decoder_threads(int32_t threads) { decoder_threads_ = threads; }

    // --- Writers --------------------------------------------------------------------------
    // Writes the first picture of slot 0 as a JPEG of `width` pixels (0, or more than the
    // source: the source width), turned upright for the EXIF `orientation` (outside 1..8: for
    // the display matrix of the video stream, as players turn it). AVERROR_EOF when
    // the stream ends before any picture decodes. Every field of the object stays the file's.
    int32_t write_thumbnail(const char* path, int32_t width, int32_t orientation,
                            ThumbnailDecode decode = ThumbnailDecode::Reduced);
    // Writes the sound of slot 0 in stereo into the container named by audio_path, in the codec
    // that container takes (see OutputFile::add_audio_stream), reporting every audio packet.
    // AVERROR_EOF when not one packet of the sound was read.
    int32_t write_audio(const char* audio_path, int32_t bit_rate, ProgressReporter& progress);
    // The number of audio packets announced by write_audio: the stream's length over the first
    // packet's. A packet without a duration is measured by its size or the decoder's frame
    // size; a stream without a length takes the container's. 0 when unknown.
    static int64_t estimate_audio_packets(const AVFormatContext* fmt, const AVStream* stream,
                                          const AVCodecContext* decoder, const AVPacket* packet);
    // Stitches the pictures of slot 0 and slot 1 (both open) pair by pair into the panorama
    // file at export_path, with the sound of the slot params.audio_input names, reporting every
    // pair. AVERROR_EXIT with cancelled() after a cancel. The inputs stay open.
    int32_t write_video(const char* export_path, ExportParams params, ProgressReporter& progress);
    // The clock of the exported pictures: that of the movie the encoder is made for (see
    // video_source), or of the other input when that one is a still. No ticks for two stills
    // or a movie without a frame rate.
    FrameClock export_clock() const;
    // The pictures write_video gives for these windows: as many as fit in each movie's window
    // and duration, the fewer of the two; 0 when no movie states a duration or the clock is
    // unknown, as for two stills (whose one picture is no movie frame). Both slots open.
    int64_t export_frames(const TimeWindow& window1, const TimeWindow& window2) const;

    // --- Outcome --------------------------------------------------------------------------
    int32_t errnum() const { return error_.code(); }
    const char* errstr() const { return error_.text(); }
    bool cancelled() const { return cancelled_; }
    // Pictures the last export handed to the encoder.
    int64_t video_frames() const { return video_frames_; }
    bool output_open() const { return output_.is_open(); }
    const ExportTimings& export_timings() const { return export_timings_; }

  private:
    class ExportRun;

    // The slot of the video stream an output's encoder is made for: slot 0, or with a
    // non-zero choice the input whose container is longer (slot 1 on a tie).
    int video_source(int32_t source_choice) const;
    // Container, video stream, file and header of the thumbnail.
    int32_t open_thumbnail(const char* path, int32_t width, int32_t height);
    int32_t encode_thumbnail(const AVFrame* decoded, int32_t width, int32_t height,
                             int32_t orientation);
    // Container, sound stream, resampler, FIFO, file and header of the audio file.
    int32_t open_audio_output(const char* audio_path, int32_t bit_rate);
    int32_t copy_sound(ProgressReporter& progress);
    // Releases the output and the sound pipeline; safe at any time and more than once.
    void close_output();

    const char* path1_;  // not owned
    const char* path2_;  // not owned; null for the one-path object
    InputSlot slots_[2];
    OutputFile output_;
    MediaError error_;
    SoundPipeline sound_{error_};
    bool cancelled_ = false;

    double duration_ = -1.0;
    int32_t width_ = 0;
    int32_t height_ = 0;
    int64_t nb_frames_ = 0;
    int32_t audio_codec_id_ = 0;

    int64_t video_frames_ = 0;
    int32_t decoder_threads_ = 0;
    ExportTimings export_timings_;
};

}  // namespace orbv
