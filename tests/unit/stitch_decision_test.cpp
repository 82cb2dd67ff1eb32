// The export's stitch: refused before any map for a lens width or panorama size it cannot
// make, else built for the radius of the lens width and the rolls the camera's orientation
// turns.
#include "media/stitch_decision.h"

#include <gtest/gtest.h>

#include "util/numbers.h"

namespace orbv {
namespace {

bool same_mat(const cv::Mat& a, const cv::Mat& b) {
    if (a.empty() || b.empty()) return a.empty() && b.empty();
    return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

bool same_maps(const StitchMaps& a, const StitchMaps& b) {
    return same_mat(a.map.taps, b.map.taps) && same_mat(a.map.fractions, b.map.fractions) &&
           same_mat(a.map_half.taps, b.map_half.taps) &&
           same_mat(a.map_half.fractions, b.map_half.fractions);
}

TEST(StitchDecision, RefusalsAndMapsForTheCorrectedRolls) {
    struct Row {
        const char* name;
        int32_t lens_width, orientation1, orientation2, out_width, out_height;
        StitchRefusal refusal;
        double radius, roll1, roll2;  // what the maps must be built with
    };
    const Row rows[] = {
        {"upright", 1936, 1, -1, 64, 32, StitchRefusal::kNone, 907, 0.1, -0.2},
        {"upside down", 1440, 3, 3, 64, 32, StitchRefusal::kNone, 675, 0.1 - kPi, -0.2 + kPi},
        {"turned both ways", 3888, 6, 8, 64, 32, StitchRefusal::kNone, 1821, 0.1 - kHalfPi,
         -0.2 + kThreeHalfPi},
        {"not a lens width", 8, 1, 1, 64, 32, StitchRefusal::kLensWidth, 0, 0, 0},
        {"odd side", 1936, 1, 1, 64, 31, StitchRefusal::kPanoramaSize, 0, 0, 0},
        {"width first", 8, 1, 1, 63, 31, StitchRefusal::kLensWidth, 0, 0, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        ExportParams params;
        params.rotation = {0.1, -0.2, 0, 0, 0.3};
        params.output_width = r.out_width;
        params.output_height = r.out_height;
        const PairFacts facts{r.lens_width, r.lens_width, r.orientation1, r.orientation2, false};
        const StitchDecision decision = decide_stitch(params, nullptr, facts);
        ASSERT_EQ(decision.refusal, r.refusal);
        EXPECT_EQ(decision.limit.empty(), r.refusal != StitchRefusal::kPanoramaSize);
        if (r.refusal != StitchRefusal::kNone) continue;
        const StitchMaps expected =
            build_stitch_maps({r.out_width, r.out_height}, {r.lens_width, r.lens_width}, r.radius,
                              0, {r.roll1, r.roll2, 0, 0, 0.3});
        EXPECT_TRUE(same_maps(decision.setup.maps, expected));
        EXPECT_EQ(decision.setup.band.planes.size(), 0u);
    }
}

}  // namespace
}  // namespace orbv
