// ORBV_export end to end on sample shots rendered from a known scene: the documents from start to
// done, what ffprobe and exiftool read in the outputs, the pictures against the scene frame by
// frame, sound and time windows, stills, and the processor state a call leaves its host.
#include <gtest/gtest.h>

#if defined(__x86_64__)
#include <cpuid.h>
#endif

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "support/export_call.h"
#include "support/fixtures.h"
#include "support/test_support.h"

namespace {

using namespace orbv_test;
using orbv_sample::Picture;

constexpr int kFrames = 20;
constexpr double kFrameSeconds = 1001.0 / 30000.0;  // the sample movies' frame duration
constexpr double kPi = 3.14159265358979323846;

const orbv_sample::Shot& movies() { return shot("movie", kFrames); }
const orbv_sample::Shot& stills() { return shot("still", 1, true); }
// B-frames, whose pictures a frame-threaded decoder gives several packets late, and AAC sound.
const orbv_sample::Shot& b_frames() {
    return shot("bframes", kFrames, false,
                [](auto& o) { o.b_frames = true, o.sound = orbv_sample::Sound::Aac; });
}

ExportArgs args(const std::string& in1, const std::string& in2, const std::string& out) {
    ExportArgs a{in1, in2, out};
    a.width = 1440, a.height = 720;
    return a;
}

// Runs an export that must succeed and returns its documents.
std::vector<CallbackRecord> export_ok(const ExportArgs& a) {
    Recorder rec;
    EXPECT_EQ(run_export(a, &Recorder::callback), 0);
    EXPECT_EQ(rec.final_record().state, STATE_DONE) << rec.final_record().document;
    return rec.records();
}
int64_t frame_count(const ExportArgs& a) {
    return std::stoll(json_field(export_ok(a).at(0).document, "frame_count"));
}
std::string paths(const ExportArgs& a) {
    return "{\"movie_path1\":\"" + escaped(a.in1) + "\",\"movie_path2\":\"" + escaped(a.in2) +
           "\",\"export_path\":\"" + escaped(a.out) + "\"";
}
std::string analysis(const std::string& path) {
    Recorder rec;
    ORBV_analyze_image(path.c_str(), nullptr, 0, 0, &Recorder::callback);
    return rec.final_record().document;
}
// An exported panorama's analysis: a target without camera values, dated by its own packet
// (the date written for players and photo libraries changes nothing here).
std::string panorama_analysis(const ExportArgs& a, const char* duration, int frames) {
    return "{\"width\":1440,\"height\":720,\"duration\":" + std::string(duration) +
           ",\"frame_count\":" + std::to_string(frames) +
           ",\"maker\":\"(null)\",\"model\":\"(null)\",\"orientaion\":-1,\"capture_mode\":-1,"
           "\"multi_capture\":-1,\"camera_orientation\":-1,\"youtube360_maker\":\"VELORA360Viewer "
           "win.1.0.0\",\"isTarget\":true,\"createdThumbnail\":false,\"movie_path\":\"" +
           escaped(a.out) + "\",\"thumbnail_path\":\"\",\"datetime\":\"" + a.datetime +
           "\",\"type\":\"" + (frames ? "MOVIE" : "JPEG") + "\"}";
}
// The movie's creation time as ffprobe reads it from the video track and the container.
std::string creation_times(const std::string& path) {
    return probe(path, "v", "stream_tags=creation_time:format_tags=creation_time");
}

// Which frame of each lens a panorama picture shows, modulo 16, told by the scene's moving discs:
// the yellow one above the horizon (seen by lens 1) turns east by a sixteenth of a circle a frame,
// the red one below it (lens 2) turns west; no other part of the scene comes near their chroma.
std::pair<int, int> shown(const Picture& p) {
    const int cw = p.chroma_width(), ch = p.chroma_height();
    int frame[2];
    for (int disc = 0; disc < 2; ++disc) {
        double s = 0, c = 0, n = 0;
        for (int j = disc ? ch / 2 : 0; j < (disc ? ch : ch / 2); ++j) {
            for (int i = 0; i < cw; ++i) {
                const size_t at = static_cast<size_t>(j) * cw + i;
                if (disc ? p.v[at] <= 205 : p.u[at] >= 45) continue;
                s += std::sin(i * 2 * kPi / cw - kPi), c += std::cos(i * 2 * kPi / cw - kPi), ++n;
            }
        }
        const double turns = disc ? kPi - 0.3 - std::atan2(s, c) : std::atan2(s, c) + kPi - 0.2;
        frame[disc] = n < 10 ? -1 : static_cast<int>((std::lround(turns * 8 / kPi) % 16 + 16) % 16);
    }
    return {frame[0], frame[1]};
}

// Picture k shows frame first1 + k * step1 of lens 1 and first2 + k * step2 of lens 2.
void expect_shown(const std::vector<Picture>& frames, size_t count, int first1, int step1,
                  int first2, int step2) {
    ASSERT_EQ(frames.size(), count);
    for (int k = 0; k < static_cast<int>(count); ++k) {
        EXPECT_EQ(shown(frames[k]), std::pair((first1 + step1 * k) % 16, (first2 + step2 * k) % 16))
            << "picture " << k;
    }
}

// The sound: stereo at the chosen input's rate (16-bit PCM, or AAC in an MP4), between the sample
// counts given.
void expect_sound(const std::string& out, int rate, int64_t min, int64_t max) {
    const bool mp4 = out.substr(out.size() - 4) == ".mp4";
    EXPECT_EQ(probe(out, "a", "stream=codec_name,sample_rate,channels"),
              (mp4 ? "aac\n" : "pcm_s16le\n") + std::to_string(rate) + "\n2");
    EXPECT_GE(probe_int(out, "a", "stream=duration_ts"), min);
    EXPECT_LE(probe_int(out, "a", "stream=duration_ts"), max);
}
// The samples of `pictures` frames: the sound fills the pictures to the sample and no further.
int64_t samples(int pictures, int rate) { return std::llround(pictures * kFrameSeconds * rate); }

// The top-level atoms of a movie, in order.
std::string top_level_atoms(const std::string& path) {
    const std::string bytes = read_file(path);
    std::string types;
    for (size_t pos = 0, size; pos + 8 <= bytes.size(); pos += size) {
        size = get_u32(bytes, pos) == 1 ? get_u64(bytes, pos + 8) : get_u32(bytes, pos);
        types += bytes.substr(pos + 4, 4) + (size < 8 ? "!" : " ");
        if (size < 8) break;
    }
    return types;
}

// The MOV as the camera's viewer has always written it, and the MP4 to share: moov first, AAC
// sound, and also the spherical video boxes that players read (stereo mode mono).
TEST(Export, MoviePairDocumentsStreamsAndPictures) {
    for (const char* name : {"/pano.mov", "/pano.mp4"}) {
        SCOPED_TRACE(name);
        // Into a directory whose name must be escaped in the documents (Windows takes neither).
        const std::string dir =
            fixture_file(names_take_any_bytes() ? "odd \"name\" \\ dir" : "odd name dir");
        std::filesystem::create_directory(dir);
        const ExportArgs a = args(movies().lens1, movies().lens2, dir + name);
        const std::vector<CallbackRecord> r = export_ok(a);
        ASSERT_EQ(r.size(), 4u);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(r[i].state, i == 0 ? STATE_START : STATE_PROGRESS);
            EXPECT_EQ(r[i].document,
                      paths(a) + ",\"frame_count\":" + std::to_string(i ? 10 * i : kFrames) + "}");
        }
        EXPECT_EQ(r[3].document, paths(a) + "}");
        EXPECT_EQ(probe(a.out, "v", "stream=codec_name,width,height,nb_frames"),
                  "h264\n1440\n720\n20");
        EXPECT_NE(run_command("ffprobe -v error -show_streams " + shell_quote(a.out))
                      .find("side_data_type=Spherical Mapping\nprojection=equirectangular"),
                  std::string::npos);
        expect_sound(a.out, 48000, samples(kFrames, 48000), samples(kFrames, 48000));
        const std::vector<Picture> frames = decode(a.out);
        expect_shown(frames, kFrames, 0, 1, 0, 1);
        // Away from the seam the panorama is the scene itself, after two H.264 encodings.
        EXPECT_GE(scene_psnr(frames[5], 5), 30.0);
        EXPECT_EQ(creation_times(a.out),
                  "2024-05-17T10:30:00.000000Z\n2024-05-17T10:30:00.000000Z");
        EXPECT_EQ(analysis(a.out), panorama_analysis(a, "0.667", kFrames));
        // Every chunk offset still finds its data after the insertion.
        EXPECT_EQ(run_command("ffmpeg -v error -i " + shell_quote(a.out) + " -f null - 2>&1"), "");
        const bool mp4 = a.out.back() == '4';
        EXPECT_EQ(top_level_atoms(a.out), mp4 ? "ftyp moov mdat " : "ftyp wide mdat moov ");
        EXPECT_EQ(run_command("exiftool -s -s -s -ProjectionType " + shell_quote(a.out)),
                  "equirectangular\n");
        EXPECT_EQ(run_command("ffprobe -v error -show_streams " + shell_quote(a.out))
                          .find("side_data_type=Stereo 3D\ntype=2D\n") != std::string::npos,
                  mp4);
    }
}

// Every picture pair once and in order with B-frames in one input only, the two decoders' delays
// differing; AAC sound comes out as PCM.
TEST(Export, BFramesAgainstPlainPicturesAndAacSound) {
    TempDir dir;
    const ExportArgs a = args(b_frames().lens1, movies().lens2, dir.file("b.mov"));
    EXPECT_EQ(frame_count(a), kFrames);
    expect_shown(decode(a.out), kFrames, 0, 1, 0, 1);
    expect_sound(a.out, 48000, samples(kFrames, 48000), samples(kFrames, 48000));
}

// Each window runs from the picture nearest its start through its end and the export takes the
// shorter input. The sound is the chosen input's, from its window's start, and never outlasts the
// pictures.
TEST(Export, TimeWindowsAndTheSoundOfEitherInput) {
    const orbv_sample::Shot& long48k = shot("movie30", 30);
    const orbv_sample::Shot& short32k =
        shot("movie32k", kFrames, false, [](auto& o) { o.sample_rate = 32000; });
    TempDir dir;
    struct Window {
        ExportArgs a;
        int64_t count;
        size_t pictures;
        int first1, first2;  // the first frames shown, -1: not checked
        int rate;
        int64_t min, max;  // sound samples
    };
    std::vector<Window> w = {
        {args(long48k.lens1, short32k.lens2, dir.file("0.mov")), 20, 20, 0, 0, 48000,
         samples(20, 48000), samples(20, 48000)},
        // Input 2's sound, with input 1 cut to 0.1 .. 0.5 s: the sound lasts 0.4 s.
        {args(long48k.lens1, short32k.lens2, dir.file("1.mov")), 12, 12, -1, -1, 32000,
         12800 - 32000 / 30, samples(12, 32000)},
        // Input 1 from 0.2 to 0.5 s (frames 6 to 14), input 2 from 0.1 to 0.45 s (3 to 11); both
        // seek back to the key picture at 0 s and read on through the delay.
        {args(b_frames().lens1, b_frames().lens2, dir.file("2.mov")), 9, 9, 6, 3, 48000, 0,
         samples(9, 48000)},
        // A start alone: frames 9 (0.3003 s) to 19, the last one whole.
        {args(movies().lens1, movies().lens2, dir.file("3.mov")), 11, 11, 9, 0, 48000, 0,
         samples(11, 48000)},
    };
    w[1].a.audio_input = 1, w[1].a.start1 = 0.1f, w[1].a.end1 = 0.5f;
    w[2].a.start1 = 0.2f, w[2].a.end1 = 0.5f, w[2].a.start2 = 0.1f, w[2].a.end2 = 0.45f;
    w[3].a.start1 = 0.3f;
    w[3].a.datetime = "2023:02:29 10:30:00";  // no such day: the movie stays undated
    // The first second 1970 gives (FFmpeg's muxer writes no date for it) and the last 32 bits hold.
    w[0].a.datetime = "1970:01:01 00:00:00", w[1].a.datetime = "2040:02:06 06:28:15";
    for (const Window& v : w) {
        EXPECT_EQ(frame_count(v.a), v.count) << v.a.out;
        const std::vector<Picture> frames = decode(v.a.out);
        EXPECT_EQ(frames.size(), v.pictures) << v.a.out;
        if (v.first1 >= 0) expect_shown(frames, v.pictures, v.first1, 1, v.first2, 1);
        expect_sound(v.a.out, v.rate, v.min, v.max);
    }
    EXPECT_EQ(creation_times(w[3].a.out), "");
    EXPECT_EQ(creation_times(w[0].a.out),
              "1970-01-01T00:00:00.000000Z\n1970-01-01T00:00:00.000000Z");
    EXPECT_EQ(creation_times(w[1].a.out),
              "2040-02-06T06:28:15.000000Z\n2040-02-06T06:28:15.000000Z");
}

TEST(Export, StillPairGivesOneMotionJpegPictureWithGPanoXmp) {
    TempDir dir;
    const ExportArgs a = args(stills().lens1, stills().lens2, dir.file("pano.jpg"));
    const std::vector<CallbackRecord> r = export_ok(a);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].document, paths(a) + ",\"frame_count\":0}") << "stills have no frame count";
    EXPECT_EQ(r[1].document, paths(a) + "}");
    EXPECT_EQ(probe(a.out, "v", "stream=codec_name,width,height"), "mjpeg\n1440\n720");
    const std::vector<Picture> frames = decode(a.out);
    expect_shown(frames, 1, 0, 0, 0, 0);
    EXPECT_GE(scene_psnr(frames[0], 0), 30.0);
    EXPECT_EQ(run_command("exiftool -s -s -XMP-GPano:all " + shell_quote(a.out)),
              "UsePanoramaViewer: True\nStitchingSoftware: VELORA360Viewer win.1.0.0\n"
              "ProjectionType: equirectangular\nPoseHeadingDegrees: 0.0\n"
              "CroppedAreaLeftPixels: 0\nCroppedAreaTopPixels: 0\n"
              "CroppedAreaImageWidthPixels: 1440\nCroppedAreaImageHeightPixels: 720\n"
              "FullPanoWidthPixels: 1440\nFullPanoHeightPixels: 720\n"
              "FirstPhotoDate: 2024:05:17 10:30:00\nLastPhotoDate: 2024:05:17 10:30:00\n");
    EXPECT_EQ(run_command("exiftool -s -s -s -EXIF:DateTimeOriginal " + shell_quote(a.out)),
              a.datetime + "\n");
    EXPECT_EQ(analysis(a.out), panorama_analysis(a, "0.040", 0));
    ExportArgs undated = a;
    undated.datetime = "2024-05-17 10:30";
    export_ok(undated);
    EXPECT_EQ(run_command("exiftool -s -s -s -EXIF:DateTimeOriginal " + shell_quote(a.out)), "");
}

// A band image's left half lies along the equator in the panorama's western half, its right half
// in the eastern half, each stretched over half the width; the strips (2.25 degrees either side
// at these sizes) leave the scene away from the horizon untouched.
TEST(Export, SeamBandHalvesLieAlongTheEquator) {
    TempDir dir;
    ExportArgs a = args(stills().lens1, stills().lens2, dir.file("band.jpg"));
    a.band = dir.file("band.png");
    run_command(
        "ffmpeg -v error -f lavfi -i color=blue:s=1440x36 -f lavfi -i color=lime:s=1440x36"
        " -filter_complex hstack -frames:v 1 " +
        shell_quote(a.band));
    export_ok(a);
    const std::vector<Picture> frames = decode(a.out);
    ASSERT_EQ(frames.size(), 1u);
    const Picture& p = frames[0];
    const int cw = p.chroma_width(), ch = p.chroma_height();
    int blue = 0, green = 0;
    for (int row = ch / 2 - 4; row < ch / 2 + 4; ++row) {
        for (int col = cw / 16; col < cw * 7 / 16; ++col) {
            const size_t west = static_cast<size_t>(row) * cw + col, east = west + cw / 2;
            blue += p.u[west] > 200 && p.v[west] < 128;
            green += p.u[east] < 90 && p.v[east] < 90;
        }
    }
    const int checked = 8 * (cw * 7 / 16 - cw / 16);  // 8 chroma rows in either half
    EXPECT_EQ(blue, checked);
    EXPECT_EQ(green, checked);
    EXPECT_GE(scene_psnr(p, 0), 30.0);
}

// 1 when the upper halves of the AVX registers hold data, 0 when clear, -1 when the processor
// cannot tell (XGETBV with ECX = 1 reads which state components are in use). SSE code run while
// they hold data is slowed down on many processors: a call must not return to its host that way.
int avx_upper_state() {
#if defined(__x86_64__)
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_OSXSAVE) || !(c & bit_AVX)) return -1;
    if (!__get_cpuid_count(0xD, 1, &a, &b, &c, &d) || !(a & (1u << 2))) return -1;
    uint32_t in_use, high;
    __asm__ volatile("xgetbv" : "=a"(in_use), "=d"(high) : "c"(1));
    return (in_use >> 2) & 1;
#else
    return -1;
#endif
}

TEST(Export, LeavesTheUpperHalvesOfTheAvxRegistersClear) {
    if (avx_upper_state() < 0) GTEST_SKIP() << "the processor does not tell its AVX state";
    TempDir dir;
    const int32_t result = run_export(args(stills().lens1, stills().lens2, dir.file("p.jpg")), 0);
    const int state = avx_upper_state();  // before anything else runs
    EXPECT_EQ(result, 0);
    EXPECT_EQ(state, 0) << "the host's SSE code would run slowly after the call";
}

}  // namespace
