// The orbv tool and the sample-shot maker as a user drives them: a table of invocations, run in
// order in one directory, with their exit status and regular expressions for all they print.
#include <gtest/gtest.h>

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

// Commands see $ORBV, $MAKER, 30-frame movies $M1 $M2 and stills $S1 $S2, and no ORBV_LOG but
// the row's; "TTY " runs one on a pseudo-terminal through script(1).
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
    const orbv_sample::Shot movies = orbv_sample::make_shot(dir.path(), options);
    options.stills = true;
    options.name = "s";
    const orbv_sample::Shot stills = orbv_sample::make_shot(dir.path(), options);
    const std::string date = " --datetime '2024:05:17 10:30:00'";
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
        // Existing outputs stay untouched without -y: the later rows read these inputs.
        {"$ORBV export $S1 $S2 $S1", 2, "", "orbv: [^\n]* exists already \\(-y replaces it\\)\n"},
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
        {"$ORBV export none.mov $M2 x.mov", 1, "",
         "orbv: export failed: Input file1 not exiists\n"},
        // A failure after the start: AAC, which an MP4 carries, knows no 37800 samples a second.
        {"$MAKER --name r --rate 37800 --frames 30 --dir .", 0, "./r_lens1.mov\n./r_lens2.mov\n",
         kAny},
        {"$ORBV export r_lens1.mov r_lens2.mov x.mp4 --width 960", 1, "",
         kBar0 + " 0/30 frames\norbv: export failed: Could not write video: Invalid argument\n",
         "ORBV_LOG=none"},
        // A healthy camera movie logs nothing at the default level.
        {"$ORBV analyze $M1", 0, "done: MOVIE 1440 x 1440, [\\s\\S]*", ""},
        {"$ORBV --json analyze none.mov", 1,
         "\\{\"state\":4,\"document\":\\{\"errnum\":\"10000\",\"errstr\":\"Input file not "
         "exiists\",\"api_errnum\":-1,\"api_errstr\":\"\",\"movie_path\":\"none.mov\"\\}\\}\n",
         "orbv: analyze failed: Input file not exiists\n"},
        {"$ORBV --json export $S1 $S2 j.jpg --width 960", 0,
         "\\{\"state\":0,\"document\":\\{\"movie_path1\":[^\n]*,\"frame_count\":0\\}\\}\n"
         "\\{\"state\":2,\"document\":\\{\"movie_path1\":[^\n]*\\}\\}\n",
         ""},
    };
    const std::string setup = "cd " + dir.path() +
                              " && unset ORBV_LOG && ORBV=" ORBV_BINARY_DIR
                              "/bin/orbv MAKER=" ORBV_BINARY_DIR "/bin/orbv-sample-shot M1=" +
                              movies.lens1 + " M2=" + movies.lens2 + " S1=" + stills.lens1 +
                              " S2=" + stills.lens2 + " && ";
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
    for (const char* failed : {"x.mov", "x.mp4", "c.mov"})
        EXPECT_FALSE(orbv_test::exists(dir.file(failed))) << failed;
}
