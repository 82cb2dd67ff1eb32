#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <opencv2/core.hpp>

#include "media/frame_planes.h"
#include "media/working_format.h"
#include "stitch/stitch_setup.h"
#include "util/band_pool.h"
#include "util/ffmpeg_ptr.h"

namespace orbv {

// The frame conversion of one export: turns each decoded frame pair into one stitched
// 4:2:0 frame and hands it to the encoder. It lives for one export and keeps what
// every pair needs again instead of allocating it per frame: the three source canvases (the
// seam band copied in once), the three output planes, and the working-format copies of lens
// pictures in other formats. The pictures equal bit for bit those of the plain sequence (deep
// copies of the planes, colour tables applied in place, stack and remap), which the tests keep as
// reference.
class FrameConverter {
  public:
    // Encodes one output frame and returns 0, 1 or a negative code. Without a target the frame
    // borrows the converter's planes: they stay unchanged until the next conversion, so the
    // step must copy or encode the picture before it returns. An empty step encodes nothing.
    using EncodeStep = std::function<int32_t(AVFrame*)>;

    FrameConverter() = default;
    ~FrameConverter();
    FrameConverter(const FrameConverter&) = delete;
    FrameConverter& operator=(const FrameConverter&) = delete;

    // Converts the pair and encodes it. Returns 0, the encoder step's negative result, or
    // before any encoding
    // AVERROR(EINVAL) when a lens frame does not split into three 4:2:0 planes, the planes
    // do not stack (different widths, a side of 32767 or more), the maps are missing or do not
    // fit the target, and
    // AVERROR(ENOMEM) when a frame cannot be allocated. The two input frames are only read. A
    // target, a writable 4:2:0 frame of the maps' size, receives the stitched picture and goes to
    // the step; without one the converter's own planes do.
    int32_t convert_frame(const AVFrame* frame1, const AVFrame* frame2, const StitchSetup& params,
                          const EncodeStep& encode, AVFrame* target = nullptr);

    // Bytes held between calls: canvases, output planes and 4:2:0 copies.
    size_t held_bytes() const;
    // The range of the output's samples (see WorkingFormat::set_range).
    void set_output_range(int range) { working_.set_range(range); }

  private:
    int32_t convert(const AVFrame* frame1, const AVFrame* frame2, const StitchSetup& params,
                    const EncodeStep& encode, AVFrame* target);
    void prepare_canvas(int plane, int width, int lens_rows, const cv::Mat* band);

    cv::Mat canvas_[3];
    cv::Mat canvas_band_[3];  // the band plane held in each canvas, below row band_row_
    int band_row_[3] = {-1, -1, -1};
    cv::Mat out_[3];
    WorkingFormat working_;
    BandPool pool_;  // the stitch's helper threads, for the life of the export
};

}  // namespace orbv
