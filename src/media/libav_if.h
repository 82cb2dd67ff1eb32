#pragma once

#include <cstdint>

#include "media/input_slot.h"
#include "media/media_error.h"
#include "util/ffmpeg_ptr.h"

namespace orbv {

// The media interface object of one exported call: the inputs it opens by path (slot 0, and
// slot 1 for the second lens of a shot), the facts the documents take from them, and the
// failure of an opening. The jobs that write files (ThumbnailJob, SoundExtraction,
// PanoramaExport) take the opened inputs over.
class libavIF {
  public:
    explicit libavIF(const char* path1);
    libavIF(const char* path1, const char* path2);
    libavIF(const libavIF&) = delete;
    libavIF& operator=(const libavIF&) = delete;

    // Opens path1 into slot 0 (slot 0) or path2 into slot 1 (any other value). A failure after
    // the container was opened closes every slot. 0 or a negative code, errnum()/errstr()
    // describing it.
    int32_t open_input(int32_t slot);
    // Closes both slots; safe at any time and more than once.
    void close_input();
    // Decodes the next picture of slot 0 into a new frame that the caller owns in every case
    // (av_frame_free). At the end of the file the frame may be empty (width 0): check it.
    int32_t read_video_frame(AVFrame** frame);
    // A slot (0, or 1 for any other value), for the facts of its streams.
    const InputSlot& input(int32_t slot) const { return slots_[slot == 0 ? 0 : 1]; }
    // Hands the open slot over to a job; the slot here is closed from then on.
    InputSlot take_input(int32_t slot) { return std::move(slots_[slot == 0 ? 0 : 1]); }
    // Decoder threads of the inputs opened after it is set: 0 lets FFmpeg take one per core, 1
    // decodes on the caller's thread alone, kFirstPictureThreads chooses for a reader of the
    // first picture alone. Threads never change the decoded pictures.
    void set_decoder_threads(int32_t threads) { decoder_threads_ = threads; }

    // Facts of the input opened last (audio_codec_id: of the last one with sound).
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    int64_t nb_frames() const { return nb_frames_; }  // of a movie as players show it, 0: none
    double duration() const { return duration_; }     // seconds, -1 until known
    int32_t audio_codec_id() const { return audio_codec_id_; }

    int32_t errnum() const { return error_.code(); }
    const char* errstr() const { return error_.text(); }
    const MediaError& error() const { return error_; }

  private:
    const char* path1_;  // not owned
    const char* path2_;  // not owned; null for the one-path object
    InputSlot slots_[2];
    MediaError error_;
    int32_t decoder_threads_ = 0;

    double duration_ = -1.0;
    int32_t width_ = 0;
    int32_t height_ = 0;
    int64_t nb_frames_ = 0;
    int32_t audio_codec_id_ = 0;
};

}  // namespace orbv
