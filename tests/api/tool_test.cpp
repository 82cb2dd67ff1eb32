// The orbv host tool and the sample-shot maker, driven as a user drives them: a table of
// invocations, run in order in one directory, each with its exit status and what it must
// print on standard output and standard error. Ctrl-C during an export cancels it cleanly.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "orbv.h"
#include "sample_shot.h"
#include "support/command.h"
#include "support/test_support.h"

using orbv_test::read_file;
using orbv_test::TempDir;

namespace {

const std::string kVersion = std::to_string(ORBV_VERSION_MAJOR) + "\\." +
                             std::to_string(ORBV_VERSION_MINOR) + "\\." +
                             std::to_string(ORBV_VERSION_PATCH);
const std::string kDate = "--datetime '2024:05:17 10:30:00'";
const char kAny[] = "[\\s\\S]*";
const char kUsageError[] = "orbv: [^\n]* \\(orbv --help shows the usage\\)\n";

// One invocation: "{orbv}", "{maker}", "{dir}" and the lens files "{m1}", "{m2}" (30-frame
// movies) and "{s1}", "{s2}" (stills) stand for their paths. Output and error are regular
// expressions for the whole text. The environment starts without ORBV_LOG.
struct Row {
    std::string command;
    int status;
    std::string out;
    std::string err;
    std::string env = "";
};

std::string expand(std::string text, const std::vector<std::pair<std::string, std::string>>& to) {
    for (const auto& [key, value] : to) {
        for (size_t at; (at = text.find(key)) != std::string::npos;)
            text.replace(at, key.size(), value);
    }
    return text;
}

// A terminal for "TTY ..." rows: script(1) runs the command on a pseudo-terminal.
void run_row(const Row& row, const std::string& dir, const std::string& command) {
    const bool tty = command.compare(0, 4, "TTY ") == 0;
    const std::string line =
        "cd " + dir + " && env -u ORBV_LOG " + row.env + " " +
        (tty ? "script -qec \"" + command.substr(4) + "\" /dev/null" : command) + " 2>" + dir +
        "/stderr";
    int status = -1;
    const std::string out = orbv_test::run_command(line, &status);
    const std::string err = read_file(dir + "/stderr");
    EXPECT_EQ(status, row.status) << command << "\n" << out << err;
    EXPECT_TRUE(std::regex_match(out, std::regex(row.out))) << command << "\nout: " << out;
    EXPECT_TRUE(std::regex_match(err, std::regex(row.err))) << command << "\nerr: " << err;
}

}  // namespace

TEST(Tool, InvocationsAndWhatTheyPrint) {
    TempDir dir;
    orbv_sample::ShotOptions options;
    options.frames = 30;
    options.name = "m";
    const orbv_sample::Shot movies = orbv_sample::make_shot(dir.path(), options);
    options.stills = true;
    options.name = "s";
    const orbv_sample::Shot stills = orbv_sample::make_shot(dir.path(), options);
    const std::string bar0 = "\\[\\.{30}\\]   0%", bar100 = "\\[#{30}\\] 100%";
    const std::string still_export = "{orbv} -y export {s1} {s2} {dir}/";
    const std::vector<Row> rows = {
        // --version; the tool's and the library's version agree with the header's macros.
        {"{orbv} --version", 0,
         "orbv " + kVersion + "\nliborbv " + kVersion + " \\(/[^\n]*/liborbv\\.so\\." + kVersion +
             "\\)\nFFmpeg [^\n]+ \\(libavutil [^\n]+\\)\nOpenCV [0-9.]+\n",
         ""},
        {"{orbv} --help", 0, "Usage: orbv [\\s\\S]*--y-rotation DEG[\\s\\S]*", ""},
        {"{maker} --help", 0, "Usage: orbv-sample-shot [\\s\\S]*", ""},
        {"{maker} --width 1441 --dir {dir}", 2, "",
         "orbv-sample-shot: cannot render lens pictures 1441 pixels wide\n"},
        {"{maker} --width 40 --still --dir {dir}", 2, "", kAny},
        // Usage errors before any call; --height defaults to half the width (1002 / 2 is odd).
        {"{orbv} export {s1} {s2} {dir}/p.jpg --width 961", 2, "", kUsageError},
        {"{orbv} export {s1} {s2} {dir}/p.jpg --width 1002", 2, "", kUsageError},
        {"{orbv} export {s1} {s2} {dir}/p.jpg --height -4", 2, "", kUsageError},
        {"{orbv} export {s1} {s2} {dir}/p.jpg --audio-input 2", 2, "", kUsageError},
        {"{orbv} export {s1} {s2} {dir}/p.jpg --band {dir}/none.png", 2, "", kUsageError},
        {"{orbv} export {s1} {s2} {dir}/p.jpg --datetime 2024-05-17T10:30", 2, "", kUsageError},
        // Existing outputs stay untouched without -y: the later rows read these inputs.
        {"{orbv} export {s1} {s2} {s1}", 2, "", "orbv: {s1} exists already \\(-y replaces it\\)\n"},
        {"{orbv} audio {m1} {m2}", 2, "", "orbv: {m2} exists already \\(-y replaces it\\)\n"},
        {"{orbv} analyze {s1} --thumbnail {s2}", 2, "", "orbv: {s2} exists already [^\n]*\n"},
        // A still shows no frame fraction; the progress line ends at 100%.
        {still_export + "p.jpg --width 960 --y-rotation 90 " + kDate, 0, "",
         bar0 + "\n" + bar100 + "\n", "ORBV_LOG=none"},
        {"TTY " + still_export + "p.jpg --width 960 --y-rotation 90 " + kDate, 0,
         "\r" + bar0 + "\r" + bar100 + " *\r\n", "", "ORBV_LOG=none"},
        {"{orbv} -q analyze {dir}/p.jpg", 0, "done: JPEG 960 x 480, [\\s\\S]*", ""},
        {"{orbv} -q export {s1} {s2} {dir}/u.jpg --width 960 " + kDate, 0, "", ""},
        {"{orbv} -q export {s1} {s2} {dir}/q.jpg --width 960 " + kDate, 0, "", ""},
        {"{orbv} -q -y export {s1} {s2} {dir}/q.jpg --width 960 --yaw 90 " + kDate, 0, "", ""},
        {"{orbv} -v -y export {s1} {s2} {dir}/v.jpg --width 960", 0, "",
         "\\[_ORBV_export\\][\\s\\S]*"},
        {"{orbv} " + still_export.substr(7) + "v.jpg --width 960", 0, "",
         bar0 + "\n" + bar100 + "\n"},
        {"{orbv} -y export {m1} {m2} {dir}/p.mov --width 1440", 0, "",
         bar0 + " 0/30 frames\n\\[#{10}\\.{20}\\]  33% 10/30 frames, \\d+:\\d\\d left\n" +
             "\\[#{20}\\.{10}\\]  66% 20/30 frames, \\d+:\\d\\d left\n" + bar100 +
             " 30/30 frames\n",
         "ORBV_LOG=none"},
        {"{orbv} -y audio {m1} {dir}/a.wav", 0, "",
         bar0 + " 0/(\\d+) packets\n[\\s\\S]*" + bar100 + " \\1/\\1 packets\n", "ORBV_LOG=none"},
        // One line on failure; --json gives every callback with its state.
        {"{orbv} export {dir}/none.mov {m2} {dir}/x.mov", 1, "",
         "orbv: export failed: Input file1 not exiists\n"},
        {"{orbv} -y export {m1} {m2} {dir}/x.mp4 --width 960", 1, "",
         bar0 + " 0/30 frames\norbv: export failed: Could not write video: Invalid argument\n",
         "ORBV_LOG=none"},
        {"{orbv} --json analyze {dir}/none.mov", 1,
         "\\{\"state\":4,\"document\":\\{\"errnum\":\"10000\",\"errstr\":\"Input file not "
         "exiists\",\"api_errnum\":-1,\"api_errstr\":\"\",\"movie_path\":\"{dir}/"
         "none.mov\"\\}\\}\n",
         "orbv: analyze failed: Input file not exiists\n"},
        {"{orbv} --json " + still_export.substr(7) + "j.jpg --width 960", 0,
         "\\{\"state\":0,\"document\":\\{\"movie_path1\":[^\n]*,\"frame_count\":0\\}\\}\n"
         "\\{\"state\":2,\"document\":\\{\"movie_path1\":\"{s1}\",[^\n]*\\}\\}\n",
         ""},
        {"{orbv} analyze {s1} --thumbnail {dir}/t.jpg --width 160", 0,
         "done: JPEG 1440 x 1440, [^\n]*, target\n[\\s\\S]*  isTarget: yes\n  createdThumbnail: "
         "yes\n"
         "[\\s\\S]*",
         kAny},
        {"{orbv} --json freesize {dir}", 0, "\\{\"free_bytes\":\\d+\\}\n", ""},
        {"{orbv} freesize {dir}/no-dir/x", 1, kAny, ""},
        {"{orbv} freesize .", 1, "", "orbv: cannot load liborbv: [^\n]*\n",
         "ORBV_LIBRARY=/nonexistent/liborbv.so"},
        {"{orbv} freesize .", 0, kAny, "", "ORBV_LIBRARY='" ORBV_LIBRARY_FILE "'"},
    };
    const std::vector<std::pair<std::string, std::string>> paths = {
        {"{orbv}", ORBV_BINARY_DIR "/bin/orbv"},
        {"{maker}", ORBV_BINARY_DIR "/bin/orbv-sample-shot"},
        {"{m1}", movies.lens1},
        {"{m2}", movies.lens2},
        {"{s1}", stills.lens1},
        {"{s2}", stills.lens2},
        {"{dir}", dir.path()}};
    for (const Row& row : rows) {
        Row expanded{expand(row.command, paths), row.status, expand(row.out, paths),
                     expand(row.err, paths), row.env};
        run_row(expanded, dir.path(), expanded.command);
    }
    // --yaw is the old name of --y-rotation, and the rotation reaches the panorama.
    EXPECT_EQ(read_file(dir.file("q.jpg")), read_file(dir.file("p.jpg")));
    EXPECT_NE(read_file(dir.file("u.jpg")), read_file(dir.file("p.jpg")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("x.mov")));
}

TEST(Tool, RefusesWhatItDoesNotUnderstand) {
    for (const char* args :
         {"", "frobnicate x", "analyze", "analyze a b", "analyze a --width x", "export a b",
          "export a b c --offsets1 1,2", "export a b c --yaw", "audio a b --bit-rate 12k",
          "freesize", "analyze a --nope", "-x freesize ."}) {
        int status = -1;
        orbv_test::run_command("'" ORBV_BINARY_DIR "/bin/orbv' " + std::string(args) + " 2>&1",
                               &status);
        EXPECT_EQ(status, 2) << args;
    }
}

TEST(Tool, CtrlCDuringAnExportCancelsItAndLeavesNoFile) {
    TempDir dir;
    orbv_sample::ShotOptions options;
    options.frames = 30;
    const orbv_sample::Shot shot = orbv_sample::make_shot(dir.path(), options);
    const std::string out = dir.file("pano.mov");
    // The progress line goes to standard error, which the test reads line by line.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], STDERR_FILENO);
        ::close(fds[0]);
        ::setenv("ORBV_LOG", "none", 1);
        ::execl(ORBV_BINARY_DIR "/bin/orbv", "orbv", "export", shot.lens1.c_str(),
                shot.lens2.c_str(), out.c_str(), "--width", "1440", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    FILE* err = ::fdopen(fds[0], "r");
    std::string all;
    bool interrupted = false;
    for (char line[512]; std::fgets(line, sizeof(line), err) != nullptr;) {
        all += line;
        // At the first progress report twenty pairs remain: Ctrl-C now is noticed at the next.
        if (!interrupted && std::strstr(line, " 10/30 frames") != nullptr) {
            ASSERT_EQ(::kill(pid, SIGINT), 0);
            interrupted = true;
        }
    }
    std::fclose(err);
    int raw = 0;
    ASSERT_EQ(::waitpid(pid, &raw, 0), pid);
    EXPECT_TRUE(interrupted) << all;
    EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 3) << all;
    EXPECT_NE(all.find("\norbv: export cancelled\n"), std::string::npos) << all;
    EXPECT_EQ(all.find("30/30 frames"), std::string::npos) << all;
    EXPECT_FALSE(std::filesystem::exists(out));
    // The tool's own cancel file goes with it.
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::temp_directory_path() /
                                         ("orbv-cancel-" + std::to_string(pid))));
}
