// ORBV_analyze_image on camera files, foreign files and the camera's own texts turned hostile: the
// result documents, the target rules and the thumbnails.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "orbv.h"
#include "support/fixtures.h"
#include "support/test_support.h"

namespace {

using namespace orbv_test;

CallbackRecord analyze(const std::string& path, const std::string& thumbnail = "",
                       uint32_t width = 0, uint32_t flag = 0) {
    Recorder rec;
    EXPECT_EQ(ORBV_analyze_image(path.c_str(), thumbnail.empty() ? nullptr : thumbnail.c_str(),
                                 width, flag, &Recorder::callback),
              0);
    return rec.final_record();
}

std::string three_decimals(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
}

// The document of a camera file with these fields, as the interface writes it.
std::string camera_document(const std::string& fields, const orbv_sample::CameraInfo& c,
                            const std::string& rest) {
    return "{\"width\":1440,\"height\":1440," + fields + ",\"maker\":\"" + c.maker +
           "\",\"model\":\"" + c.model + "\",\"orientaion\":" + std::to_string(c.exif_orientation) +
           ",\"capture_mode\":" + std::to_string(c.capture_mode) +
           ",\"multi_capture\":" + std::to_string(c.multi_capture) +
           ",\"camera_orientation\":" + std::to_string(c.camera_orientation) +
           ",\"youtube360_maker\":\"(null)\",\"isTarget\":true," + rest + ",\"datetime\":\"" +
           c.datetime + "\",\"type\":";
}

TEST(Analysis, CameraMovieAndStillDocuments) {
    // Only the first 14 characters of the maker and 8 of the model count.
    const orbv_sample::CameraInfo c{"ORVAX COMPUTER Co., Ltd.", "ZK-TR500 II", 134, 7, 90, 6,
                                    "2024:05:17 10:30:00"};
    const std::string movie = shot("camera", 3, false, [&](auto& o) { o.camera = c; }).lens1;
    TempDir dir;
    const std::string thumb = dir.file("thumb.jpg");
    EXPECT_EQ(analyze(movie, thumb, 320).document,
              camera_document(
                  "\"duration\":" + three_decimals(3 * 1001 / 30000.0) + ",\"frame_count\":3", c,
                  "\"createdThumbnail\":true,\"movie_path\":\"" + movie +
                      "\",\"thumbnail_path\":\"" + thumb + "\"") +
                  "\"MOVIE\"}");
    EXPECT_EQ(probe(thumb, "v", "stream=width,height"), "320\n320");

    // A null thumbnail path writes nothing, whatever writeFlag says.
    const std::string still = shot("still", 1, true).lens1;
    const std::string frames = probe(still, "v", "stream=nb_frames");
    EXPECT_EQ(
        analyze(still, "", 0, 1).document,
        camera_document(
            "\"duration\":" + three_decimals(std::stod(probe(still, "v", "stream=duration"))) +
                ",\"frame_count\":" + (frames == "N/A" ? "0" : frames),
            orbv_sample::CameraInfo(),
            "\"createdThumbnail\":false,\"movie_path\":\"" + still + "\",\"thumbnail_path\":\"\"") +
            "\"JPEG\"}");
}

// Quotes, backslashes and control characters in the camera's texts are escaped like a path's
// (controls as \u00XX): they neither break the document nor add keys to it.
TEST(Analysis, CameraTextsCannotBreakTheDocument) {
    orbv_sample::CameraInfo camera;
    camera.maker = "X\",\"isTarget\":true,\"y\":\"";
    camera.model = "line\nbreak\\";
    camera.datetime = "2017:05:01\r\x01";
    TempDir dir;
    orbv_sample::write_still(dir.file("s.jpg"), orbv_sample::Picture(64, 64), &camera);
    const std::string d = analyze(dir.file("s.jpg")).document;
    EXPECT_TRUE(flat_json(d)) << d;
    EXPECT_EQ(json_field(d, "maker"), "X\\\",\\\"isTarget\\\":true,\\\"y\\\":\\\"") << d;
    EXPECT_EQ(json_field(d, "model"), "line\\u000abreak\\\\") << d;
    EXPECT_EQ(json_field(d, "datetime"), "2017:05:01\\u000d\\u0001") << d;
    EXPECT_EQ(json_field(d, "isTarget"), "false") << d;
}

std::string exiftool_still(const std::string& name, const std::string& tags) {
    std::string path = fixture_file(name);
    orbv_sample::write_still(path, orbv_sample::Picture(320, 320), nullptr);
    run_command("exiftool -q -overwrite_original " + tags + " " + shell_quote(path));
    return path;
}

// Which files are the viewer's targets, what is read from others, and when a thumbnail is
// written and at which size.
TEST(Analysis, TargetAndThumbnailRules) {
    using orbv_sample::Sound;
    const std::string aac = shot("aac", 3, false, [](auto& o) { o.sound = Sound::Aac; }).lens1;
    const std::string silent =
        shot("silent", 3, false, [](auto& o) { o.sound = Sound::None; }).lens1;
    auto mode = [](int m) {
        return shot("still" + std::to_string(m), 1, true,
                    [m](auto& o) { o.camera.capture_mode = m; })
            .lens1;
    };
    const std::string s129 = mode(129), s130 = mode(130);
    const std::string plain = fixture_file("plain.mp4");
    run_command(
        "ffmpeg -v error -f lavfi -i testsrc=size=480x360:rate=25 -f lavfi -i sine -t 0.2 "
        "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac " +
        shell_quote(plain));
    const std::string other =
        exiftool_still("other.jpg",
                       "-Make='Othercam Optics' -Model=OC-1 "
                       "-Orientation#=3 -DateTimeOriginal='2023:01:02 03:04:05'");
    const std::string gpano =
        exiftool_still("gpano.jpg",
                       "-XMP-GPano:StitchingSoftware='VELORA360Viewer win.1.0.0' "
                       "-XMP-GPano:FirstPhotoDate='2024:06:01 12:00:00'");
    std::string date = run_command("exiftool -s3 -d %Y-%m-%dT%H:%M:%S -XMP-GPano:FirstPhotoDate " +
                                   shell_quote(gpano));
    date.pop_back();
    // Phones keep the capture date in the container: a local time with its zone, and a moment.
    auto dated = [](const std::string& name, const std::string& metadata) {
        std::string path = fixture_file(name);
        run_command(
            "ffmpeg -v error -f lavfi -i testsrc=size=64x48:rate=10 -t 0.3 -movflags "
            "use_metadata_tags " +
            metadata + " " + shell_quote(path));
        return path;
    };
    const std::string phone = "-metadata com.apple.quicktime.creationdate=";
    TempDir dir;
    const std::string& still = shot("still", 1, true).lens1;
    std::filesystem::copy_file(silent, dir.file("CLIP.MOV"));
    std::filesystem::copy_file(still, dir.file("clip.jpeg"));
    std::filesystem::copy_file(still, dir.file("still.mp4"));
    std::filesystem::copy_file(silent, dir.file("clip.jpg"));
    std::filesystem::copy_file(silent, dir.file("clip.3gp"));
    orbv_sample::write_still(dir.file("wide.jpg"), orbv_sample::Picture(1920, 1080), nullptr);
    struct Rule {
        std::string path;
        uint32_t width, flag;
        std::string fields;          // key:value|key:value...
        std::string thumbnail = "";  // "W\nH" of a thumbnail that must be written
    };
    for (const Rule& r : std::vector<Rule>{
             {aac, 0, 0, "isTarget:false"},  // AAC sound is never a target
             {silent, 0, 0, "isTarget:true", "1440\n1440"},
             {s129, 160, 0, "capture_mode:129|isTarget:true", "160\n160"},
             {s130, 160, 0, "capture_mode:130|isTarget:false"},
             {s129, 5000, 0, "type:JPEG", "1440\n1440"},  // never wider than the picture
             {plain, 200, 0,
              "type:MOVIE|width:480|height:360|maker:(null)|datetime:(null)|"
              "capture_mode:-1|isTarget:false"},
             {plain, 200, 1, "type:MOVIE", "200\n150"},
             {other, 200, 0,
              "maker:Othercam Optics|model:OC-1|orientaion:3|"
              "datetime:2023:01:02 03:04:05|capture_mode:-1|isTarget:false"},
             {other, 200, 1, "type:JPEG", "200\n200"},
             {dir.file("wide.jpg"), 161, 1, "width:1920", "161\n90"},
             {gpano, 0, 0,
              "isTarget:true|youtube360_maker:VELORA360Viewer win.1.0.0|"
              "maker:(null)|datetime:" +
                  date,
              "320\n320"},
             {dir.file("CLIP.MOV"), 0, 0, "type:MOVIE|isTarget:true", "1440\n1440"},
             {dir.file("clip.jpeg"), 0, 0, "type:JPEG|isTarget:true", "1440\n1440"},
             {dir.file("still.mp4"), 0, 0, "type:JPEG|maker:ORVAX COMPUTER|isTarget:true",
              "1440\n1440"},
             {dir.file("clip.jpg"), 0, 0, "type:MOVIE|isTarget:true", "1440\n1440"},
             {dir.file("clip.3gp"), 0, 0, "type:MOVIE|isTarget:true", "1440\n1440"},
             {dated("utc.mov", "-metadata creation_time=2021-03-04T05:06:07+0100"), 0, 0,
              "datetime:2021:03:04 04:06:07"},
             {dated("phone.mov", phone + "2019-07-24T08:25:57+0200 -metadata "
                                         "creation_time=2020-01-01T00:00:00Z"),
              0, 0, "datetime:2019:07:24 08:25:57"},
             {dated("no_day.mov", phone + "2019-02-29T08:25:57+0200"), 0, 0, "datetime:(null)"},
         }) {
        SCOPED_TRACE(r.path + " " + r.fields);
        const std::string thumb = dir.file("thumb.jpg");
        std::remove(thumb.c_str());
        const CallbackRecord c = analyze(r.path, thumb, r.width, r.flag);
        ASSERT_EQ(c.state, STATE_DONE) << c.document;
        std::istringstream fields(r.fields);
        for (std::string field; std::getline(fields, field, '|');) {
            const size_t colon = field.find(':');
            EXPECT_EQ(json_field(c.document, field.substr(0, colon)), field.substr(colon + 1));
        }
        EXPECT_EQ(json_field(c.document, "createdThumbnail"),
                  r.thumbnail.empty() ? "false" : "true");
        EXPECT_EQ(exists(thumb) ? probe(thumb, "v", "stream=width,height") : "", r.thumbnail);
    }
}

// Files of other cameras and phones: a little-endian EXIF still turned by orientations 5 to 8, a
// movie with a display matrix, a fragmented MP4, Matroska named .mov and a cut held by an edit
// list. The thumbnail looks like ffmpeg's upright picture, and a movie counts the pictures ffprobe
// decodes, over its duration.
TEST(Analysis, OtherCamerasFiles) {
    const std::string src = fixture_file("src.mov"), plain = fixture_file("plain.jpg");
    run_command(
        "ffmpeg -v error -f lavfi -t 4 -i testsrc2=size=320x180:rate=30000/1001 -g 30 "
        "-c:v libx264 -pix_fmt yuv420p " +
        src + " -vf scale=120:80 -frames:v 1 " + plain);
    auto remux = [&](const std::string& name, const std::string& before, const std::string& after) {
        std::string path = fixture_file(name);
        run_command("ffmpeg -v error " + before + " -i " + src + " -c copy " + after + " " + path);
        return path;
    };
    auto turned = [&](int orientation) {
        std::string path = fixture_file("le" + std::to_string(orientation) + ".jpg");
        std::filesystem::copy_file(plain, path);
        run_command("exiftool -q -overwrite_original -ExifByteOrder=II -n -Orientation=" +
                    std::to_string(orientation) + " " + path);
        EXPECT_EQ(run_command("exiftool -s3 -ExifByteOrder " + path),
                  "Little-endian (Intel, II)\n");
        return path;
    };
    struct Row {
        std::string path, upright;  // ffmpeg's options that stand the picture up
        std::string size;
    };
    for (const Row& r : std::vector<Row>{
             {turned(5), "-i " + plain + " -vf transpose=0", "80\n120"},
             {turned(6), "-i " + plain + " -vf transpose=1", "80\n120"},
             {turned(7), "-i " + plain + " -vf transpose=3", "80\n120"},
             {turned(8), "-i " + plain + " -vf transpose=2", "80\n120"},
             {remux("rotated.mov", "", "-metadata:s:v:0 rotate=90"), "", "180\n320"},
             {remux("frag.mp4", "", "-movflags frag_keyframe+empty_moov+default_base_moof"), "",
              "320\n180"},
             {remux("matroska.mov", "", "-f matroska"), "", "320\n180"},
             {remux("cut.mov", "-ss 1", ""), "", "320\n180"},
         }) {
        SCOPED_TRACE(r.path);
        TempDir dir;
        const std::string thumb = dir.file("thumb.jpg"), upright = dir.file("upright.png");
        const std::string d = analyze(r.path, thumb, 0, 1).document;
        EXPECT_EQ(probe(thumb, "v", "stream=width,height"), r.size);
        run_command("ffmpeg -v error " + (r.upright.empty() ? "-i " + r.path : r.upright) +
                    " -frames:v 1 " + upright);
        EXPECT_GE(luma_psnr(thumb, upright), 30.0);
        if (r.path.find(".jpg") != std::string::npos) {
            EXPECT_EQ(json_field(d, "orientaion"), r.path.substr(r.path.size() - 5, 1)) << d;
            continue;
        }
        const int64_t frames = std::stoll(
            run_command("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                        "stream=nb_read_frames -of csv=p=0 " +
                        r.path));
        EXPECT_EQ(json_field(d, "type"), "MOVIE");
        EXPECT_NEAR(std::stoll(json_field(d, "frame_count")), frames, 1) << d;
        EXPECT_NEAR(std::stod(json_field(d, "duration")), frames * 1001 / 30000.0, 0.002) << d;
    }
}

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0' || text.back() == '\n'))
        text.pop_back();
    return text;
}

// The EXIF of stills from other makers and writers, in either byte order, reads as exiftool reads
// it (ignoring trailing spaces). The files are not ours: the test skips where they are absent.
TEST(RealFiles, ExifReadsAsExiftoolReadsIt) {
    const std::string folder = ORBV_REAL_FILES "/exif";
    if (!std::filesystem::is_directory(folder)) GTEST_SKIP() << folder << " is absent";
    int files = 0;
    TempDir dir;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() != ".jpg") continue;
        const std::string path = entry.path().generic_u8string();
        const std::string ours = analyze(path).document;
        // Under a movie's name it is the same still: only the path differs.
        const std::string renamed = dir.file("renamed.mov");
        std::filesystem::copy_file(path, renamed,
                                   std::filesystem::copy_options::overwrite_existing);
        std::string as_movie = analyze(renamed).document;
        const size_t at = as_movie.find(renamed);
        ASSERT_NE(at, std::string::npos) << as_movie;
        EXPECT_EQ(as_movie.replace(at, renamed.size(), path), ours);
        std::string theirs = run_command(
            "exiftool -j -n -EXIF:Make -EXIF:Model -EXIF:Orientation "
            "-EXIF:DateTimeOriginal " +
            shell_quote(path));
        for (size_t colon; (colon = theirs.find("\": ")) != std::string::npos;)
            theirs.erase(colon + 2, 1);
        for (const auto& [key, tag, absent] :
             std::vector<std::tuple<std::string, std::string, std::string>>{
                 {"maker", "Make", "(null)"},
                 {"model", "Model", "(null)"},
                 {"orientaion", "Orientation", "-1"},
                 {"datetime", "DateTimeOriginal", "(null)"}}) {
            const std::string value = json_field(theirs, tag);
            EXPECT_EQ(trimmed(json_field(ours, key)),
                      value == "<missing>" ? absent : trimmed(value))
                << path << " " << tag;
        }
        ++files;
    }
    EXPECT_GT(files, 0);
}

}  // namespace
