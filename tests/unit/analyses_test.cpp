// The still and movie analyses called directly: panoramas this library exported (metadata put
// in by its own writers), the record the export reads and the exception path.
#include "api/analyses.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "api/analysis_info.h"
#include "metadata/jpeg_file.h"
#include "metadata/mov_file.h"
#include "metadata/panorama_xml.h"
#include "sample_shot.h"
#include "support/test_support.h"

using orbv::AnalysisInfo;
using orbv::Document;
using orbv_test::json_field;
using orbv_test::TempDir;

namespace {

constexpr int kSize = 1440;
constexpr int kFrames = 3;
constexpr char kPanoramaDate[] = "2024:06:01 12:00:00";

struct Outcome {
    int32_t result = 0;
    std::string document;
    AnalysisInfo info;
    std::string log;
};

Outcome analyze(bool still, const std::string& path, const char* thumbnail = nullptr,
                uint32_t write_flag = 0) {
    Outcome o;
    Document document;
    testing::internal::CaptureStderr();
    o.result =
        still
            ? orbv::ORBV_analyze_jpeg(path.c_str(), thumbnail, 0, write_flag, &document, &o.info)
            : orbv::ORBV_analyze_movie(path.c_str(), thumbnail, 0, write_flag, &document, &o.info);
    o.log = testing::internal::GetCapturedStderr();
    o.document = document ? document.get() : "<none>";
    return o;
}

orbv_sample::Picture flat_picture(int frame) {
    orbv_sample::Picture p(kSize, kSize, 120, 100, 150);
    orbv_sample::stamp_frame_code(p, frame);
    return p;
}

std::string movie(const std::string& path, orbv_sample::Sound sound, bool with_camera,
                  const orbv_sample::CameraInfo& camera = {}) {
    orbv_sample::MovieOptions m;
    m.width = m.height = kSize;
    m.frames = kFrames;
    m.sound = sound;
    m.with_camera = with_camera;
    m.camera = camera;
    m.picture = flat_picture;
    orbv_sample::write_movie(path, m);
    return path;
}

std::string still(const std::string& path, const orbv_sample::CameraInfo* camera) {
    orbv_sample::write_still(path, flat_picture(0), camera);
    return path;
}

void insert_xmp(const std::string& path, const std::string& xmp) {
    orbv::JpegFile jpeg(path.c_str(), true);
    ASSERT_EQ(jpeg.insert_xmp(xmp.c_str()), 0);
}

void insert_xml(const std::string& path, const std::string& xml) {
    orbv::MovFile mov(path.c_str(), true);
    ASSERT_EQ(mov.insert_spherical_xml(xml.c_str()), 0);
}

// The files are written once for the whole program.
struct Files {
    TempDir dir;
    std::string panorama_still;      // GPano packet of this library, no EXIF
    std::string panorama_movie;      // spherical XML of this library, PCM, no maker atom
    std::string panorama_aac_movie;  // the same with AAC sound
    std::string mode130_panorama;    // camera still of mode 130 with this library's packet
    std::string foreign_panorama;    // GPano packet of another stitcher
    std::string camera_movie;        // maker atom with a multi-capture value above 2^31
};
Files* files = nullptr;

class Analyses : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        files = new Files;
        Files& f = *files;
        const std::string jpeg_xmp = orbv::make_panorama_xml(true, kSize, kSize, kPanoramaDate);
        const std::string movie_xml = orbv::make_panorama_xml(false, kSize, kSize, kPanoramaDate);

        f.panorama_still = still(f.dir.file("pano.jpg"), nullptr);
        insert_xmp(f.panorama_still, jpeg_xmp);
        f.panorama_movie = movie(f.dir.file("pano.mov"), orbv_sample::Sound::Pcm, false);
        insert_xml(f.panorama_movie, movie_xml);
        f.panorama_aac_movie = movie(f.dir.file("pano_aac.mov"), orbv_sample::Sound::Aac, false);
        insert_xml(f.panorama_aac_movie, movie_xml);

        orbv_sample::CameraInfo mode130;
        mode130.capture_mode = 130;
        f.mode130_panorama = still(f.dir.file("mode130.jpg"), &mode130);
        insert_xmp(f.mode130_panorama, jpeg_xmp);

        std::string foreign = jpeg_xmp;
        const size_t at = foreign.find(orbv::kStitchingSoftware);
        foreign.replace(at, std::strlen(orbv::kStitchingSoftware), "Other Stitcher 2.1");
        f.foreign_panorama = still(f.dir.file("foreign.jpg"), nullptr);
        insert_xmp(f.foreign_panorama, foreign);

        orbv_sample::CameraInfo camera;
        camera.capture_mode = 134;
        camera.multi_capture = 0xFFFFFFFEu;
        camera.camera_orientation = 255;
        camera.exif_orientation = 3;
        f.camera_movie = movie(f.dir.file("camera.mov"), orbv_sample::Sound::Pcm, true, camera);
    }
    static void TearDownTestSuite() {
        delete files;
        files = nullptr;
    }
};

}  // namespace

TEST_F(Analyses, StillExportedByThisLibraryIsATargetDatedByItsXmp) {
    const Outcome o = analyze(true, files->panorama_still);
    ASSERT_EQ(o.result, 0) << o.document;
    EXPECT_EQ(json_field(o.document, "isTarget"), "true");
    EXPECT_EQ(json_field(o.document, "youtube360_maker"), orbv::kStitchingSoftware);
    EXPECT_EQ(json_field(o.document, "datetime"), kPanoramaDate);
    EXPECT_EQ(json_field(o.document, "maker"), "(null)");
    EXPECT_EQ(json_field(o.document, "capture_mode"), "-1");
    EXPECT_EQ(json_field(o.document, "type"), "JPEG");
    EXPECT_TRUE(o.info.is_target);
    EXPECT_TRUE(o.info.is_still);
    EXPECT_EQ(o.info.width, kSize);
    EXPECT_EQ(o.info.orientation, -1);
    EXPECT_EQ(o.info.capture_mode, -1);
    EXPECT_NE(o.log.find("[ORBV_analyze_jpeg] exif not found\n"), std::string::npos) << o.log;
    EXPECT_EQ(o.log.find("xmp not found"), std::string::npos) << o.log;
}

TEST_F(Analyses, MovieExportedByThisLibraryIsATargetUnlessItsSoundIsAac) {
    Outcome o = analyze(false, files->panorama_movie);
    ASSERT_EQ(o.result, 0) << o.document;
    EXPECT_EQ(json_field(o.document, "isTarget"), "true");
    EXPECT_EQ(json_field(o.document, "youtube360_maker"), orbv::kStitchingSoftware);
    EXPECT_EQ(json_field(o.document, "datetime"), kPanoramaDate);
    EXPECT_EQ(json_field(o.document, "maker"), "(null)");
    EXPECT_EQ(json_field(o.document, "type"), "MOVIE");
    EXPECT_TRUE(o.info.is_target);
    EXPECT_FALSE(o.info.is_still);
    EXPECT_NE(o.log.find("[ORBV_analyze_movie] isVELORA360 0\n"), std::string::npos) << o.log;

    o = analyze(false, files->panorama_aac_movie);
    ASSERT_EQ(o.result, 0) << o.document;
    EXPECT_EQ(json_field(o.document, "isTarget"), "false");
    EXPECT_EQ(json_field(o.document, "datetime"), kPanoramaDate);
    EXPECT_FALSE(o.info.is_target);
    EXPECT_NE(o.log.find("[ORBV_analyze_movie] isTarget 1\n"), std::string::npos) << o.log;
    EXPECT_NE(o.log.find("[ORBV_analyze_movie] isTarget__:0:\n"), std::string::npos) << o.log;
}

TEST_F(Analyses, OwnXmpMakesAnyStillATargetAndTheExifDateComesFirst) {
    Outcome o = analyze(true, files->mode130_panorama);
    ASSERT_EQ(o.result, 0) << o.document;
    EXPECT_EQ(json_field(o.document, "capture_mode"), "130");
    EXPECT_EQ(json_field(o.document, "isTarget"), "true");
    EXPECT_EQ(json_field(o.document, "datetime"), orbv_sample::CameraInfo().datetime);
    EXPECT_EQ(json_field(o.document, "youtube360_maker"), orbv::kStitchingSoftware);

    // Another stitcher's panorama is named but not taken.
    o = analyze(true, files->foreign_panorama);
    ASSERT_EQ(o.result, 0) << o.document;
    EXPECT_EQ(json_field(o.document, "isTarget"), "false");
    EXPECT_EQ(json_field(o.document, "youtube360_maker"), "Other Stitcher 2.1");
    EXPECT_EQ(json_field(o.document, "datetime"), kPanoramaDate);
}

TEST_F(Analyses, RecordForTheExportKeepsTheLowBitsOfMultiCapture) {
    const Outcome o = analyze(false, files->camera_movie);
    ASSERT_EQ(o.result, 0) << o.document;
    // The document prints the whole unsigned value, the record its low 32 bits.
    EXPECT_EQ(json_field(o.document, "multi_capture"), "4294967294");
    EXPECT_EQ(o.info.multi_capture, -2);
    EXPECT_EQ(o.info.width, kSize);
    EXPECT_EQ(o.info.height, kSize);
    EXPECT_EQ(o.info.frame_count, kFrames);
    EXPECT_NEAR(o.info.duration, kFrames * 1001.0 / 30000.0, 1e-6);
    EXPECT_EQ(o.info.orientation, 3);
    EXPECT_EQ(o.info.capture_mode, 134);
    EXPECT_EQ(o.info.camera_orientation, 255);
    EXPECT_TRUE(o.info.is_target);
    EXPECT_FALSE(o.info.is_still);
}

TEST_F(Analyses, MissingFileIsAnUnknownErrorWithTheRuntimeText) {
    TempDir dir;
    const std::string missing = dir.file("gone");
    for (bool is_still : {true, false}) {
        const Outcome o = analyze(is_still, missing + (is_still ? ".jpg" : ".mov"));
        SCOPED_TRACE(o.document);
        EXPECT_EQ(o.result, -1);
        EXPECT_EQ(o.document,
                  "{\"errnum\":\"19999\",\"errstr\":\"an unknown error occurred\","
                  "\"api_errnum\":-1,\"api_errstr\":\"" +
                      std::string(std::strerror(ENOENT)) + "\",\"movie_path\":\"" + missing +
                      (is_still ? ".jpg" : ".mov") + "\"}");
        const std::string line =
            std::string("[ORBV_analyze_") + (is_still ? "jpeg" : "movie") +
            "] an unknown error occurred errnum:-1 error:" + std::strerror(ENOENT) + ":\n";
        EXPECT_NE(o.log.find(line), std::string::npos) << o.log;
        EXPECT_EQ(o.log.find("] end:"), std::string::npos) << o.log;
        // The record keeps the caller's defaults.
        EXPECT_EQ(o.info.width, -1);
        EXPECT_EQ(o.info.duration, -1.0);
        EXPECT_FALSE(o.info.is_target);
    }
}
