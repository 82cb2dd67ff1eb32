// The orbv host tool: loads the library with dlopen, shows the documents (an export as a
// progress bar, which Ctrl-C cancels) and exits with 0 only when the call ended in state done.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

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

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// A 30-frame sample shot, made once for the export tests.
const orbv_sample::Shot& thirty_frames() {
    static TempDir dir;
    static const orbv_sample::Shot shot = [] {
        orbv_sample::ShotOptions options;
        options.frames = 30;
        return orbv_sample::make_shot(dir.path(), options);
    }();
    return shot;
}

// The tool started with its standard output on a pipe that the test reads line by line.
class RunningTool {
  public:
    explicit RunningTool(std::vector<std::string> args) {
        int fds[2];
        if (::pipe(fds) != 0) return;
        args.insert(args.begin(), ORBV_BINARY_DIR "/bin/orbv");
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(fds[1], STDOUT_FILENO);
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, STDERR_FILENO);
            ::close(fds[0]);
            ::close(fds[1]);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        out_ = ::fdopen(fds[0], "r");
    }
    ~RunningTool() {
        if (out_ != nullptr) std::fclose(out_);
        if (pid_ > 0 && !reaped_) {
            ::kill(pid_, SIGKILL);
            wait();
        }
    }
    pid_t pid() const { return pid_; }
    // The next line without its line feed; false at the end of the output.
    bool next_line(std::string* line) {
        char* buf = nullptr;
        size_t size = 0;
        const ssize_t n = out_ != nullptr ? ::getline(&buf, &size, out_) : -1;
        if (n > 0) line->assign(buf, buf[n - 1] == '\n' ? n - 1 : n);
        std::free(buf);
        return n > 0;
    }
    // Exit status, -1 when the tool did not exit by itself.
    int wait() {
        int raw = 0;
        if (::waitpid(pid_, &raw, 0) != pid_) return -1;
        reaped_ = true;
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }

  private:
    pid_t pid_ = -1;
    FILE* out_ = nullptr;
    bool reaped_ = false;
};

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

TEST(Tool, ExportShowsTheProgressBarOneLineAReport) {
    TempDir dir;
    const orbv_sample::Shot& shot = thirty_frames();
    const std::string out = dir.file("pano.mov");
    const Result r = tool("export " + quoted(shot.lens1) + " " + quoted(shot.lens2) + " " +
                          quoted(out) + " --width 1440 --height 720");
    EXPECT_EQ(r.status, 0);
    const std::vector<std::string> lines = lines_of(r.out);
    ASSERT_EQ(lines.size(), 8u) << r.out;
    // Not a terminal: no redrawing, one line for the start and for each progress report.
    EXPECT_EQ(lines[0], "[..............................] 0/30 frames");
    EXPECT_TRUE(
        std::regex_match(lines[1], std::regex(R"(\[#{10}\.{20}\] 10/30 frames, \d+:\d\d left)")))
        << lines[1];
    EXPECT_TRUE(
        std::regex_match(lines[2], std::regex(R"(\[#{20}\.{10}\] 20/30 frames, \d+:\d\d left)")))
        << lines[2];
    EXPECT_EQ(lines[3], "[##############################] 30/30 frames");
    EXPECT_EQ(lines[4], "done");
    EXPECT_EQ(lines[5], "  movie_path1: " + shot.lens1);
    EXPECT_EQ(lines[6], "  movie_path2: " + shot.lens2);
    EXPECT_EQ(lines[7], "  export_path: " + out);
    EXPECT_TRUE(std::filesystem::exists(out));
}

TEST(Tool, CtrlCDuringAnExportCancelsItAndLeavesNoFile) {
    TempDir dir;
    const orbv_sample::Shot& shot = thirty_frames();
    const std::string out = dir.file("pano.mov");
    RunningTool running(
        {"export", shot.lens1, shot.lens2, out, "--width", "1440", "--height", "720"});
    ASSERT_GT(running.pid(), 0);
    std::string line, all;
    bool interrupted = false;
    while (running.next_line(&line)) {
        all += line + "\n";
        // At the first progress report twenty pairs remain: Ctrl-C now is noticed at the next.
        if (!interrupted && line.find(" 10/30 frames") != std::string::npos) {
            ASSERT_EQ(::kill(running.pid(), SIGINT), 0);
            interrupted = true;
        }
    }
    EXPECT_TRUE(interrupted) << all;
    EXPECT_EQ(running.wait(), 3) << all;
    EXPECT_NE(all.find("\ncancelled: 39999 Canceled\n"), std::string::npos) << all;
    EXPECT_EQ(all.find("30/30 frames"), std::string::npos) << all;
    EXPECT_FALSE(std::filesystem::exists(out));
    // The tool's own cancel file goes with it.
    const std::string cancel_file =
        (std::filesystem::temp_directory_path() / ("orbv-cancel-" + std::to_string(running.pid())))
            .string();
    EXPECT_FALSE(std::filesystem::exists(cancel_file));
}
