#include "media/stitch_decision.h"

#include "media/image_planes.h"
#include "media/panorama_size.h"
#include "stitch/lens_geometry.h"

namespace orbv {

StitchDecision decide_stitch(const ExportParams& params, const char* band_image_path,
                             const PairFacts& facts) {
    StitchDecision decision;
    Rotation rotation = params.rotation;
    correct_rolls(facts.orientation1, facts.orientation2, &rotation);
    const double lens_radius = lens_radius_for(facts.width);
    if (lens_radius == 0.0) {
        decision.refusal = StitchRefusal::kLensWidth;
        return decision;
    }
    if (check_panorama_size(facts.two_stills, params.output_width, params.output_height,
                            &decision.limit) != 0) {
        decision.refusal = StitchRefusal::kPanoramaSize;
        return decision;
    }
    StitchSetup& stitch = decision.setup;
    stitch.luts1 = params.luts1;
    stitch.luts2 = params.luts2;
    if (band_image_path != nullptr) stitch.band = load_seam_band(band_image_path, facts.width);
    const int32_t band_rows = stitch.band.planes.empty() ? 0 : stitch.band.planes[0].rows;
    stitch.maps =
        build_stitch_maps(cv::Size(params.output_width, params.output_height),
                          cv::Size(facts.width, facts.height), lens_radius, band_rows, rotation);
    return decision;
}

}  // namespace orbv
