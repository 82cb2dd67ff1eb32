// The orbv host tool: loads the library with dlopen, shows the documents and exits with 0 only
// when the call ended in state done.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "sample_shot.h"
#include "support/test_support.h"

using orbv_test::read_file;
using orbv_test::TempDir;
using orbv_test::write_file;

namespace {

struct Result {
    int status;
    std::string out;
};

// Runs the tool with arguments (already quoted) and environment settings, capturing standard
// output only: the library's log goes to standard error.
Result tool(const std::string& args, const std::string& env = "") {
    const std::string command = env + " '" ORBV_BINARY_DIR "/bin/orbv' " + args + " 2>/dev/null";
    Result r{-1, ""};
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return r;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), pipe)) > 0) r.out.append(buf, n);
    const int status = ::pclose(pipe);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

std::string quoted(const std::string& path) { return "'" + path + "'"; }

}  // namespace

TEST(Tool, JsonPrintsEachDocumentAsOneLine) {
    TempDir dir;
    const std::string missing = dir.file("missing.mov");
    Result r = tool("--json analyze " + quoted(missing));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out,
              "{\"errnum\":\"10000\",\"errstr\":\"Input file not exiists\","
              "\"api_errnum\":-1,\"api_errstr\":\"\",\"movie_path\":\"" +
                  missing + "\"}\n");

    r = tool("audio " + quoted(missing) + " " + quoted(dir.file("a.wav")) + " --json");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.find("{\"errnum\":\"20000\""), 0u) << r.out;

    write_file(dir.file("1.mov"), "x");
    r = tool("--json export " + quoted(dir.file("1.mov")) + " " + quoted(missing) + " " +
             quoted(dir.file("o.mov")) + " --width 1920 --height 960 --offsets1 1,2,3 --end1 -1");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("\"errstr\":\"Input file2 not exiists\""), std::string::npos) << r.out;
}

TEST(Tool, SummaryNamesTheStateAndEveryField) {
    TempDir dir;
    write_file(dir.file("clip.png"), "x");
    const Result r = tool("analyze " + quoted(dir.file("clip.png")));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out,
              "failed: 10001 Not Movie & JPEG\n  api_errnum: -1\n  api_errstr: \n"
              "  movie_path: " +
                  dir.file("clip.png") + "\n");
}

TEST(Tool, AnalysisSummaryLeadsWithWhatTheFileIsAndWritesTheThumbnail) {
    TempDir dir;
    const orbv_sample::CameraInfo camera;
    const std::string still = dir.file("shot.jpg");
    orbv_sample::write_still(still, orbv_sample::Picture(320, 320, 100), &camera);
    const std::string thumbnail = dir.file("thumb.jpg");
    const Result r =
        tool("analyze " + quoted(still) + " --thumbnail " + quoted(thumbnail) + " --width 160");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.find("done: JPEG 320 x 320, "), 0u) << r.out;
    EXPECT_NE(r.out.find(" frames, target\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\n  isTarget: yes\n  createdThumbnail: yes\n"), std::string::npos)
        << r.out;
    EXPECT_FALSE(read_file(thumbnail).empty());
}

TEST(Tool, Freesize) {
    TempDir dir;
    Result r = tool("--json freesize " + quoted(dir.path()));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.find("{\"free_bytes\":"), 0u) << r.out;
    r = tool("freesize " + quoted(dir.file("no-dir/x")));
    EXPECT_EQ(r.status, 1);
}

TEST(Tool, RefusesWhatItDoesNotUnderstand) {
    for (const char* args : {"", "frobnicate x", "analyze", "analyze a b", "analyze a --width x",
                             "export a b", "export a b c --offsets1 1,2", "export a b c --yaw",
                             "audio a b --bit-rate 12k", "freesize", "analyze a --nope"}) {
        EXPECT_EQ(tool(args).status, 2) << args;
    }
    EXPECT_EQ(tool("--help").status, 0);
}

TEST(Tool, ReportsAMissingLibrary) {
    EXPECT_EQ(tool("freesize .", "ORBV_LIBRARY=/nonexistent/liborbv.so").status, 1);
    EXPECT_EQ(tool("freesize .", "ORBV_LIBRARY='" ORBV_LIBRARY_FILE "'").status, 0);
}
