// The validation steps of the three front ends, seen by a host through the C interface.
#include <gtest/gtest.h>

#include "orbv.h"
#include "support/test_support.h"

using orbv_test::Recorder;
using orbv_test::TempDir;

TEST(Validation, MissingInputsAnswerWithTheirFamilyCode) {
    TempDir dir;
    const std::string missing = dir.file("missing.mov");
    {
        Recorder rec;
        EXPECT_EQ(ORBV_analyze_image(missing.c_str(), nullptr, 0, 0, &Recorder::callback), 0);
        auto r = rec.final_record();
        EXPECT_EQ(r.state, STATE_FAILED);
        EXPECT_EQ(r.document, "{\"errnum\":\"10000\",\"errstr\":\"Input file not exiists\","
                              "\"api_errnum\":-1,\"api_errstr\":\"\",\"movie_path\":\"" +
                                  missing + "\"}");
    }
    {
        Recorder rec;
        EXPECT_EQ(ORBV_get_audio(missing.c_str(), nullptr, 0, nullptr, &Recorder::callback), 0);
        auto r = rec.final_record();
        EXPECT_EQ(r.state, STATE_FAILED);
        EXPECT_EQ(r.document, "{\"errnum\":\"20000\",\"errstr\":\"Input file not exiists\","
                              "\"api_errnum\":-1,\"api_errstr\":\"\",\"movie_path\":\"" +
                                  missing + "\",\"audio_path\":\"\"}");
    }
}
