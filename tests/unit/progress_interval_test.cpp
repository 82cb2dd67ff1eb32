// Progress every 10 units (frames or audio packets) up to 1,009 units, every 100 beyond.
#include "api/progress_interval.h"

#include <gtest/gtest.h>

TEST(ProgressInterval, TenUpTo1009UnitsThenHundred) {
    for (const auto& [count, interval] : {std::pair<int64_t, int>{0, 10},
                                          {1009, 10},
                                          {1010, 100},
                                          {-5, 10},
                                          {INT64_MAX, 100},
                                          {INT64_MIN, 10}}) {
        EXPECT_EQ(orbv::progress_interval(count), interval) << count;
    }
}
