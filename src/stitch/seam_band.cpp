#include "stitch/seam_band.h"

#include <climits>

namespace orbv {

PlaneSet stack_seam_band(const PlaneSet& image) {
    if (!image.valid) return PlaneSet();
    PlaneSet band;
    for (const cv::Mat& plane : image.planes) {
        const int rows = plane.rows, half = plane.cols / 2;
        if (rows <= 0 || half <= 0 || SeamBandLayout::rows(rows) >= SHRT_MAX) return PlaneSet();
        const cv::Mat left = plane.colRange(0, half);
        const cv::Mat right = plane.colRange(half, 2 * half);
        static_assert(SeamBandLayout::kGuardRows == 2, "each guard below is two rows");
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
