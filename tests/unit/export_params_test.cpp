// The export parameter record and the progress interval rule.
#include "stitch/export_params.h"

#include <gtest/gtest.h>

#include "api/progress_interval.h"

namespace orbv {
namespace {

TEST(ProgressInterval, TenUpTo1009UnitsThenHundred) {
    EXPECT_EQ(progress_interval(0), 10);
    EXPECT_EQ(progress_interval(1009), 10);
    EXPECT_EQ(progress_interval(1010), 100);
    EXPECT_EQ(progress_interval(-5), 10);
    EXPECT_EQ(progress_interval(INT64_MAX), 100);
    EXPECT_EQ(progress_interval(INT64_MIN), 10);
}

TEST(ExportParams, CopiesShareTheMatricesButNotTheirOwnFields) {
    ExportParams params;
    params.maps = build_stitch_maps({32, 16}, {1440, 1440}, 675.0, 12, Rotation{});
    params.band.planes = {cv::Mat(12, 1440, CV_8UC1, cv::Scalar(7)),
                          cv::Mat(9, 720, CV_8UC1, cv::Scalar(8)),
                          cv::Mat(9, 720, CV_8UC1, cv::Scalar(9))};
    params.band.valid = 1;
    params.luts1 = make_plane_luts(5, 5, 5);
    const float sample = params.maps.map_y.at<float>(3, 5);
    {
        ExportParams copy = params;
        EXPECT_EQ(copy.maps.map_x.data, params.maps.map_x.data);
        EXPECT_EQ(copy.maps.map_y_half.data, params.maps.map_y_half.data);
        EXPECT_EQ(copy.band.planes[1].data, params.band.planes[1].data);
        copy.start_time1 = 3.5f;  // the loop adjusts its own copy only
        copy.luts1.planes[0].table[0] = 99;
    }
    EXPECT_EQ(params.start_time1, 0.0f);
    EXPECT_EQ(params.luts1.planes[0].table[0], 5);
    EXPECT_EQ(params.maps.map_y.at<float>(3, 5), sample);
    EXPECT_EQ(params.band.planes[2].at<uint8_t>(8, 719), 9);
}

}  // namespace
}  // namespace orbv
