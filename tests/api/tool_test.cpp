// The orbv tool and the sample-shot maker as a user drives them: tables of invocations with
// their exit status and regular expressions for all they print. Every row runs in a fresh
// directory of its own, on lens files and pictures made once for the suite.
#include <gtest/gtest.h>

#include <map>
#include <memory>
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
const std::string kDate = " --datetime '2024:05:17 10:30:00'", kBrief = " --end1 .2 --end2 .2";
const std::string kMp4Tag = "ffprobe -v error -show_entries format_tags=creation_time -of csv=p=0 ";
const std::string kSize = "ffprobe -v error -show_entries stream=width,height -of csv=p=0 ";
// A still's block: no duration, no frame count, and no value the file lacks ("(null)", -1).
const std::string kStillValues = "(  (?!duration|frame_count)[^:\n]*: (?!-1\n)[^\n(]*\n)+";

// Runs an export of the movies to OUT in the background and, once it writes, takes STEPS:
// "^" stops it, "~" resumes it, "-" waits 0.2 s, "I", "T" and "H" send SIGINT, SIGTERM, SIGHUP.
// Then lists what is left of the row's files and private cancel directories.
std::string signalled(const std::string& out, const std::string& steps) {
    static const std::map<char, std::string> kStep = {
        {'^', "kill -STOP $!"}, {'~', "kill -CONT $!"}, {'-', "sleep 0.2"},
        {'I', "kill -INT $!"},  {'T', "kill -TERM $!"}, {'H', "kill -HUP $!"}};
    std::string text = "{ $ORBV -q export $M1 $M2 " + out + " --width 1440 & until [ -e " + out +
                       " ] || ! kill -0 $!; do sleep 0.02; done; ";
    for (const char c : steps) text += kStep.at(c) + " 2>/dev/null; ";
    return text + "wait $!; }; left";
}

// Commands see $ORBV, $MAKER, 30-frame movies $M1 $M2, stills $S1 $S2 and the files of
// SetUpTestSuite by name in $F; no ORBV_LOG but the row's; `left` lists the files a row left,
// keeping the status. "TTY " runs a command on a pseudo-terminal through script(1).
struct Row {
    std::string command;
    int status;
    std::string out, err, env = "";
};

class Tool : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = std::make_unique<orbv_test::TempDir>();
        orbv_sample::ShotOptions options;
        options.frames = 30;
        options.name = "m";
        options.camera.datetime = "2023:01:02 03:04:05";
        orbv_sample::make_shot(dir_->path(), options);
        options.stills = true;
        options.name = "s";
        orbv_sample::make_shot(dir_->path(), options);
        // Other shots, pictures of other sizes and orientations, and a movie whose pictures
        // are all damaged past its header.
        const std::string make =
            "cd " + dir_->path() + " && M=" ORBV_BINARY_DIR "/bin/orbv-sample-shot" +
            " && $M --name r --rate 37800 --frames 30 && $M --name h --frames 20" +
            " && $M --still --name o --model X && for s in 90x60 60x90; do ffmpeg -v error -f " +
            "lavfi -i testsrc=s=$s -frames:v 1 p$s.jpg; done && cp p90x60.jpg turned.jpg && " +
            "exiftool -q -overwrite_original -n -Orientation=6 turned.jpg && cp m_lens1.mov " +
            "bad.mov && n=$(od -An -tu4 --endian=big -j28 -N4 bad.mov) && head -c $((n - 16)) " +
            "/dev/zero | tr '\\0' U | dd of=bad.mov bs=8 seek=5 conv=notrunc status=none";
        int status = -1;
        orbv_test::run_command(make + " >/dev/null", &status);
        ASSERT_EQ(status, 0) << make;
    }
    static void TearDownTestSuite() { dir_.reset(); }

    // Each row in a new directory, with a $TMPDIR of its own.
    static void check(const std::vector<Row>& rows) {
        for (const Row& row : rows) {
            const std::string name = "row" + std::to_string(++rows_run_);
            const std::string cd = dir_->file(name);
            const bool tty = row.command.compare(0, 4, "TTY ") == 0;
            const std::string command =
                tty ? "script -qec \"" + row.command.substr(4) + "\" /dev/null" : row.command;
            const std::string setup =
                "mkdir " + cd + " " + cd + ".tmp && cd " + cd + " && unset ORBV_LOG && ORBV=" +
                ORBV_BINARY_DIR "/bin/orbv MAKER=" ORBV_BINARY_DIR "/bin/orbv-sample-shot F=" +
                dir_->path() + " M1=$F/m_lens1.mov M2=$F/m_lens2.mov S1=$F/s_lens1.jpg" +
                " S2=$F/s_lens2.jpg && export TMPDIR=" + cd + ".tmp && left() { r=$?; ls -A; " +
                "ls -A $TMPDIR; return $r; } && ";
            int status = -1;
            const std::string out = orbv_test::run_command(
                setup + (row.env.empty() ? "" : "export " + row.env + " && ") + "{ " + command +
                    "; } 2>" + cd + ".err",
                &status);
            const std::string err = read_file(cd + ".err");
            EXPECT_EQ(status, row.status) << row.command << "\n" << out << err;
            EXPECT_TRUE(std::regex_match(out, std::regex(row.out))) << row.command << "\n" << out;
            EXPECT_TRUE(std::regex_match(err, std::regex(row.err))) << row.command << "\n" << err;
        }
    }

    static std::unique_ptr<orbv_test::TempDir> dir_;
    static int rows_run_;
};

std::unique_ptr<orbv_test::TempDir> Tool::dir_;
int Tool::rows_run_ = 0;

TEST_F(Tool, UsageErrorsAndHelp) {
    check({
        {"$ORBV --help", 0,
         "Usage: orbv [\\s\\S]*a target, that is a file\n *from the supported camera, or a "
         "panorama orbv made\\.[\\s\\S]*--fit N[\\s\\S]*-255 to 255[\\s\\S]*--end2 "
         "S\n[^\n]*\n[^\n]*"
         "inclusive[\\s\\S]*1440, 1936 or 3888[\\s\\S]*",
         ""},
        {"$MAKER --width 1441 --dir .", 2, "",
         "orbv-sample-shot: cannot render lens pictures 1441 pixels wide\n"},
        // Before any call; a panorama is 2:1 and its sides even, the width names the rule.
        {"$ORBV export $S1 $S2 p.jpg --width 961", 2, "", kUsageError},
        {"$ORBV export $M1 $M2 p.mov --width 16386", 2, "",
         "orbv: --width takes a positive multiple of 4 [^\n]*16386 \\(orbv[^\n]*\n"},
        {"$ORBV export $S1 $S2 p.jpg --height -4", 2, "", kUsageError},
        {"$ORBV export $S1 $S2 p.jpg --width 1920 --height 200", 2, "", "orbv: [^\n]*2:1[^\n]*\n"},
        {"$ORBV export $S1 $S2 p.jpg --offsets1 0,256,0", 2, "", kUsageError},
        {"$ORBV export $S1 $S2 p.jpg --audio-input 2", 2, "", kUsageError},
        {"$ORBV export $S1 $S2 p.jpg --band none.png", 2, "", kUsageError},
        {"$ORBV export $S1 $S2 p.jpg --datetime '2023:02:29 10:30:00'", 2, "", kUsageError},
        {"$ORBV audio $M1 a.m4a --bit-rate 64x", 2, "", kUsageError},
        {"$ORBV --width 320 analyze $S1", 2, "",
         "orbv: option --width belongs after the command \\(orbv[^\n]*\n"},
        {"$ORBV analyze $S1 $S2 --thumbnail t.jpg", 2, "", kUsageError},
        {"$ORBV --json --bogus analyze $S1", 2,
         "\\{\"state\":4,\"message\":\"unknown option --bogus \\(orbv --help shows the "
         "usage\\)\"\\}\n",
         kUsageError},
        {"$MAKER --bogus", 2, "",
         "orbv-sample-shot: unknown option --bogus \\(--help shows [^\n]*\n"},
        {"$MAKER --name m --dir $F", 2, "", "orbv-sample-shot: [^\n]* exists already [^\n]*\n"},
        // One command's help, by either way of asking.
        {"$ORBV help analyse", 0,
         "Usage: orbv \\[OPTION\\]\\.\\.\\. analyze FILE\\.\\.\\. [^\n]*\n(  [^\n]*\n)+\nAnalyze "
         "options:\n[\\s\\S]*\nOptions:\n[\\s\\S]*--version[^\n]*\n",
         ""},
        {"$ORBV export --help", 0,
         "Usage: orbv \\[OPTION\\]\\.\\.\\. export (?![\\s\\S]*Commands)[\\s\\S]*Export "
         "options:\n[\\s\\S]*",
         ""},
    });
}

TEST_F(Tool, FailuresBlameTheFileOrOption) {
    // The library's codes and texts close each line; inputs go first, -y is offered only for
    // an output that may be replaced, and with --json the refusal is on standard output too.
    check({
        {"$ORBV export none.mov $M2 $M1", 1, "",
         "orbv: none.mov: no such file \\(30000 Input file1 not exiists\\)\n"},
        {"$ORBV --json export $S1 $S2 $S1", 2,
         "\\{\"state\":4,\"message\":\"[^\n]*s_lens1.jpg: is an input of this command, never its "
         "output\"\\}\n",
         "orbv: [^\n]*s_lens1.jpg: is an input of this command, never its output\n"},
        {"mkdir o; $ORBV export $M1 $M2 o", 2, "", "orbv: o: is a directory\n"},
        {"$ORBV export $M1 $M2 x.avi", 2, "",
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
        {"$ORBV -q export $M1 $M2 w.mov --width 100000", 2, "",
         "orbv: --width 100000: the panorama size is not supported \\(30001 [^\n]*16384 pixels a "
         "side\\)\n"},
        // As root the permission bits do not stop reading: the call runs as nobody.
        {"cp $S1 x.jpg && chmod 000 x.jpg && $([ $(id -u) = 0 ] && echo setpriv --reuid=65534 "
         "--regid=65534 --clear-groups) $ORBV analyze x.jpg",
         1, "", "orbv: x.jpg: permission denied \\(19999 [^\n]*\n", "ORBV_LOG=none"},
        {"$ORBV analyze $F/bad.mov --thumbnail t.jpg; left", 1, "",
         "orbv: [^\n]*bad.mov: damaged picture data \\(19999 [^\n]*\n", "ORBV_LOG=none"},
        // AAC, which an MP4 carries, knows no 37800 samples a second: a failure after the start.
        {"$ORBV export $F/r_lens1.mov $F/r_lens2.mov x.mp4 --width 960; left", 1, "",
         kBar0 + " 0/30 frames\norbv: x.mp4: writing it failed \\(39999 Could not write video: "
                 "Invalid argument\\)\n",
         "ORBV_LOG=none"},
        {"$ORBV -q export $M1 $M2 w.mov --width 960 --start2 100", 1, "",
         "orbv: [^\n]*m_lens2.mov: the window starts at 100.000 s, after the input's end at "
         "1.001 s \\([^\n]*\n"},
        {"$ORBV -q export $M1 $M2 w.mov --width 960 --start1 0.5 --end1 0.3", 1, "",
         "orbv: [^\n]*m_lens1.mov: the trim window holds no picture \\(30001 Trim Error "
         "InputFile1: [^\n]*duration:1.001\\)\n"},
    });
}

TEST_F(Tool, AnalysisOfManyFiles) {
    check({
        // One block per file, headed by its name; a failed file does not stop the others.
        {"$ORBV analyze $S1 none.jpg $F/p90x60.jpg $M1 .", 1,
         "[^\n]*s_lens1.jpg: JPEG 1440 x 1440, target\n" + kStillValues +
             "\n[^\n]*p90x60.jpg: JPEG 90 x 60, not a target\n" + kStillValues +
             "\n[^\n]*m_lens1.mov: MOVIE 1440 x 1440, 1.001 s, 30 frames, target\n  "
             "width: 1440\n[\\s\\S]*  frame_count: 30\n[\\s\\S]*",
         "orbv: none.jpg: no such file \\(10000 Input file not exiists\\)\n"
         "orbv: .: is a directory \\(-r [^\n]*\n"},
        {"$ORBV --json analyze $S1 none.jpg", 1,
         "\\{\"file\":\"[^\"]*s_lens1.jpg\",\"state\":2,\"width\":1440,[^\n]*\"type\":\"JPEG\"\\}\n"
         "\\{\"file\":\"none.jpg\",\"state\":4,\"errnum\":\"10000\",[^\n]*,\"message\":\"none.jpg: "
         "no such file \\(10000 Input file not exiists\\)\"\\}\n",
         kAny},
        {"mkdir -p d/e && cp $S1 d/e/a.jpg && cp $M1 d/b.MOV && echo x >d/c.txt && $ORBV --json "
         "analyze -r d | grep -o '^.\"file\":\"[^\"]*\",\"state\":.'",
         0, "\\{\"file\":\"d/b.MOV\",\"state\":2\n\\{\"file\":\"d/e/a.jpg\",\"state\":2\n", ""},
        {"$ORBV analyze $(for i in $(seq 21); do echo $S1; done) >/dev/null", 0, "",
         kBar0 + " 0/21 files\n[^\n]* 10/21 files[^\n]*\n[^\n]* 20/21 files[^\n]*\n" + kBar100 +
             " 21/21 files\n"},
        // A gallery: the longer side as shown is --fit, whatever the shape and EXIF turn.
        {"$ORBV -q analyze $F/p90x60.jpg $F/p60x90.jpg $F/turned.jpg $S1 --thumbnail-dir g --fit "
         "43 --force >/dev/null && for f in g/*; do " +
             kSize + "$f; done",
         0, "29,43\n43,28\n43,43\n28,43\n", ""},
        {"mkdir g && touch g/s_lens1.jpg && $ORBV analyze $S1 $S2 --thumbnail-dir g >/dev/null; "
         "r=$?; ls g; wc -c <g/s_lens1.jpg; exit $r",
         1, "s_lens1.jpg\ns_lens2.jpg\n0\n",
         "orbv: g/s_lens1.jpg: exists already \\(-y replaces it\\); [^\n]*s_lens1.jpg skipped\n"},
        {"$ORBV -q analyze $F/p60x90.jpg --thumbnail t.jpg --width 40 --force >/dev/null && " +
             kSize + "t.jpg",
         0, "40,60\n", ""},
        {"$ORBV analyze $F/o_lens1.jpg --thumbnail t.jpg >/dev/null", 0, "",
         "orbv: warning: [^\n]*o_lens1.jpg: no thumbnail written, [^\n]* \\(--force writes it\\)\n",
         "ORBV_LOG=none"},
    });
}

TEST_F(Tool, OptionsWithoutEffectAreNamed) {
    // Warnings leave the exit status as it is.
    check({
        {"$ORBV analyze $S1 --width 320 --force -y >/dev/null", 0, "",
         "orbv: warning: --width has no effect without --thumbnail or --thumbnail-dir\n"
         "orbv: warning: --force [^\n]*\norbv: warning: -y [^\n]*\n"},
        {"$ORBV -q export $S1 $S2 p.jpg --width 960 --start1 2 --end2 3 --audio-input 1", 0, "",
         "orbv: warning: --start1 has no effect on a still pair\norbv: warning: --end2 "
         "[^\n]*\norbv: warning: --audio-input [^\n]*\n"},
        {"$ORBV -q audio $M1 a.flac --bit-rate 64k", 0, "",
         "orbv: warning: --bit-rate has no effect on a.flac: [^\n]*\n"},
        {"echo x >b.txt; $ORBV -q export $S1 $S2 b.jpg --width 960 --band b.txt", 0, "",
         "orbv: warning: b.txt: not a picture; the panorama gets no band\n"},
        {"$ORBV -q export $M1 $F/h_lens2.mov h.mov --width 960", 0, "",
         "orbv: warning: [^\n]*h_lens2.mov is 0.334 s shorter than [^\n]*m_lens1.mov; [^\n]*\n"},
        // A negative start is the start: no length warning.
        {"$ORBV -q export $M1 $M2 n.mov --width 960 --start1 -1" + kBrief, 0, "", ""},
    });
}

TEST_F(Tool, ExportsProgressAndDates) {
    check({
        // A still shows no frame fraction; the progress line ends at 100%.
        {"$ORBV export $S1 $S2 p.jpg --width 960 --y-rotation 90" + kDate, 0, "",
         kBar0 + "\n" + kBar100 + "\n", "ORBV_LOG=none"},
        {"TTY $ORBV export $S1 $S2 p.jpg --width 960" + kDate, 0,
         "\r" + kBar0 + "\r" + kBar100 + " *\r\n", "", "ORBV_LOG=none"},
        // --yaw is the old name of --y-rotation, and the rotation reaches the panorama.
        {"$ORBV -q export $S1 $S2 p.jpg --width 960 --y-rotation 90" + kDate +
             " && $ORBV -q export $S1 $S2 q.jpg --width 960 --yaw 90" + kDate +
             " && $ORBV -q export $S1 $S2 u.jpg --width 960" + kDate +
             " && cmp p.jpg q.jpg && ! cmp -s p.jpg u.jpg",
         0, "", ""},
        {"$ORBV -v export $S1 $S2 v.jpg --width 960", 0, "", "\\[_ORBV_export\\][\\s\\S]*"},
        {"$ORBV export $M1 $M2 p.mov --width 1440", 0, "",
         kBar0 + " 0/30 frames\n\\[#{10}\\.{20}\\]  33% 10/30 frames, \\d+:\\d\\d left\n" +
             "\\[#{20}\\.{10}\\]  66% 20/30 frames, \\d+:\\d\\d left\n" + kBar100 +
             " 30/30 frames\n",
         "ORBV_LOG=none"},
        {"$ORBV audio $M1 a.wav", 0, "",
         kBar0 + " 0/(\\d+) packets\n[\\s\\S]*" + kBar100 + " \\1/\\1 packets\n", "ORBV_LOG=none"},
        {"$ORBV -q audio --bit-rate 64k $M1 k.m4a && $ORBV -q audio --bit-rate 64000 $M1 n.m4a "
         "&& cmp k.m4a n.m4a",
         0, "", ""},
        {"$ORBV --json export $S1 $S2 j.jpg --width 960", 0,
         "\\{\"state\":0,\"document\":\\{\"movie_path1\":[^\n]*,\"frame_count\":0\\}\\}\n"
         "\\{\"state\":2,\"document\":\\{\"movie_path1\":[^\n]*\\}\\}\n",
         ""},
        // Dates are UTC whatever TZ says; without --datetime a panorama has the shot's date.
        {"$ORBV -q export $M1 $M2 tz.mov --width 960" + kBrief + kDate + " && " + kMp4Tag +
             "tz.mov",
         0, "2024-05-17T10:30:00.000000Z\n", "", "TZ=Asia/Tokyo"},
        {"$ORBV -q export $M1 $M2 d.mov --width 960" + kBrief + " && " + kMp4Tag + "d.mov", 0,
         "2023-01-02T03:04:05.000000Z\n", ""},
        // The sample-shot maker is quiet unless asked.
        {"$MAKER --name q --frames 2 && $MAKER -y -v --name q --frames 2 2>&1 | grep -c libx264", 0,
         "./q_lens1.mov\n./q_lens2.mov\n[1-9]\\d*\n", ""},
    });
}

TEST_F(Tool, CancelsAndSignals) {
    // A cancel file that exists stops the export at its first report and takes the output.
    // Signals cancel through a private cancel file: no stale file of an earlier run's name
    // stops a run, and three signals stop the tool at once without a partial output.
    check({
        {"$ORBV export $M1 $M2 c.mov --width 1440 --cancel-file $S1; left", 3, "",
         kBar0 + " 0/30 frames\n[\\s\\S]*orbv: export cancelled\n", "ORBV_LOG=none"},
        {"sh -c \"touch $TMPDIR/orbv-cancel-\\$\\$ && exec $ORBV -q export $M1 $M2 st.mov "
         "--width 960" +
             kBrief + "\"; left",
         0, "st.mov\norbv-cancel-\\d+\n", ""},
        {signalled("i2.mov", "^I~-I"), 3, "",
         "\norbv: cancelling [^\n]*\norbv: export cancelled\n"},
        {signalled("t1.mov", "^T~"), 3, "", "\norbv: cancelling [^\n]*\norbv: export cancelled\n"},
        {signalled("h3.mov", "^HIT~"), 3, "", "\norbv: cancelling [^\n]*\n\norbv: stopped\n"},
    });
}

}  // namespace
