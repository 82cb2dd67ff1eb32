#include "stitch/seam_band.h"

#include <climits>

#include "stitch/image_decoder.h"

namespace orbv {

PlaneSet load_seam_band(const char* path, int32_t lens_width) {
    if (lens_width <= 0 || lens_width > INT32_MAX / 2) return PlaneSet();
    PlaneSet image = decode_image_planes(path, 2 * lens_width);
    if (!image.valid) return PlaneSet();
    PlaneSet band;
    for (const cv::Mat& plane : image.planes) {
        const int rows = plane.rows, half = plane.cols / 2;
        if (rows <= 0 || half <= 0 || 2 * static_cast<int64_t>(rows) + 6 >= SHRT_MAX)
            return PlaneSet();
        const cv::Mat left = plane.colRange(0, half);
        const cv::Mat right = plane.colRange(half, 2 * half);
        // Guard rows repeat the strips' edge rows, so bilinear sampling at a strip's edge
        // never blends in the other strip.
        const std::vector<cv::Mat> pieces{left.row(0),         left.row(0),        left,
                                          left.row(rows - 1),  right.row(0),       right,
                                          right.row(rows - 1), right.row(rows - 1)};
        cv::Mat stacked;
        cv::vconcat(pieces, stacked);
        band.planes.push_back(stacked);
    }
    band.valid = 1;
    return band;
}

}  // namespace orbv
