// The validation steps of the three front ends, seen by a host through the C interface: which
// check comes first, the exact documents, and what happens to existing output files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <string>

#include "orbv.h"
#include "support/test_support.h"

using orbv_test::read_file;
using orbv_test::Recorder;
using orbv_test::TempDir;
using orbv_test::write_file;

namespace {

std::string analysis_error(const std::string& code, const std::string& message,
                           const std::string& movie) {
    return "{\"errnum\":\"" + code + "\",\"errstr\":\"" + message +
           "\",\"api_errnum\":-1,\"api_errstr\":\"\",\"movie_path\":\"" + movie + "\"}";
}

std::string audio_error(const std::string& code, const std::string& message,
                        const std::string& movie, const std::string& audio) {
    return "{\"errnum\":\"" + code + "\",\"errstr\":\"" + message +
           "\",\"api_errnum\":-1,\"api_errstr\":\"\",\"movie_path\":\"" + movie +
           "\",\"audio_path\":\"" + audio + "\"}";
}

std::string export_error(const std::string& code, const std::string& message,
                         const std::string& in1, const std::string& in2, const std::string& out) {
    return "{\"errnum\":\"" + code + "\",\"errstr\":\"" + message +
           "\",\"api_errnum\":-1,\"api_errstr\":\"\",\"movie_path1\":\"" + in1 +
           "\",\"movie_path2\":\"" + in2 + "\",\"export_path\":\"" + out + "\"}";
}

int32_t run_export(const char* in1, const char* in2, const char* out, ProgressCallback cb) {
    return ORBV_export(in1, in2, out, nullptr, 3840, 1920, 0, 0.0f, 0.0f, -99999999, -99999999,
                       -99999999, -99999999, -99999999, -99999999, 0.0f, 0.0f, -1.0f, -1.0f, 0,
                       "2017:05:01 10:20:30", nullptr, cb);
}

// /proc reports no free blocks; as root its top directory passes the write-permission check,
// which makes it a volume that is "writable" and full. "" when this machine does not offer it.
std::string full_volume() {
    struct statvfs vfs;
    if (::statvfs("/proc", &vfs) != 0 || vfs.f_bfree != 0) return "";
    if (::access("/proc", W_OK) != 0) return "";
    return "/proc";
}

// A sparse file: it claims `size` bytes without taking them from the volume.
void make_sparse(const std::string& path, int64_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, size), 0);
    ::close(fd);
}

}  // namespace

// --- ORBV_analyze_image ---------------------------------------------------------------------

TEST(AnalyzeValidation, MissingInputComesFirst) {
    TempDir dir;
    const std::string missing = dir.file("missing.mov");
    Recorder rec;
    EXPECT_EQ(ORBV_analyze_image(missing.c_str(), nullptr, 0, 0, &Recorder::callback), 0);
    auto r = rec.final_record();
    EXPECT_EQ(r.state, STATE_FAILED);
    EXPECT_EQ(r.document, analysis_error("10000", "Input file not exiists", missing));
    EXPECT_EQ(rec.records().size(), 1u);

    // Still first when the thumbnail location is bad too; the existing thumbnail stays.
    write_file(dir.file("thumb.jpg"), "old thumbnail");
    for (const std::string& thumb : {dir.file("no-dir/thumb.jpg"), dir.file("thumb.jpg")}) {
        Recorder again;
        ORBV_analyze_image(missing.c_str(), thumb.c_str(), 0, 1, &Recorder::callback);
        EXPECT_EQ(again.final_record().document,
                  analysis_error("10000", "Input file not exiists", missing));
    }
    EXPECT_EQ(read_file(dir.file("thumb.jpg")), "old thumbnail");
}

TEST(AnalyzeValidation, EscapesThePathInTheDocument) {
    TempDir dir;
    const std::string missing = dir.file("say \"hi\" \\ clip.mov");
    Recorder rec;
    ORBV_analyze_image(missing.c_str(), nullptr, 0, 0, &Recorder::callback);
    EXPECT_EQ(rec.final_record().document,
              analysis_error("10000", "Input file not exiists",
                             dir.path() + "/say \\\"hi\\\" \\\\ clip.mov"));
}

TEST(AnalyzeValidation, ThumbnailLocationMustBeWritable) {
    TempDir dir;
    write_file(dir.file("clip.mov"), "not really a movie");
    const std::string movie = dir.file("clip.mov");
    {
        Recorder rec;
        ORBV_analyze_image(movie.c_str(), dir.file("no-dir/t.jpg").c_str(), 0, 0,
                           &Recorder::callback);
        EXPECT_EQ(rec.final_record().document,
                  analysis_error("10003", "tumbnail not writable", movie));
    }
    const std::string read_only = orbv_test::unwritable_directory();
    if (read_only.empty()) GTEST_SKIP() << "no read-only directory on this machine";
    Recorder rec;
    ORBV_analyze_image(movie.c_str(), (read_only + "/t.jpg").c_str(), 0, 0, &Recorder::callback);
    auto r = rec.final_record();
    EXPECT_EQ(r.state, STATE_FAILED);
    EXPECT_EQ(r.document, analysis_error("10003", "tumbnail not writable", movie));
}

TEST(AnalyzeValidation, ThumbnailVolumeNeedsMoreThan50MiB) {
    const std::string full = full_volume();
    if (full.empty()) GTEST_SKIP() << "no writable volume without free space on this machine";
    TempDir dir;
    write_file(dir.file("clip.jpg"), "x");
    const std::string still = dir.file("clip.jpg");
    Recorder rec;
    ORBV_analyze_image(still.c_str(), (full + "/thumb.jpg").c_str(), 0, 0, &Recorder::callback);
    auto r = rec.final_record();
    EXPECT_EQ(r.state, STATE_FAILED);
    EXPECT_EQ(r.document, analysis_error("10004", "disk is full", still));
}

TEST(AnalyzeValidation, OtherNamesAreRefusedAndTheirThumbnailRemoved) {
    TempDir dir;
    for (const char* name : {"clip.png", "clip.mpeg", "clip", "clip.mov.bak"}) {
        const std::string input = dir.file(name);
        const std::string thumb = dir.file("thumb.jpg");
        write_file(input, "x");
        write_file(thumb, "stale thumbnail");
        Recorder rec;
        EXPECT_EQ(ORBV_analyze_image(input.c_str(), thumb.c_str(), 160, 1, &Recorder::callback), 0);
        auto r = rec.final_record();
        EXPECT_EQ(r.state, STATE_FAILED) << name;
        EXPECT_EQ(r.document, analysis_error("10001", "Not Movie & JPEG", input));
        EXPECT_EQ(read_file(thumb), "stale thumbnail") << "thumbnail touched for " << name;
    }
}

TEST(AnalyzeValidation, NullCallbackReturnsZeroAndStillDoesTheWork) {
    TempDir dir;
    write_file(dir.file("clip.png"), "x");
    write_file(dir.file("thumb.jpg"), "stale");
    EXPECT_EQ(ORBV_analyze_image(dir.file("missing.mov").c_str(), nullptr, 0, 0, nullptr), 0);
    EXPECT_EQ(ORBV_analyze_image(dir.file("clip.png").c_str(), dir.file("thumb.jpg").c_str(), 0, 0,
                                 nullptr),
              0);
    EXPECT_EQ(read_file(dir.file("thumb.jpg")), "stale");
    EXPECT_EQ(ORBV_analyze_image(nullptr, nullptr, 0, 0, nullptr), 0);
}

// --- ORBV_get_audio -------------------------------------------------------------------------

TEST(AudioValidation, MissingMovieComesFirstAndTouchesNothing) {
    TempDir dir;
    const std::string missing = dir.file("missing.mov");
    const std::string audio = dir.file("out \"1\".wav");
    write_file(audio, "earlier audio");
    Recorder rec;
    EXPECT_EQ(ORBV_get_audio(missing.c_str(), audio.c_str(), 0, nullptr, &Recorder::callback), 0);
    auto r = rec.final_record();
    EXPECT_EQ(r.state, STATE_FAILED);
    EXPECT_EQ(r.document, audio_error("20000", "Input file not exiists", missing,
                                      dir.path() + "/out \\\"1\\\".wav"));
    EXPECT_EQ(read_file(audio), "earlier audio");

    Recorder null_audio;
    ORBV_get_audio(missing.c_str(), nullptr, 0, nullptr, &Recorder::callback);
    EXPECT_EQ(null_audio.final_record().document,
              audio_error("20000", "Input file not exiists", missing, ""));
}

TEST(AudioValidation, AudioLocationMustBeWritable) {
    TempDir dir;
    write_file(dir.file("clip.mov"), "x");
    const std::string movie = dir.file("clip.mov");
    {
        const std::string audio = dir.file("no-dir/a.wav");
        Recorder rec;
        ORBV_get_audio(movie.c_str(), audio.c_str(), 0, nullptr, &Recorder::callback);
        EXPECT_EQ(rec.final_record().document,
                  audio_error("20003", "audio not writable", movie, audio));
    }
    const std::string read_only = orbv_test::unwritable_directory();
    if (read_only.empty()) GTEST_SKIP() << "no read-only directory on this machine";
    const std::string audio = read_only + "/a.wav";
    Recorder rec;
    ORBV_get_audio(movie.c_str(), audio.c_str(), 0, nullptr, &Recorder::callback);
    auto r = rec.final_record();
    EXPECT_EQ(r.state, STATE_FAILED);
    EXPECT_EQ(r.document, audio_error("20003", "audio not writable", movie, audio));
}

TEST(AudioValidation, AudioVolumeNeedsMoreThan50MiB) {
    const std::string full = full_volume();
    if (full.empty()) GTEST_SKIP() << "no writable volume without free space on this machine";
    TempDir dir;
    write_file(dir.file("clip.mov"), "x");
    const std::string movie = dir.file("clip.mov");
    const std::string audio = full + "/a.wav";
    Recorder rec;
    ORBV_get_audio(movie.c_str(), audio.c_str(), 0, nullptr, &Recorder::callback);
    EXPECT_EQ(rec.final_record().document, audio_error("20004", "disk is full", movie, audio));
}

TEST(AudioValidation, NullCallbackReturnsZero) {
    TempDir dir;
    EXPECT_EQ(ORBV_get_audio(dir.file("missing.mov").c_str(), dir.file("a.wav").c_str(), 0, nullptr,
                             nullptr),
              0);
    EXPECT_EQ(ORBV_get_audio(nullptr, nullptr, 0, nullptr, nullptr), 0);
}

// --- ORBV_export ----------------------------------------------------------------------------

TEST(ExportValidation, InputsAreCheckedInOrderAndTheOutputIsLeftAlone) {
    TempDir dir;
    const std::string in1 = dir.file("lens1.mov"), in2 = dir.file("lens2.mov");
    const std::string out = dir.file("out.mov");
    write_file(out, "earlier export");
    {
        Recorder rec;  // both missing: input 1 is named
        EXPECT_EQ(run_export(in1.c_str(), in2.c_str(), out.c_str(), &Recorder::callback), 0);
        auto r = rec.final_record();
        EXPECT_EQ(r.state, STATE_FAILED);
        EXPECT_EQ(r.document, export_error("30000", "Input file1 not exiists", in1, in2, out));
    }
    write_file(in1, "x");
    {
        Recorder rec;
        run_export(in1.c_str(), in2.c_str(), out.c_str(), &Recorder::callback);
        EXPECT_EQ(rec.final_record().document,
                  export_error("30000", "Input file2 not exiists", in1, in2, out));
    }
    {
        Recorder rec;  // a missing input beats an unwritable output
        run_export(in1.c_str(), in2.c_str(), dir.file("no-dir/out.mov").c_str(),
                   &Recorder::callback);
        EXPECT_EQ(rec.final_record().document, export_error("30000", "Input file2 not exiists", in1,
                                                            in2, dir.file("no-dir/out.mov")));
    }
    EXPECT_EQ(read_file(out), "earlier export");
}

TEST(ExportValidation, OutputMustBeNamedAndWritable) {
    TempDir dir;
    const std::string in1 = dir.file("lens1.mov"), in2 = dir.file("lens2.mov");
    write_file(in1, "x");
    write_file(in2, "x");
    {
        Recorder rec;  // nothing could be written without a name
        EXPECT_EQ(run_export(in1.c_str(), in2.c_str(), nullptr, &Recorder::callback), 0);
        auto r = rec.final_record();
        EXPECT_EQ(r.state, STATE_FAILED);
        EXPECT_EQ(r.document, export_error("30003", "export file not writable", in1, in2, ""));
    }
    {
        const std::string out = dir.file("no-dir/out.mov");
        Recorder rec;
        run_export(in1.c_str(), in2.c_str(), out.c_str(), &Recorder::callback);
        EXPECT_EQ(rec.final_record().document,
                  export_error("30003", "export file not writable", in1, in2, out));
    }
    const std::string read_only = orbv_test::unwritable_directory();
    if (read_only.empty()) GTEST_SKIP() << "no read-only directory on this machine";
    const std::string out = read_only + "/out.mov";
    Recorder rec;
    run_export(in1.c_str(), in2.c_str(), out.c_str(), &Recorder::callback);
    EXPECT_EQ(rec.final_record().document,
              export_error("30003", "export file not writable", in1, in2, out));
}

TEST(ExportValidation, OutputVolumeNeedsRoomForBothInputsAndTheMargin) {
    TempDir dir;
    const std::string in1 = dir.file("lens1.mov"), in2 = dir.file("lens2.mov");
    const std::string out = dir.file("out.mov");
    struct statvfs vfs;
    ASSERT_EQ(::statvfs(dir.path().c_str(), &vfs), 0);
    const int64_t free_bytes = static_cast<int64_t>(vfs.f_bfree) * vfs.f_frsize;
    // Sparse inputs claim more than the volume has free, without taking any of it.
    write_file(in1, "x");
    make_sparse(in2, 2 * free_bytes);
    write_file(out, "earlier export");
    Recorder rec;
    EXPECT_EQ(run_export(in1.c_str(), in2.c_str(), out.c_str(), &Recorder::callback), 0);
    auto r = rec.final_record();
    EXPECT_EQ(r.state, STATE_FAILED);
    EXPECT_EQ(r.document, export_error("30004", "disk is full", in1, in2, out));
    EXPECT_EQ(read_file(out), "earlier export");

    const std::string full = full_volume();
    if (full.empty()) GTEST_SKIP() << "no writable volume without free space on this machine";
    write_file(in2, "x");
    Recorder on_full;
    run_export(in1.c_str(), in2.c_str(), (full + "/out.mov").c_str(), &Recorder::callback);
    EXPECT_EQ(on_full.final_record().document,
              export_error("30004", "disk is full", in1, in2, full + "/out.mov"));
}

TEST(ExportValidation, NullCallbackReturnsZero) {
    TempDir dir;
    EXPECT_EQ(run_export(dir.file("1.mov").c_str(), dir.file("2.mov").c_str(),
                         dir.file("o.mov").c_str(), nullptr),
              0);
    EXPECT_EQ(run_export(nullptr, nullptr, nullptr, nullptr), 0);
}

// --- ORBV_freesize --------------------------------------------------------------------------

TEST(Freesize, ReportsTheVolumeOfTheDirectoryOrFile) {
    TempDir dir;
    write_file(dir.file("clip.mov"), "x");
    struct statvfs vfs;
    ASSERT_EQ(::statvfs(dir.path().c_str(), &vfs), 0);
    const int64_t expected = static_cast<int64_t>(vfs.f_bfree) * vfs.f_frsize;
    const int64_t drift = 256LL << 20;  // other processes write meanwhile
    EXPECT_NEAR(ORBV_freesize(dir.path().c_str()), expected, drift);
    EXPECT_NEAR(ORBV_freesize(dir.file("clip.mov").c_str()), expected, drift);
    EXPECT_NEAR(ORBV_freesize(dir.file("new.mov").c_str()), expected, drift);
    EXPECT_EQ(ORBV_freesize("/proc/new.mov"), 0);
    EXPECT_EQ(ORBV_freesize(dir.file("no-dir/new.mov").c_str()), -1);
    EXPECT_EQ(ORBV_freesize(nullptr), -1);
}
