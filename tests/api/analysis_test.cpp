// ORBV_analyze_image seen by a host: the result documents of camera movies and stills, the
// target rules, the thumbnail rules and the failures, on files of the sample-shot maker and
// on files that the ffmpeg program and exiftool wrote.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "orbv.h"
#include "sample_shot.h"
#include "support/command.h"
#include "support/test_support.h"

using orbv_test::json_field;
using orbv_test::probe;
using orbv_test::program_available;
using orbv_test::read_file;
using orbv_test::Recorder;
using orbv_test::run_status;
using orbv_test::shell_quote;
using orbv_test::TempDir;
using orbv_test::write_file;

namespace {

constexpr int kSize = 1440;
constexpr int kFrames = 3;
constexpr char kAacCodecId[] = "86018";  // AV_CODEC_ID_AAC
constexpr char kPcmCodecId[] = "65536";  // AV_CODEC_ID_PCM_S16LE

orbv_sample::CameraInfo camera_of_movies() {
    orbv_sample::CameraInfo c;
    c.maker = "ORVAX COMPUTER Co., Ltd.";  // only the first 14 characters count
    c.model = "ZK-TR500 II";               // only the first 8 characters count
    c.capture_mode = 134;
    c.multi_capture = 7;
    c.camera_orientation = 90;
    c.exif_orientation = 6;
    c.datetime = "2024:05:17 10:30:00";
    return c;
}

orbv_sample::CameraInfo camera_of_mode(int mode) {
    orbv_sample::CameraInfo c;
    c.capture_mode = mode;
    return c;
}

orbv_sample::Picture flat_picture(int frame) {
    orbv_sample::Picture p(kSize, kSize, 110, 120, 140);
    orbv_sample::stamp_frame_code(p, frame);
    return p;
}

std::string movie(const std::string& path, orbv_sample::Sound sound) {
    orbv_sample::MovieOptions m;
    m.width = m.height = kSize;
    m.frames = kFrames;
    m.sound = sound;
    m.camera = camera_of_movies();
    m.picture = flat_picture;
    orbv_sample::write_movie(path, m);
    return path;
}

std::string still(const std::string& path, const orbv_sample::CameraInfo* camera) {
    orbv_sample::write_still(path, flat_picture(0), camera);
    return path;
}

// The files are written once for the whole program; those of the ffmpeg program and exiftool
// stay empty when the program is missing.
struct Files {
    TempDir dir;
    std::string pcm_movie, aac_movie, silent_movie;
    std::string still128, still129, still130;
    std::string plain_movie;  // the ffmpeg program's, no camera metadata at all
    std::string other_still;  // EXIF by exiftool: another maker
    std::string named_still;  // EXIF by exiftool: the camera's names but no maker note
    std::string gpano_still;  // exiftool's GPano packet naming this library's software
    std::string gpano_date;   // the FirstPhotoDate exiftool wrote there
};
Files* files = nullptr;

std::string exiftool_still(const std::string& path, const std::string& tags) {
    still(path, nullptr);
    const int status =
        run_status("exiftool -q -overwrite_original " + tags + " " + shell_quote(path));
    return status == 0 ? path : std::string();
}

class AnalyzeImage : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        files = new Files;
        Files& f = *files;
        f.pcm_movie = movie(f.dir.file("pcm.mov"), orbv_sample::Sound::Pcm);
        f.aac_movie = movie(f.dir.file("aac.mov"), orbv_sample::Sound::Aac);
        f.silent_movie = movie(f.dir.file("silent.mov"), orbv_sample::Sound::None);
        for (int mode : {128, 129, 130}) {
            const orbv_sample::CameraInfo camera = camera_of_mode(mode);
            std::string& path = mode == 128 ? f.still128 : mode == 129 ? f.still129 : f.still130;
            path = still(f.dir.file("mode" + std::to_string(mode) + ".jpg"), &camera);
        }
        if (program_available("ffmpeg")) {
            const std::string path = f.dir.file("plain.mp4");
            if (run_status("ffmpeg -v error -y -f lavfi -i testsrc=size=480x360:rate=25 -f lavfi "
                           "-i sine=frequency=440:sample_rate=48000 -t 0.2 -c:v libx264 "
                           "-preset ultrafast -pix_fmt yuv420p -c:a aac " +
                           shell_quote(path)) == 0) {
                f.plain_movie = path;
            }
        }
        if (program_available("exiftool")) {
            f.other_still = exiftool_still(f.dir.file("other.jpg"),
                                           "-Make='Othercam Optics' -Model=OC-1 -Orientation#=3 "
                                           "-DateTimeOriginal='2023:01:02 03:04:05'");
            f.named_still =
                exiftool_still(f.dir.file("named.jpg"), "-Make='ORVAX COMPUTER' -Model=ZK-TR500");
            f.gpano_still =
                exiftool_still(f.dir.file("gpano.jpg"),
                               "-XMP-GPano:StitchingSoftware='VELORA360Viewer win.1.0.0' "
                               "-XMP-GPano:FirstPhotoDate='2024:06:01 12:00:00'");
            std::string date;
            if (!f.gpano_still.empty() &&
                run_status("exiftool -s3 -XMP-GPano:FirstPhotoDate -d '%Y-%m-%dT%H:%M:%S' " +
                               shell_quote(f.gpano_still),
                           &date) == 0) {
                while (!date.empty() && date.back() == '\n') date.pop_back();
                f.gpano_date = date;
            }
        }
    }
    static void TearDownTestSuite() {
        delete files;
        files = nullptr;
    }

    TempDir out;
};

struct Outcome {
    int64_t result;
    orbv_test::CallbackRecord record;
    std::string log;
};

Outcome analyze(const std::string& path, const char* thumbnail, uint32_t width,
                uint32_t write_flag) {
    Recorder rec;
    Outcome o;
    testing::internal::CaptureStderr();
    o.result = ORBV_analyze_image(path.c_str(), thumbnail, width, write_flag, &Recorder::callback);
    o.log = testing::internal::GetCapturedStderr();
    o.record = rec.final_record();
    return o;
}
Outcome analyze(const std::string& path, const std::string& thumbnail, uint32_t width = 0,
                uint32_t write_flag = 0) {
    return analyze(path, thumbnail.c_str(), width, write_flag);
}

// The log lines that begin with a tag, in order.
std::vector<std::string> lines_of(const std::string& log, const std::string& tag) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < log.size()) {
        size_t end = log.find('\n', start);
        if (end == std::string::npos) end = log.size();
        const std::string line = log.substr(start, end - start);
        if (line.compare(0, tag.size(), tag) == 0) lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

std::string three_decimals(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
}

bool exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

std::string error_document(int errnum, const std::string& errstr, const std::string& api_errnum,
                           const std::string& api_errstr, const std::string& movie_path) {
    return "{\"errnum\":\"" + std::to_string(errnum) + "\",\"errstr\":\"" + errstr +
           "\",\"api_errnum\":" + api_errnum + ",\"api_errstr\":\"" + api_errstr +
           "\",\"movie_path\":\"" + movie_path + "\"}";
}

}  // namespace

TEST_F(AnalyzeImage, CameraMovieResultNamesEveryField) {
    const std::string thumbnail = out.file("thumb.jpg");
    const Outcome o = analyze(files->pcm_movie, thumbnail, 320);
    EXPECT_EQ(o.result, 0);
    ASSERT_EQ(o.record.state, STATE_DONE) << o.record.document;
    const orbv_sample::CameraInfo c = camera_of_movies();
    EXPECT_EQ(
        o.record.document,
        "{\"width\":1440,\"height\":1440,\"duration\":" + three_decimals(kFrames * 1001 / 30000.0) +
            ",\"frame_count\":" + std::to_string(kFrames) + ",\"maker\":\"" + c.maker +
            "\",\"model\":\"" + c.model +
            "\",\"orientaion\":6,\"capture_mode\":134,\"multi_capture\":7,"
            "\"camera_orientation\":90,\"youtube360_maker\":\"(null)\",\"isTarget\":true,"
            "\"createdThumbnail\":true,\"movie_path\":\"" +
            files->pcm_movie + "\",\"thumbnail_path\":\"" + thumbnail + "\",\"datetime\":\"" +
            c.datetime + "\",\"type\":\"MOVIE\"}");
    ASSERT_TRUE(exists(thumbnail));
    if (program_available("ffprobe")) {
        EXPECT_EQ(probe(thumbnail, "v", "stream=width"), "320");
        EXPECT_EQ(probe(thumbnail, "v", "stream=height"), "320");
    }
    const std::vector<std::string> expected = {
        "[ORBV_analyze_movie] start:" + files->pcm_movie + ":",
        "[ORBV_analyze_movie] isVELORA360 -1",
        "[ORBV_analyze_movie] isTarget 1",
        std::string("[ORBV_analyze_movie] codec_id:") + kPcmCodecId + ":",
        "[ORBV_analyze_movie] isTarget__:1:",
        "[ORBV_analyze_movie] thumbnail_path:" + thumbnail + ":",
        "[ORBV_analyze_movie] writeFlag:0:",
        "[ORBV_analyze_movie] end:" + files->pcm_movie + ":",
    };
    EXPECT_EQ(lines_of(o.log, "[ORBV_analyze_movie]"), expected) << o.log;
}

TEST_F(AnalyzeImage, CameraStillResultNamesEveryField) {
    if (!program_available("ffprobe")) GTEST_SKIP() << "ffprobe is needed for the still's timing";
    // A null thumbnail path writes nothing, whatever writeFlag says.
    const Outcome o = analyze(files->still128, nullptr, 0, 1);
    EXPECT_EQ(o.result, 0);
    ASSERT_EQ(o.record.state, STATE_DONE) << o.record.document;
    const orbv_sample::CameraInfo c = camera_of_mode(128);
    const std::string frames = probe(files->still128, "v", "stream=nb_frames");
    EXPECT_EQ(o.record.document,
              "{\"width\":1440,\"height\":1440,\"duration\":" +
                  three_decimals(std::stod(probe(files->still128, "v", "stream=duration"))) +
                  ",\"frame_count\":" + (frames == "N/A" ? "0" : frames) + ",\"maker\":\"" +
                  c.maker + "\",\"model\":\"" + c.model +
                  "\",\"orientaion\":" + std::to_string(c.exif_orientation) +
                  ",\"capture_mode\":128,\"multi_capture\":" + std::to_string(c.multi_capture) +
                  ",\"camera_orientation\":" + std::to_string(c.camera_orientation) +
                  ",\"youtube360_maker\":\"(null)\",\"isTarget\":true,"
                  "\"createdThumbnail\":false,\"movie_path\":\"" +
                  files->still128 + "\",\"thumbnail_path\":\"\",\"datetime\":\"" + c.datetime +
                  "\",\"type\":\"JPEG\"}");
    const std::vector<std::string> expected = {
        "[ORBV_analyze_jpeg] start:" + files->still128 + ":",
        "[ORBV_analyze_jpeg] xmp not found",
        "[ORBV_analyze_jpeg] end:" + files->still128 + ":",
    };
    EXPECT_EQ(lines_of(o.log, "[ORBV_analyze_jpeg]"), expected) << o.log;
    EXPECT_NE(o.log.find("\n[.jpeg analyze] close stream\n"), std::string::npos) << o.log;
}

TEST_F(AnalyzeImage, AacSoundIsNeverATargetAndSilenceDoesNotMatter) {
    const std::string thumbnail = out.file("aac.jpg");
    Outcome o = analyze(files->aac_movie, thumbnail);
    ASSERT_EQ(o.record.state, STATE_DONE) << o.record.document;
    EXPECT_EQ(json_field(o.record.document, "isTarget"), "false");
    EXPECT_EQ(json_field(o.record.document, "createdThumbnail"), "false");
    EXPECT_FALSE(exists(thumbnail));
    // The camera rule held; the sound overruled it.
    const std::vector<std::string> expected = {
        "[ORBV_analyze_movie] isTarget 1",
        std::string("[ORBV_analyze_movie] codec_id:") + kAacCodecId + ":",
        "[ORBV_analyze_movie] isTarget__:0:",
    };
    EXPECT_NE(o.log.find(expected[0] + "\n"), std::string::npos) << o.log;
    EXPECT_NE(o.log.find(expected[1] + "\n" + expected[2] + "\n"), std::string::npos) << o.log;

    o = analyze(files->silent_movie, thumbnail);
    ASSERT_EQ(o.record.state, STATE_DONE) << o.record.document;
    EXPECT_EQ(json_field(o.record.document, "isTarget"), "true");
    EXPECT_EQ(json_field(o.record.document, "createdThumbnail"), "true");
    EXPECT_TRUE(exists(thumbnail));
    EXPECT_NE(o.log.find("[ORBV_analyze_movie] codec_id:0:\n"), std::string::npos) << o.log;
}

TEST_F(AnalyzeImage, CaptureMode129IsATargetAnd130IsNot) {
    const std::string t129 = out.file("129.jpg");
    const std::string t130 = out.file("130.jpg");
    Outcome o = analyze(files->still129, t129, 160);
    ASSERT_EQ(o.record.state, STATE_DONE) << o.record.document;
    EXPECT_EQ(json_field(o.record.document, "capture_mode"), "129");
    EXPECT_EQ(json_field(o.record.document, "isTarget"), "true");
    EXPECT_EQ(json_field(o.record.document, "createdThumbnail"), "true");
    EXPECT_TRUE(exists(t129));

    o = analyze(files->still130, t130, 160);
    ASSERT_EQ(o.record.state, STATE_DONE) << o.record.document;
    EXPECT_EQ(json_field(o.record.document, "capture_mode"), "130");
    EXPECT_EQ(json_field(o.record.document, "isTarget"), "false");
    EXPECT_EQ(json_field(o.record.document, "createdThumbnail"), "false");
    EXPECT_FALSE(exists(t130));
}

TEST_F(AnalyzeImage, OtherFilesGetAThumbnailOnlyWithWriteFlag) {
    struct Case {
        std::string path;
        const char* type;
    };
    std::vector<Case> cases;
    if (!files->plain_movie.empty()) cases.push_back({files->plain_movie, "MOVIE"});
    if (!files->other_still.empty()) cases.push_back({files->other_still, "JPEG"});
    if (cases.empty()) GTEST_SKIP() << "neither the ffmpeg program nor exiftool is available";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const std::string thumbnail = out.file(std::string(c.type) + ".jpg");
        Outcome o = analyze(c.path, thumbnail, 200, 0);
        ASSERT_EQ(o.record.state, STATE_DONE) << o.record.document;
        EXPECT_EQ(json_field(o.record.document, "isTarget"), "false");
        EXPECT_EQ(json_field(o.record.document, "createdThumbnail"), "false");
        EXPECT_EQ(json_field(o.record.document, "type"), c.type);
        EXPECT_FALSE(exists(thumbnail));

        o = analyze(c.path, thumbnail, 200, 1);
        ASSERT_EQ(o.record.state, STATE_DONE) << o.record.document;
        EXPECT_EQ(json_field(o.record.document, "isTarget"), "false");
        EXPECT_EQ(json_field(o.record.document, "createdThumbnail"), "true");
        ASSERT_TRUE(exists(thumbnail));
        if (program_available("ffprobe")) {
            EXPECT_EQ(probe(thumbnail, "v", "stream=width"), "200");
        }
    }
    if (!files->plain_movie.empty()) {
        const std::string d = analyze(files->plain_movie, nullptr, 0, 0).record.document;
        EXPECT_EQ(json_field(d, "width"), "480");
        EXPECT_EQ(json_field(d, "height"), "360");
        for (const char* key : {"maker", "model", "youtube360_maker", "datetime"}) {
            EXPECT_EQ(json_field(d, key), "(null)") << key;
        }
        for (const char* key : {"orientaion", "capture_mode", "multi_capture"}) {
            EXPECT_EQ(json_field(d, key), "-1") << key;
        }
    }
    if (!files->other_still.empty()) {
        const std::string d = analyze(files->other_still, nullptr, 0, 0).record.document;
        EXPECT_EQ(json_field(d, "maker"), "Othercam Optics");
        EXPECT_EQ(json_field(d, "model"), "OC-1");
        EXPECT_EQ(json_field(d, "orientaion"), "3");
        EXPECT_EQ(json_field(d, "datetime"), "2023:01:02 03:04:05");
        EXPECT_EQ(json_field(d, "capture_mode"), "-1");
    }
}

TEST_F(AnalyzeImage, ExiftoolWrittenMetadataFollowsTheSameRules) {
    if (files->named_still.empty() || files->gpano_still.empty()) {
        GTEST_SKIP() << "exiftool is not available";
    }
    // The camera's names without its maker note are not enough.
    std::string d = analyze(files->named_still, nullptr, 0, 0).record.document;
    EXPECT_EQ(json_field(d, "maker"), "ORVAX COMPUTER");
    EXPECT_EQ(json_field(d, "model"), "ZK-TR500");
    EXPECT_EQ(json_field(d, "capture_mode"), "-1");
    EXPECT_EQ(json_field(d, "isTarget"), "false");

    // A GPano packet naming this library's software makes a target, dated by the packet.
    d = analyze(files->gpano_still, nullptr, 0, 0).record.document;
    EXPECT_EQ(json_field(d, "isTarget"), "true");
    EXPECT_EQ(json_field(d, "youtube360_maker"), "VELORA360Viewer win.1.0.0");
    EXPECT_EQ(json_field(d, "maker"), "(null)");
    EXPECT_FALSE(files->gpano_date.empty());
    EXPECT_EQ(json_field(d, "datetime"), files->gpano_date);
}

TEST_F(AnalyzeImage, FileFfmpegCannotOpenIs10001AndTheThumbnailIsRemoved) {
    const std::string thumbnail = out.file("thumb.jpg");
    const int invalid_data = -static_cast<int>(
        'I' | 'N' << 8 | 'D' << 16 | static_cast<unsigned>('A') << 24);  // AVERROR_INVALIDDATA
    for (const char* name : {"text.mov", "empty.jpg"}) {
        SCOPED_TRACE(name);
        const std::string path = out.file(name);
        write_file(path, name[0] == 't' ? "not a movie, only some text" : "");
        write_file(thumbnail, "an older thumbnail");
        const Outcome o = analyze(path, thumbnail, 0, 1);
        EXPECT_EQ(o.result, 0);
        ASSERT_EQ(o.record.state, STATE_FAILED);
        EXPECT_EQ(o.record.document,
                  error_document(10001, "Could Not open file", std::to_string(invalid_data),
                                 json_field(o.record.document, "api_errstr"), path));
        EXPECT_FALSE(json_field(o.record.document, "api_errstr").empty());
        EXPECT_EQ(read_file(thumbnail), "an older thumbnail");
    }
}

TEST_F(AnalyzeImage, ThumbnailThatCannotBeWrittenIs19999AndRemoved) {
    // The FLAC muxer creates its file and then refuses a picture stream; the SRT muxer has no
    // picture encoder at all.
    for (const char* name : {"thumb.flac", "thumb.srt"}) {
        SCOPED_TRACE(name);
        const std::string thumbnail = out.file(name);
        const Outcome o = analyze(files->still129, thumbnail);
        EXPECT_EQ(o.result, 0);
        ASSERT_EQ(o.record.state, STATE_FAILED);
        const std::string api_errnum = json_field(o.record.document, "api_errnum");
        EXPECT_EQ(o.record.document,
                  error_document(19999, "Could Not Write Thumbnail", api_errnum,
                                 json_field(o.record.document, "api_errstr"), files->still129));
        EXPECT_LT(std::stoll(api_errnum), 0);
        EXPECT_NE(o.log.find("[ORBV_analyze_jpeg] write_tuhmbnail error errnum:" + api_errnum),
                  std::string::npos)
            << o.log;
        EXPECT_FALSE(exists(thumbnail));
    }
}

TEST_F(AnalyzeImage, NameDecidesBetweenStillAndMovieInAnyCase) {
    namespace fs = std::filesystem;
    const std::string movie_copy = out.file("CLIP.MOV");
    const std::string still_copy = out.file("clip.jpeg");
    fs::copy_file(files->pcm_movie, movie_copy);
    fs::copy_file(files->still128, still_copy);
    std::string d = analyze(movie_copy, nullptr, 0, 0).record.document;
    EXPECT_EQ(json_field(d, "type"), "MOVIE");
    EXPECT_EQ(json_field(d, "isTarget"), "true");
    d = analyze(still_copy, nullptr, 0, 0).record.document;
    EXPECT_EQ(json_field(d, "type"), "JPEG");
    EXPECT_EQ(json_field(d, "isTarget"), "true");

    // A still named as a movie is read as a movie: no maker atom, so no camera.
    const std::string misnamed = out.file("still.mp4");
    fs::copy_file(files->still128, misnamed);
    const Outcome o = analyze(misnamed, nullptr, 0, 0);
    ASSERT_EQ(o.record.state, STATE_DONE) << o.record.document;
    EXPECT_EQ(json_field(o.record.document, "type"), "MOVIE");
    EXPECT_EQ(json_field(o.record.document, "maker"), "(null)");
    EXPECT_EQ(json_field(o.record.document, "isTarget"), "false");
}

TEST_F(AnalyzeImage, ThumbnailPathThatNamesTheInputIsRefused) {
    const std::string input = out.file("shot.jpg");
    std::filesystem::copy_file(files->still129, input);
    const std::string link = out.file("link.jpg");
    ASSERT_EQ(::symlink(input.c_str(), link.c_str()), 0);
    const std::string before = read_file(input);
    for (const std::string& thumbnail : {input, link}) {
        const Outcome o = analyze(input, thumbnail, 0, 1);
        ASSERT_EQ(o.record.state, STATE_FAILED);
        EXPECT_EQ(o.record.document,
                  error_document(10003, "tumbnail not writable", "-1", "", input));
        EXPECT_EQ(read_file(input), before);
    }
}
