// The orbv tool and the sample-shot maker as a user drives them: a table of invocations, run in
// order in one directory, with their exit status and regular expressions for all they print.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "sample_shot.h"
#include "support/test_support.h"

using orbv_test::read_file;

namespace {

const char kAny[] = "[\\s\\S]*";
const char kUsageError[] = "orbv: [^\n]* \\(orbv --help shows the usage\\)\n";
const std::string kBar0 = "\\[\\.{30}\\]   0%", kBar100 = "\\[#{30}\\] 100%";
// Runs an export of the movies to OUT in the background and, once it writes, takes STEPS:
// "^" stops it, "~" resumes it, "-" waits 0.2 s, "I", "T" and "H" send SIGINT, SIGTERM, SIGHUP.
std::string signalled(const std::string& out, const std::string& steps) {
    static const std::map<char, std::string> kStep = {
        {'^', "kill -STOP $!"}, {'~', "kill -CONT $!"}, {'-', "sleep 0.2"},
        {'I', "kill -INT $!"},  {'T', "kill -TERM $!"}, {'H', "kill -HUP $!"}};
    std::string text = "{ $ORBV -q export $M1 $M2 " + out + " --width 1440 & until [ -e " + out +
                       " ] || ! kill -0 $!; do sleep 0.02; done; ";
    for (const char c : steps) text += kStep.at(c) + " 2>/dev/null; ";
    return text + "wait $!; }";
}
const std::string kMp4Tag = "ffprobe -v error -show_entries format_tags=creation_time -of csv=p=0 ";

// Commands see $ORBV, $MAKER, 30-frame movies $M1 $M2 and stills $S1 $S2, and no ORBV_LOG but
// the row's; "TTY " runs one on a pseudo-terminal through script(1). $TMPDIR is tmpd.
struct Row {
    std::string command;
    int status;
    std::string out, err, env = "";
};

}  // namespace

TEST(Tool, InvocationsAndWhatTheyPrint) {
    orbv_test::TempDir dir;
    orbv_sample::ShotOptions options;
    options.frames = 30;
    options.name = "m";
    options.camera.datetime = "2023:01:02 03:04:05";
    const orbv_sample::Shot movies = orbv_sample::make_shot(dir.path(), options);
    options.stills = true;
    options.name = "s";
    const orbv_sample::Shot stills = orbv_sample::make_shot(dir.path(), options);
    const std::string date = " --datetime '2024:05:17 10:30:00'", brief = " --end1 .2 --end2 .2";
    std::filesystem::create_directory(dir.file("tmpd"));
    const std::vector<Row> rows = {
        {"$ORBV --help", 0, "Usage: orbv [\\s\\S]*--y-rotation DEG[\\s\\S]*", ""},
        {"$MAKER --width 1441 --dir .", 2, "",
         "orbv-sample-shot: cannot render lens pictures 1441 pixels wide\n"},
        // Usage errors before any call; --height defaults to half the width (1002 / 2 is odd).
        {"$ORBV export $S1 $S2 p.jpg --width 961", 2, "", kUsageError},
        {"$ORBV export $S1 $S2 p.jpg --width 1002", 2, "", kUsageError},
        {"$ORBV export $S1 $S2 p.jpg --height -4", 2, "", kUsageError},
        {"$ORBV export $S1 $S2 p.jpg --audio-input 2", 2, "", kUsageError},
        {"$ORBV export $S1 $S2 p.jpg --band none.png", 2, "", kUsageError},
        {"$ORBV export $S1 $S2 p.jpg --datetime 2024-05-17T10:30", 2, "", kUsageError},
        {"$ORBV export $S1 $S2 p.jpg --datetime '2023:02:29 10:30:00'", 2, "", kUsageError},
        {"$ORBV audio $M1 a.m4a --bit-rate 64x", 2, "", kUsageError},
        {"$MAKER --bogus", 2, "",
         "orbv-sample-shot: unknown option --bogus \\(--help shows [^\n]*\n"},
        {"$MAKER --name m --dir " + dir.path(), 2, "",
         "orbv-sample-shot: [^\n]* exists already [^\n]*\n"},
        // One command's help, by either way of asking.
        {"$ORBV help analyse", 0,
         "Usage: orbv \\[OPTION\\]\\.\\.\\. analyze FILE [^\n]*\n(  "
         "[^\n]*\n)+\nOptions:\n[\\s\\S]*--version[^\n]*\n",
         ""},
        {"$ORBV export --help", 0,
         "Usage: orbv \\[OPTION\\]\\.\\.\\. export (?![\\s\\S]*Commands)[\\s\\S]*Export "
         "options:\n[\\s\\S]*",
         ""},
        // Failures name the file and end with the library's codes and texts; inputs go first,
        // and -y is offered only for an output that may be replaced.
        {"$ORBV export none.mov $M2 $M1", 1, "",
         "orbv: none.mov: no such file \\(30000 Input file1 not exiists\\)\n"},
        {"$ORBV export $S1 $S2 $S1", 2, "",
         "orbv: [^\n]*s_lens1.jpg: is an input of this command, never its output\n"},
        {"mkdir outdir; $ORBV export $M1 $M2 outdir", 2, "", "orbv: outdir: is a directory\n"},
        {"$ORBV export $M1 $M2 x.avi", 1, "",
         "orbv: x.avi: the output must end in .mov or .mp4 \\(30003 export file not writable: "
         "[^\n]*\n"},
        {"$ORBV export $M1 $M2 no/x.mov", 1, "",
         "orbv: no/x.mov: no such directory no \\(30003 export file not writable\\)\n"},
        {"$ORBV export $M1 $M2 /proc/x.mp4", 1, "",
         "orbv: /proc/x.mp4: (/proc is on a volume that stores no files; not enough space: \\d+ "
         "bytes free, more than \\d+ needed \\(30004|no permission to write in /proc "
         "\\(30003)[^\n]*\n"},
        {"$ORBV audio $M1 $M2", 2, "", "orbv: [^\n]* exists already \\(-y replaces it\\)\n"},
        {"$ORBV analyze $S1 --thumbnail $S2", 2, "", "orbv: [^\n]* exists already [^\n]*\n"},
        // A still shows no frame fraction; the progress line ends at 100%.
        {"$ORBV export $S1 $S2 p.jpg --width 960 --y-rotation 90" + date, 0, "",
         kBar0 + "\n" + kBar100 + "\n", "ORBV_LOG=none"},
        {"TTY $ORBV -y export $S1 $S2 p.jpg --width 960 --y-rotation 90" + date, 0,
         "\r" + kBar0 + "\r" + kBar100 + " *\r\n", "", "ORBV_LOG=none"},
        {"$ORBV -q export $S1 $S2 u.jpg --width 960" + date, 0, "", ""},
        {"$ORBV -q export $S1 $S2 q.jpg --width 960 --yaw 90" + date, 0, "", ""},
        {"$ORBV -v export $S1 $S2 v.jpg --width 960", 0, "", "\\[_ORBV_export\\][\\s\\S]*"},
        {"$ORBV -y export $S1 $S2 v.jpg --width 960", 0, "", kBar0 + "\n" + kBar100 + "\n"},
        {"$ORBV export $M1 $M2 p.mov --width 1440", 0, "",
         kBar0 + " 0/30 frames\n\\[#{10}\\.{20}\\]  33% 10/30 frames, \\d+:\\d\\d left\n" +
             "\\[#{20}\\.{10}\\]  66% 20/30 frames, \\d+:\\d\\d left\n" + kBar100 +
             " 30/30 frames\n",
         "ORBV_LOG=none"},
        {"$ORBV audio $M1 a.wav", 0, "",
         kBar0 + " 0/(\\d+) packets\n[\\s\\S]*" + kBar100 + " \\1/\\1 packets\n", "ORBV_LOG=none"},
        // A cancel file that exists stops the export at its first report and takes the output.
        {"$ORBV export $M1 $M2 c.mov --width 1440 --cancel-file $S1", 3, "",
         kBar0 + " 0/30 frames\n[\\s\\S]*orbv: export cancelled\n", "ORBV_LOG=none"},
        // One line on failure; --json gives every callback with its state.
        // A failure after the start: AAC, which an MP4 carries, knows no 37800 samples a second.
        {"$MAKER --name r --rate 37800 --frames 30 --dir .", 0, "./r_lens1.mov\n./r_lens2.mov\n",
         kAny},
        {"$ORBV export r_lens1.mov r_lens2.mov x.mp4 --width 960", 1, "",
         kBar0 + " 0/30 frames\norbv: x.mp4: writing it failed \\(39999 Could not write video: "
                 "Invalid argument\\)\n",
         "ORBV_LOG=none"},
        // A healthy camera movie logs nothing at the default level, nor another maker's movie
        // (no udta or ORVM); a full-range still is scaled with its range stated.
        {"$ORBV analyze $M1", 0, "done: MOVIE 1440 x 1440, [\\s\\S]*", ""},
        {"ffmpeg -v error -f lavfi -i testsrc=s=64x32:d=0.2 -fflags +bitexact phone.mov && "
         "$ORBV analyze phone.mov",
         0, "done: MOVIE 64 x 32, [\\s\\S]*", ""},
        {"$ORBV -v analyze $S1 --thumbnail small.jpg --width 64", 0, "[\\s\\S]*",
         "(?![\\s\\S]*deprecated pixel format)[\\s\\S]*"},
        {"$ORBV --json analyze none.mov", 1,
         "\\{\"state\":4,\"document\":\\{\"errnum\":\"10000\",\"errstr\":\"Input file not "
         "exiists\",\"api_errnum\":-1,\"api_errstr\":\"\",\"movie_path\":\"none.mov\"\\}\\}\n",
         "orbv: none.mov: no such file \\(10000 Input file not exiists\\)\n"},
        {"$ORBV --json export $S1 $S2 j.jpg --width 960", 0,
         "\\{\"state\":0,\"document\":\\{\"movie_path1\":[^\n]*,\"frame_count\":0\\}\\}\n"
         "\\{\"state\":2,\"document\":\\{\"movie_path1\":[^\n]*\\}\\}\n",
         ""},
        {"$ORBV -q export $M1 $M2 w.mov --width 960 --start2 100", 1, "",
         "orbv: [^\n]*m_lens2.mov: the window starts at 100.000 s, after the input's end at "
         "1.001 s \\([^\n]*\n"},
        {"$ORBV -q export $M1 $M2 w.mov --width 960 --start1 0.5 --end1 0.3", 1, "",
         "orbv: [^\n]*m_lens1.mov: the trim window holds no picture \\(30001 Trim Error "
         "InputFile1: [^\n]*duration:1.001\\)\n"},
        {"$ORBV -q export $M1 $M2 w.mov --width 100000", 1, "",
         "orbv: w.mov: the panorama size is not supported \\(30001 [^\n]*16384 pixels a side\\)\n"},
        // Warnings leave the exit status as it is.
        {"echo x >b.txt; $ORBV -q export $S1 $S2 b.jpg --width 960 --band b.txt", 0, "",
         "orbv: warning: b.txt: not a picture; the panorama gets no band\n"},
        {"$MAKER --name h --frames 20 >/dev/null && $ORBV -q export $M1 h_lens2.mov h.mov --width "
         "960",
         0, "", "orbv: warning: h_lens2.mov is 0.334 s shorter than [^\n]*m_lens1.mov; [^\n]*\n"},
        {"$MAKER --still --name o --model X >/dev/null && $ORBV analyse o_lens1.jpg --thumbnail "
         "t.jpg",
         0, "done: [\\s\\S]*",
         "orbv: warning: o_lens1.jpg: no thumbnail written, [^\n]* \\(--force writes it\\)\n",
         "ORBV_LOG=none"},
        // Dates are UTC whatever TZ says; without --datetime a panorama has the shot's date.
        {"$ORBV -q export $M1 $M2 tz.mov --width 960" + brief + date + " && " + kMp4Tag + "tz.mov",
         0, "2024-05-17T10:30:00.000000Z\n", "", "TZ=Asia/Tokyo"},
        {"$ORBV -q export $M1 $M2 d.mov --width 960" + brief + " && " + kMp4Tag + "d.mov", 0,
         "2023-01-02T03:04:05.000000Z\n", ""},
        // Signals cancel through a private cancel file: no stale file of an earlier run's name
        // stops a run, and three signals stop the tool at once without a partial output.
        {"sh -c \"touch tmpd/orbv-cancel-\\$\\$ && exec $ORBV -q export $M1 $M2 st.mov --width "
         "960" +
             brief + "\"",
         0, "", ""},
        {signalled("i2.mov", "^I~-I"), 3, "",
         "\norbv: cancelling [^\n]*\norbv: export cancelled\n"},
        {signalled("t1.mov", "^T~"), 3, "", "\norbv: cancelling [^\n]*\norbv: export cancelled\n"},
        {signalled("h3.mov", "^HIT~"), 3, "", "\norbv: cancelling [^\n]*\n\norbv: stopped\n"},
        {"$ORBV -q audio --bit-rate 64k $M1 k.m4a && $ORBV -q audio --bit-rate 64000 $M1 n.m4a", 0,
         "", ""},
    };
    const std::string setup = "cd " + dir.path() +
                              " && unset ORBV_LOG && ORBV=" ORBV_BINARY_DIR
                              "/bin/orbv MAKER=" ORBV_BINARY_DIR "/bin/orbv-sample-shot M1=" +
                              movies.lens1 + " M2=" + movies.lens2 + " S1=" + stills.lens1 +
                              " S2=" + stills.lens2 + " && export TMPDIR=" + dir.file("tmpd") +
                              " && ";
    for (const Row& row : rows) {
        const bool tty = row.command.compare(0, 4, "TTY ") == 0;
        const std::string command =
            tty ? "script -qec \"" + row.command.substr(4) + "\" /dev/null" : row.command;
        int status = -1;
        const std::string out = orbv_test::run_command(
            setup + row.env + " " + command + " 2>" + dir.file("stderr"), &status);
        const std::string err = read_file(dir.file("stderr"));
        EXPECT_EQ(status, row.status) << row.command << "\n" << out << err;
        EXPECT_TRUE(std::regex_match(out, std::regex(row.out))) << row.command << "\n" << out;
        EXPECT_TRUE(std::regex_match(err, std::regex(row.err))) << row.command << "\n" << err;
    }
    // --yaw is the old name of --y-rotation, and the rotation reaches the panorama.
    EXPECT_EQ(read_file(dir.file("q.jpg")), read_file(dir.file("p.jpg")));
    EXPECT_NE(read_file(dir.file("u.jpg")), read_file(dir.file("p.jpg")));
    for (const char* failed : {"x.mp4", "c.mov", "i2.mov", "t1.mov", "h3.mov"})
        EXPECT_FALSE(orbv_test::exists(dir.file(failed))) << failed;
    EXPECT_EQ(read_file(dir.file("k.m4a")), read_file(dir.file("n.m4a")));
    const std::string left = orbv_test::run_command("ls -A " + dir.file("tmpd"));
    EXPECT_TRUE(std::regex_match(left, std::regex("orbv-cancel-\\d+\n"))) << left;
}
