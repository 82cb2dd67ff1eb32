#include "media/image_planes.h"

#include <climits>

#include "media/frame_planes.h"
#include "media/libav_if.h"
#include "media/range_scaler.h"
#include "stitch/seam_band.h"

namespace orbv {

PlaneSet decode_image_planes(const char* path, int32_t target_width) {
    if (path == nullptr || target_width <= 0) return PlaneSet();
    libavIF media(path);
    // One picture gains nothing from frame threads.
    media.set_decoder_threads(1);
    if (media.open_input(0) != 0) return PlaneSet();
    AVFrame* raw = nullptr;
    const int32_t read = media.read_video_frame(&raw);
    const FramePtr picture(raw);
    if (read != 0 || !picture || picture->width <= 0 || picture->height <= 0) return PlaneSet();
    const double height = static_cast<double>(target_width) / picture->width * picture->height;
    // Less than one row leaves nothing to scale into.
    if (!(height >= 1.0) || !(height < INT_MAX)) return PlaneSet();

    FramePtr scaled(av_frame_alloc());
    if (!scaled) return PlaneSet();
    scaled->width = target_width;
    scaled->height = static_cast<int>(height);
    scaled->format = AV_PIX_FMT_YUV420P;
    if (av_frame_get_buffer(scaled.get(), 32) < 0) return PlaneSet();
    SwsContextPtr scaler(new_range_scaler(
        {picture->width, picture->height, picture->format, named_full_range(picture->format)},
        {scaled->width, scaled->height, AV_PIX_FMT_YUV420P, false}));
    if (!scaler) return PlaneSet();
    if (sws_scale(scaler.get(), picture->data, picture->linesize, 0, picture->height, scaled->data,
                  scaled->linesize) <= 0)
        return PlaneSet();
    return frame_to_planes(scaled.get());
}

PlaneSet load_seam_band(const char* path, int32_t lens_width) {
    if (lens_width <= 0 || lens_width > INT32_MAX / 2) return PlaneSet();
    return stack_seam_band(decode_image_planes(path, 2 * lens_width));
}

}  // namespace orbv
