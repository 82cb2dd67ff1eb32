#pragma once

#include <cstdint>

#include "media/input_slot.h"
#include "media/job_outcome.h"
#include "media/output_file.h"

namespace orbv {

// How the thumbnail writer decodes a JPEG still: reduced in the decoder to no less than the
// thumbnail's width, or at full size (the slower path, kept for comparison).
enum class ThumbnailDecode { Reduced, FullSize };

// The thumbnail of one opened file: its first picture, scaled, turned upright, as one JPEG.
// The job owns the input from its start and the output it writes.
class ThumbnailJob {
  public:
    explicit ThumbnailJob(InputSlot input) : input_(std::move(input)) {}

    // Writes the first picture as a JPEG of `width` pixels (0, or more than the source: the
    // source width), turned upright for the EXIF `orientation` (outside 1..8: for the display
    // matrix of the video stream, as players turn it). AVERROR_EOF when the stream ends before
    // any picture decodes. The output is closed on every return.
    JobOutcome write_thumbnail(const char* path, int32_t width, int32_t orientation,
                               ThumbnailDecode decode = ThumbnailDecode::Reduced);
    // The name the job's messages give the output when it is not the path written (the host's
    // name of a file written under another one until it is complete).
    void name_output(const char* name) { output_name_ = name; }

  private:
    int32_t write(const char* path, int32_t width, int32_t orientation, ThumbnailDecode decode);
    // Container, video stream, file and header of the thumbnail.
    int32_t open_thumbnail(const char* path, int32_t width, int32_t height);
    int32_t encode_thumbnail(const AVFrame* decoded, int32_t width, int32_t height,
                             int32_t orientation);

    InputSlot input_;
    OutputFile output_;
    MediaError error_;
    const char* output_name_ = nullptr;
};

}  // namespace orbv
