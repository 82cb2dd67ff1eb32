// A job reports the failure it ended with: the first one, never a consequence written later.
#include "media/media_error.h"

#include <gtest/gtest.h>

#include <string>

extern "C" {
#include <libavutil/error.h>
}

TEST(MediaError, TheFirstFailureIsTheOneReported) {
    orbv::MediaError error;
    EXPECT_FALSE(error.failed());
    EXPECT_EQ(error.fail(AVERROR(EINVAL)), AVERROR(EINVAL));
    // What the callers above write, and a cancel noticed while unwinding, change nothing.
    EXPECT_EQ(error.fail(AVERROR(ENOMEM), "%s", "later"), AVERROR(ENOMEM));
    error.cancel();
    EXPECT_TRUE(error.failed());
    EXPECT_FALSE(error.cancelled());
    EXPECT_EQ(error.code(), AVERROR(EINVAL));
    char expected[AV_ERROR_MAX_STRING_SIZE];
    av_strerror(AVERROR(EINVAL), expected, sizeof(expected));
    EXPECT_STREQ(error.text(), expected);
}

TEST(MediaError, OwnTextsAreCutAndACancelKeepsTheText) {
    orbv::MediaError cancelled;
    EXPECT_EQ(cancelled.cancel(), AVERROR_EXIT);
    EXPECT_TRUE(cancelled.cancelled() && cancelled.failed());
    EXPECT_STREQ(cancelled.text(), "");
    orbv::MediaError fixed;
    fixed.fail(AVERROR_EXIT, "%s", std::string(400, 'x').c_str());
    EXPECT_EQ(fixed.code(), AVERROR_EXIT);
    EXPECT_EQ(std::string(fixed.text()), std::string(254, 'x'));
}
