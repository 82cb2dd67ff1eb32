#include "stitch/stitch_planes.h"

#include "stitch/bilinear_remap.h"

namespace orbv {

PlaneSet stitch_planes(const PlaneSet& lens1, const PlaneSet& lens2, const PlaneSet& band,
                       const StitchMaps& maps) {
    CV_Assert(lens1.planes.size() == 3 && lens2.planes.size() == 3);
    const bool with_band = band.valid != 0 && band.planes.size() == 3;
    PlaneSet result;
    for (int k = 0; k < 3; ++k) {
        std::vector<cv::Mat> stack{lens1.planes[k], lens2.planes[k]};
        if (with_band) stack.push_back(band.planes[k]);
        cv::Mat canvas;
        cv::vconcat(stack, canvas);
        cv::Mat out;
        if (k == 0) {
            remap_bilinear(canvas, maps.map_x, maps.map_y, out);
        } else {
            remap_bilinear(canvas, maps.map_x_half, maps.map_y_half, out);
        }
        result.planes.push_back(out);
    }
    result.valid = lens1.valid;
    return result;
}

}  // namespace orbv
