// ORBV_export end to end, through the C interface, on sample shots rendered from a known scene:
// the documents from start to done, what ffprobe and exiftool read in the outputs, the pictures
// against the scene frame by frame, sound, time windows, stills, the seam band, colour offsets,
// lens orientation, failures with their documents, and two exports at once.
#include <gtest/gtest.h>

#if defined(__x86_64__)
#include <cpuid.h>
#endif

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "orbv.h"
#include "sample_shot.h"
#include "support/command.h"
#include "support/test_support.h"

using orbv_sample::Picture;
using orbv_sample::Sound;
using orbv_test::CallbackRecord;
using orbv_test::json_field;
using orbv_test::probe;
using orbv_test::read_file;
using orbv_test::Recorder;
using orbv_test::run_command;
using orbv_test::shell_quote;
using orbv_test::TempDir;
using orbv_test::write_file;

namespace {

constexpr int kLens = 1440;
constexpr int kWidth = 1440;
constexpr int kHeight = 720;
constexpr int kFrames = 20;
constexpr double kFrameSeconds = 1001.0 / 30000.0;  // the sample movies' frame duration
constexpr double kPi = 3.14159265358979323846;
constexpr int32_t kKeep = -99999999;
const char* const kDate = "2024:05:17 10:30:00";

bool exists(const std::string& path) { return std::filesystem::exists(path); }
int64_t as_int(const std::string& text) { return text.empty() ? -1 : std::atoll(text.c_str()); }

// --- Inputs, made once per program ----------------------------------------------------------

TempDir& shared_dir() {
    static TempDir dir;
    return dir;
}

const orbv_sample::LensRenderer& renderer() {
    static const orbv_sample::LensRenderer r(kLens);
    return r;
}

struct Pair {
    std::string lens1, lens2;
};

struct MovieSetup {
    int frames = kFrames;
    Sound sound = Sound::Pcm;
    int sample_rate = 48000;
    bool b_frames = false;
};

std::string write_lens_movie(const std::string& name, int lens, const MovieSetup& setup) {
    orbv_sample::MovieOptions m;
    m.width = m.height = kLens;
    m.frames = setup.frames;
    m.sound = setup.sound;
    m.sample_rate = setup.sample_rate;
    m.b_frames = setup.b_frames;
    m.picture = [lens](int frame) { return renderer().render(lens, frame); };
    const std::string path = shared_dir().file(name);
    orbv_sample::write_movie(path, m);
    return path;
}

std::string write_lens_still(const std::string& name, int lens, int orientation) {
    orbv_sample::CameraInfo camera;
    camera.exif_orientation = orientation;
    const std::string path = shared_dir().file(name);
    orbv_sample::write_still(path, renderer().render(lens, 0), &camera);
    return path;
}

// 20 frames of the scene, PCM stereo sound at 48 kHz.
const Pair& movies() {
    static const Pair p{write_lens_movie("lens1.mov", 1, {}), write_lens_movie("lens2.mov", 2, {})};
    return p;
}

// The same with B-frames and AAC sound.
const Pair& b_frame_movies() {
    static const MovieSetup setup{kFrames, Sound::Aac, 48000, true};
    static const Pair p{write_lens_movie("lens1_b.mov", 1, setup),
                        write_lens_movie("lens2_b.mov", 2, setup)};
    return p;
}

// Lens 1: 30 frames with 48 kHz sound; lens 2: 20 frames with 32 kHz sound, so the sample rate
// tells whose sound the output carries.
const Pair& uneven_movies() {
    static const Pair p{write_lens_movie("lens1_30.mov", 1, {30, Sound::Pcm, 48000, false}),
                        write_lens_movie("lens2_20.mov", 2, {20, Sound::Pcm, 32000, false})};
    return p;
}

const Pair& stills() {
    static const Pair p{write_lens_still("lens1.jpg", 1, 1), write_lens_still("lens2.jpg", 2, 1)};
    return p;
}

// --- Calls ----------------------------------------------------------------------------------

struct Request {
    std::string in1, in2, out;
    std::string band;  // "" for none
    int32_t width = kWidth, height = kHeight;
    int32_t yaw = 0;
    float roll1 = 0, roll2 = 0;
    int32_t offsets1[3] = {kKeep, kKeep, kKeep};
    int32_t offsets2[3] = {kKeep, kKeep, kKeep};
    float start1 = 0, start2 = 0, end1 = -1, end2 = -1;
    int32_t audio_input = 0;
};

Request request(const Pair& pair, const std::string& out) {
    Request r;
    r.in1 = pair.lens1;
    r.in2 = pair.lens2;
    r.out = out;
    return r;
}

// The host's callback records every document and then lets a test act on it, as a host does
// for its user (moving the output away, say).
thread_local std::function<void(int32_t state, const std::string& document)> g_on_document;

void host_callback(int32_t state, const char* json) {
    Recorder::callback(state, json);
    if (g_on_document) g_on_document(state, json != nullptr ? json : "");
}

struct OnDocument {
    explicit OnDocument(std::function<void(int32_t, const std::string&)> f) {
        g_on_document = std::move(f);
    }
    ~OnDocument() { g_on_document = nullptr; }
};

int32_t run_export(const Request& r) {
    return ORBV_export(r.in1.c_str(), r.in2.c_str(), r.out.c_str(),
                       r.band.empty() ? nullptr : r.band.c_str(), r.width, r.height, r.yaw, r.roll1,
                       r.roll2, r.offsets1[0], r.offsets1[1], r.offsets1[2], r.offsets2[0],
                       r.offsets2[1], r.offsets2[2], r.start1, r.start2, r.end1, r.end2,
                       r.audio_input, kDate, nullptr, host_callback);
}

// Runs an export that must succeed; returns its start document's frame count.
int64_t export_ok(const Request& r) {
    Recorder rec;
    EXPECT_EQ(run_export(r), 0);
    const CallbackRecord last = rec.final_record();
    EXPECT_EQ(last.state, STATE_DONE) << last.document;
    if (rec.records().empty() || rec.records()[0].state != STATE_START) return -1;
    return as_int(json_field(rec.records()[0].document, "frame_count"));
}

// --- Documents ------------------------------------------------------------------------------

std::string escaped(const std::string& path) {
    std::string out;
    for (char c : path) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out;
}

std::string paths_json(const Request& r) {
    return "\"movie_path1\":\"" + escaped(r.in1) + "\",\"movie_path2\":\"" + escaped(r.in2) +
           "\",\"export_path\":\"" + escaped(r.out) + "\"";
}

std::string count_document(const Request& r, int64_t frames) {
    return "{" + paths_json(r) + ",\"frame_count\":" + std::to_string(frames) + "}";
}

std::string error_document(const std::string& code, const std::string& message, int api_errnum,
                           const std::string& api_errstr, const Request& r) {
    return "{\"errnum\":\"" + code + "\",\"errstr\":\"" + message +
           "\",\"api_errnum\":" + std::to_string(api_errnum) + ",\"api_errstr\":\"" + api_errstr +
           "\"," + paths_json(r) + "}";
}

// --- Reading the outputs back ---------------------------------------------------------------

// The output's pictures as the ffmpeg program decodes them, in their stored 4:2:0 layout.
std::vector<Picture> decode(const std::string& path) {
    const int w = static_cast<int>(as_int(probe(path, "v", "stream=width")));
    const int h = static_cast<int>(as_int(probe(path, "v", "stream=height")));
    const std::string format = probe(path, "v", "stream=pix_fmt");
    EXPECT_TRUE(format == "yuv420p" || format == "yuvj420p") << format;
    std::vector<Picture> frames;
    if (w <= 0 || h <= 0) return frames;
    const std::string raw =
        run_command("ffmpeg -v error -i " + shell_quote(path) + " -vsync 0 -f rawvideo -");
    Picture shape(w, h);
    const size_t size = shape.y.size() + 2 * shape.u.size();
    EXPECT_EQ(raw.size() % size, 0u);
    for (size_t at = 0; at + size <= raw.size(); at += size) {
        Picture p(w, h);
        const char* src = raw.data() + at;
        std::copy(src, src + p.y.size(), p.y.begin());
        src += p.y.size();
        std::copy(src, src + p.u.size(), p.u.begin());
        src += p.u.size();
        std::copy(src, src + p.v.size(), p.v.begin());
        frames.push_back(std::move(p));
    }
    return frames;
}

int64_t decoded_frame_count(const std::string& path) {
    return as_int(run_command(
        "ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames "
        "-of default=nw=1:nk=1 " +
        shell_quote(path)));
}

std::string video_stream_listing(const std::string& path) {
    return run_command("ffprobe -v error -select_streams v:0 -show_streams " + shell_quote(path));
}

// Sound samples per channel in the output (its duration in its 1/rate time base).
int64_t sound_samples(const std::string& path) {
    return as_int(probe(path, "a", "stream=duration_ts"));
}

int64_t samples_of_frames(int frames, int rate) {
    return std::llround(frames * kFrameSeconds * rate);
}

// Output pixel (x, row) shows longitude x * 2pi / width - pi and polar angle row * pi / height:
// the front (longitude 0) in the middle, the sky (lens 1) on top.
orbv_sample::Direction direction_of(double x, double row, int width, int height) {
    return {x * 2 * kPi / width - kPi, row * kPi / height};
}

double latitude_degrees(int row, int height) { return 90.0 - row * 180.0 / height; }

struct Shown {
    int lens1;
    int lens2;
    bool operator==(const Shown& o) const { return lens1 == o.lens1 && lens2 == o.lens2; }
};

std::ostream& operator<<(std::ostream& os, const Shown& s) {
    return os << "{lens1 " << s.lens1 << ", lens2 " << s.lens2 << "}";
}

// Which frame of each lens a panorama picture shows, modulo 16, told by the scene's moving
// discs: the yellow one above the horizon (seen by lens 1) turns east by a sixteenth of a
// circle a frame, the red one below it (lens 2) turns west. -1 when a disc is not found.
Shown shown_frames(const Picture& p) {
    const int cw = p.chroma_width(), ch = p.chroma_height();
    double s[2] = {0, 0}, c[2] = {0, 0};
    int n[2] = {0, 0};
    for (int j = 0; j < ch; ++j) {
        for (int i = 0; i < cw; ++i) {
            const size_t at = static_cast<size_t>(j) * cw + i;
            // No other part of the scene comes near these chroma values.
            const int disc = j < ch / 2 ? (p.u[at] < 45 ? 0 : -1) : (p.v[at] > 205 ? 1 : -1);
            if (disc < 0) continue;
            const double lon = i * 2 * kPi / cw - kPi;
            s[disc] += std::sin(lon);
            c[disc] += std::cos(lon);
            ++n[disc];
        }
    }
    auto frame = [](double turns) {
        const long k = std::lround(turns * 16 / (2 * kPi));
        return static_cast<int>(((k % 16) + 16) % 16);
    };
    const double lon1 = std::atan2(s[0], c[0]), lon2 = std::atan2(s[1], c[1]);
    return {n[0] >= 10 ? frame(lon1 + kPi - 0.2) : -1, n[1] >= 10 ? frame(kPi - 0.3 - lon2) : -1};
}

// Luma PSNR of a panorama picture against the scene at `frame`, leaving out the rows within
// `seam_degrees` of the horizon, where the two lenses meet. The lens pictures sample the scene
// at points and each output pixel interpolates between lens pixels, so the reference for a
// pixel is the scene averaged over four points a quarter pixel around it: the sharp grid lines
// then count for what the pictures can show.
double scene_psnr(const Picture& p, int frame, double seam_degrees) {
    double sum = 0;
    int64_t n = 0;
    for (int row = 0; row < p.height; ++row) {
        if (std::fabs(latitude_degrees(row, p.height)) < seam_degrees) continue;
        for (int x = 0; x < p.width; ++x) {
            double expected = 0;
            for (const double dy : {-0.25, 0.25}) {
                for (const double dx : {-0.25, 0.25}) {
                    orbv_sample::Direction d = direction_of(x + dx, row + dy, p.width, p.height);
                    if (d.lon < -kPi) d.lon += 2 * kPi;
                    uint8_t y, u, v;
                    orbv_sample::scene_color(d, frame, &y, &u, &v);
                    expected += y / 4.0;
                }
            }
            const double e = p.luma(x, row) - expected;
            sum += e * e;
            ++n;
        }
    }
    return 10 * std::log10(255.0 * 255.0 / std::max(sum / static_cast<double>(n), 1e-9));
}

// Mean difference b - a of one plane over the rows whose latitude lies in [low, high] degrees,
// counting only positions where a's value lies in [min_a, max_a].
double mean_difference(const Picture& a, const Picture& b, char plane, double low, double high,
                       int min_a = 0, int max_a = 255) {
    const bool luma = plane == 'y';
    const int w = luma ? a.width : a.chroma_width();
    const int h = luma ? a.height : a.chroma_height();
    const std::vector<uint8_t>& pa = luma ? a.y : (plane == 'u' ? a.u : a.v);
    const std::vector<uint8_t>& pb = luma ? b.y : (plane == 'u' ? b.u : b.v);
    double sum = 0;
    int64_t n = 0;
    for (int row = 0; row < h; ++row) {
        const double lat = latitude_degrees(row, h);
        if (lat < low || lat > high) continue;
        for (int x = 0; x < w; ++x) {
            const size_t at = static_cast<size_t>(row) * w + x;
            if (pa[at] < min_a || pa[at] > max_a) continue;
            sum += static_cast<double>(pb[at]) - pa[at];
            ++n;
        }
    }
    EXPECT_GT(n, 1000) << "too few positions compared";
    return n > 0 ? sum / static_cast<double>(n) : 0.0;
}

// 1 when upper halves of the AVX registers hold data, 0 when they are clear, -1 when the
// processor cannot tell. SSE code that runs while they hold data is slowed down on many
// processors (several times over on some), so a call must not return to its host that way.
int avx_upper_state() {
#if defined(__x86_64__)
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_OSXSAVE) || !(c & bit_AVX)) return -1;
    // XGETBV with ECX = 1 reads which state components are in use.
    if (!__get_cpuid_count(0xD, 1, &a, &b, &c, &d) || !(a & (1u << 2))) return -1;
    uint32_t in_use, high;
    __asm__ volatile("xgetbv" : "=a"(in_use), "=d"(high) : "c"(1));
    return (in_use >> 2) & 1;
#else
    return -1;
#endif
}

// --- Shared exports -------------------------------------------------------------------------

// The movie pair exported once with every setting neutral, into a directory whose name must
// be escaped in the documents.
struct MainExport {
    Request request;
    int32_t result = -1;
    std::vector<CallbackRecord> records;
};

const MainExport& main_export() {
    static const MainExport e = [] {
        MainExport m;
        const std::string dir = shared_dir().file("odd \"name\" \\ dir");
        std::filesystem::create_directory(dir);
        m.request = request(movies(), dir + "/pano.mov");
        Recorder rec;
        m.result = run_export(m.request);
        m.records = rec.records();
        return m;
    }();
    return e;
}

// The still pair exported with every setting neutral.
const std::string& plain_still_export() {
    static const std::string out = [] {
        const std::string path = shared_dir().file("plain_pano.jpg");
        export_ok(request(stills(), path));
        return path;
    }();
    return out;
}

// Tests that read the outputs back need the ffmpeg programs.
class Export : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!orbv_test::program_available("ffmpeg") || !orbv_test::program_available("ffprobe")) {
            GTEST_SKIP() << "ffmpeg and ffprobe are needed to read the outputs";
        }
    }
    TempDir dir;
};

// --- Movie pairs ----------------------------------------------------------------------------

TEST_F(Export, MoviePairDocumentsFromStartToDone) {
    const MainExport& e = main_export();
    EXPECT_EQ(e.result, 0);
    ASSERT_EQ(e.records.size(), 4u);
    EXPECT_EQ(e.records[0].state, STATE_START);
    EXPECT_EQ(e.records[0].document, count_document(e.request, kFrames));
    EXPECT_EQ(e.records[1].state, STATE_PROGRESS);
    EXPECT_EQ(e.records[1].document, count_document(e.request, 10));
    EXPECT_EQ(e.records[2].state, STATE_PROGRESS);
    EXPECT_EQ(e.records[2].document, count_document(e.request, 20));
    EXPECT_EQ(e.records[3].state, STATE_DONE);
    EXPECT_EQ(e.records[3].document, "{" + paths_json(e.request) + "}");
    EXPECT_NE(e.records[3].document.find("odd \\\"name\\\" \\\\ dir/pano.mov\"}"),
              std::string::npos)
        << e.records[3].document;
}

TEST_F(Export, MoviePairIsSphericalH264WithStereoPcmNoLongerThanThePictures) {
    const std::string& out = main_export().request.out;
    ASSERT_TRUE(exists(out));
    EXPECT_EQ(probe(out, "v", "stream=codec_name"), "h264");
    EXPECT_EQ(as_int(probe(out, "v", "stream=width")), kWidth);
    EXPECT_EQ(as_int(probe(out, "v", "stream=height")), kHeight);
    EXPECT_EQ(as_int(probe(out, "v", "stream=nb_frames")), kFrames);
    EXPECT_EQ(decoded_frame_count(out), kFrames);
    const std::string listing = video_stream_listing(out);
    EXPECT_NE(listing.find("side_data_type=Spherical Mapping"), std::string::npos) << listing;
    EXPECT_NE(listing.find("projection=equirectangular"), std::string::npos) << listing;

    EXPECT_EQ(probe(out, "a", "stream=codec_name"), "pcm_s16le");
    EXPECT_EQ(probe(out, "a", "stream=channels"), "2");
    EXPECT_EQ(as_int(probe(out, "a", "stream=sample_rate")), 48000);
    const int64_t samples = sound_samples(out);
    EXPECT_LE(samples, samples_of_frames(kFrames, 48000));
    EXPECT_GE(samples, samples_of_frames(kFrames - 1, 48000));
}

TEST_F(Export, MoviePairShowsTheSceneFrameByFrame) {
    const std::vector<Picture> frames = decode(main_export().request.out);
    ASSERT_EQ(frames.size(), static_cast<size_t>(kFrames));
    for (int k = 0; k < kFrames; ++k) {
        EXPECT_EQ(shown_frames(frames[k]), (Shown{k % 16, k % 16})) << "picture " << k;
    }
    // Away from the seam the panorama is the scene itself, after two H.264 encodings.
    EXPECT_GE(scene_psnr(frames[5], 5, 3.0), 30.0);
}

TEST_F(Export, BFramesAndAacSound) {
    const Request r = request(b_frame_movies(), dir.file("b.mov"));
    EXPECT_EQ(export_ok(r), kFrames);
    const std::vector<Picture> frames = decode(r.out);
    ASSERT_EQ(frames.size(), static_cast<size_t>(kFrames));
    for (int k = 0; k < kFrames; ++k) {
        EXPECT_EQ(shown_frames(frames[k]), (Shown{k % 16, k % 16})) << "picture " << k;
    }
    EXPECT_EQ(probe(r.out, "a", "stream=codec_name"), "pcm_s16le");
    EXPECT_EQ(probe(r.out, "a", "stream=channels"), "2");
    const int64_t samples = sound_samples(r.out);
    EXPECT_LE(samples, samples_of_frames(kFrames, 48000));
    EXPECT_GE(samples, samples_of_frames(kFrames - 2, 48000));
}

TEST_F(Export, SoundOfEitherInputNeverOutlastsTheShorterPictures) {
    const Pair& uneven = uneven_movies();
    {
        // Input 1's sound runs 30 frames; the pictures pair up for 20.
        const Request r = request(uneven, dir.file("sound1.mov"));
        EXPECT_EQ(export_ok(r), 20);
        EXPECT_EQ(decoded_frame_count(r.out), 20);
        EXPECT_EQ(as_int(probe(r.out, "a", "stream=sample_rate")), 48000);
        EXPECT_EQ(probe(r.out, "a", "stream=channels"), "2");
        const int64_t samples = sound_samples(r.out);
        EXPECT_LE(samples, samples_of_frames(20, 48000));
        EXPECT_GE(samples, samples_of_frames(19, 48000));
    }
    {
        // Input 2's sound, with input 1 cut to 0.1 .. 0.5 s: the sound lasts 0.4 s.
        Request r = request(uneven, dir.file("sound2.mov"));
        r.audio_input = 1;
        r.start1 = 0.1f;
        r.end1 = 0.5f;
        EXPECT_EQ(export_ok(r), 12);
        EXPECT_EQ(decoded_frame_count(r.out), 12);
        EXPECT_EQ(as_int(probe(r.out, "a", "stream=sample_rate")), 32000);
        EXPECT_EQ(probe(r.out, "a", "stream=channels"), "2");
        const int64_t samples = sound_samples(r.out);
        EXPECT_LE(samples, std::llround(0.4 * 32000));
        EXPECT_GE(samples, std::llround(0.4 * 32000) - 32000 / 30);
    }
}

TEST_F(Export, TrimmedWindowsAgreeWithTheFrameCount) {
    // Start 0.2 s, end 0.5 s at 30000/1001 frames a second: frames 5 to 14 by the count,
    // 9 frames. Input 2 from 0.1 to 0.45 s: frames 2 to 13, 11. The export takes the smaller.
    // The loop tests each picture with the time of the picture before it, so the first picture
    // used is the one after the first at or past the start: 7 for input 1, 4 for input 2.
    // B-frames: both inputs seek back to the key picture at 0 s and read on through the delay.
    Request r = request(b_frame_movies(), dir.file("trimmed.mov"));
    r.start1 = 0.2f;
    r.end1 = 0.5f;
    r.start2 = 0.1f;
    r.end2 = 0.45f;
    EXPECT_EQ(export_ok(r), 9);
    std::vector<Picture> frames = decode(r.out);
    ASSERT_EQ(frames.size(), 9u);
    for (int j = 0; j < 9; ++j) {
        EXPECT_EQ(shown_frames(frames[j]), (Shown{7 + j, 4 + j})) << "picture " << j;
    }

    // A start alone: the count runs from frame 8 (0.3 s) to the stream's 20 frames, 12; the
    // pictures used are 10 to 19, the first one later as above and the last one whole. The
    // count and the pictures differ by two here, as the two rules give.
    r = request(movies(), dir.file("started.mov"));
    r.start1 = 0.3f;
    EXPECT_EQ(export_ok(r), 12);
    frames = decode(r.out);
    ASSERT_EQ(frames.size(), 10u);
    for (int j = 0; j < 10; ++j) {
        EXPECT_EQ(shown_frames(frames[j]), (Shown{(10 + j) % 16, j})) << "picture " << j;
    }
}

// --- Stills ---------------------------------------------------------------------------------

TEST_F(Export, TwoStillsGiveOneMotionJpegPictureWithGPanoXmp) {
    const Request r = request(stills(), dir.file("pano.jpg"));
    Recorder rec;
    testing::internal::CaptureStderr();
    EXPECT_EQ(run_export(r), 0);
    const std::string log = testing::internal::GetCapturedStderr();
    ASSERT_EQ(rec.records().size(), 2u);
    EXPECT_EQ(rec.records()[0].state, STATE_START);
    EXPECT_EQ(rec.records()[0].document, count_document(r, 0)) << "stills have no frame count";
    EXPECT_EQ(rec.records()[1].state, STATE_DONE);
    EXPECT_EQ(rec.records()[1].document, "{" + paths_json(r) + "}");
    EXPECT_NE(log.find("[.jpeg analyze] close stream\n"), std::string::npos);

    EXPECT_EQ(probe(r.out, "v", "stream=codec_name"), "mjpeg");
    EXPECT_EQ(decoded_frame_count(r.out), 1);
    const std::vector<Picture> frames = decode(r.out);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].width, kWidth);
    EXPECT_EQ(frames[0].height, kHeight);
    EXPECT_EQ(shown_frames(frames[0]), (Shown{0, 0}));
    EXPECT_GE(scene_psnr(frames[0], 0, 3.0), 30.0);

    if (!orbv_test::program_available("exiftool")) GTEST_SKIP() << "exiftool is not available";
    std::map<std::string, std::string> gpano;
    std::istringstream lines(run_command("exiftool -s -XMP-GPano:all " + shell_quote(r.out)));
    for (std::string line; std::getline(lines, line);) {
        const size_t colon = line.find(" : ");
        if (colon == std::string::npos) continue;
        gpano[line.substr(0, line.find(' '))] = line.substr(colon + 3);
    }
    const std::map<std::string, std::string> expected = {
        {"UsePanoramaViewer", "True"},
        {"StitchingSoftware", "VELORA360Viewer win.1.0.0"},
        {"ProjectionType", "equirectangular"},
        {"PoseHeadingDegrees", "0.0"},
        {"CroppedAreaLeftPixels", "0"},
        {"CroppedAreaTopPixels", "0"},
        {"CroppedAreaImageWidthPixels", "1440"},
        {"CroppedAreaImageHeightPixels", "720"},
        {"FullPanoWidthPixels", "1440"},
        {"FullPanoHeightPixels", "720"},
        {"FirstPhotoDate", kDate},
        {"LastPhotoDate", kDate}};
    EXPECT_EQ(gpano, expected);
}

TEST_F(Export, StillWithAMovieGivesASphericalMovie) {
    Request r = request({stills().lens1, movies().lens2}, dir.file("mixed.mov"));
    r.audio_input = 1;  // the movie's sound
    EXPECT_EQ(export_ok(r), kFrames);
    const std::string listing = video_stream_listing(r.out);
    EXPECT_NE(listing.find("side_data_type=Spherical Mapping"), std::string::npos) << listing;
    EXPECT_EQ(probe(r.out, "v", "stream=codec_name"), "h264");
    const std::vector<Picture> frames = decode(r.out);
    ASSERT_EQ(frames.size(), static_cast<size_t>(kFrames));
    for (int k = 0; k < kFrames; ++k) {
        EXPECT_EQ(shown_frames(frames[k]), (Shown{0, k % 16})) << "picture " << k;
    }
    EXPECT_LE(sound_samples(r.out), samples_of_frames(kFrames, 48000));
}

TEST_F(Export, SeamBandCoversTheHorizonAndNothingElse) {
    // Decoded at twice the lens width, 2880 x 180: 180 rows a strip, which the maps spread
    // over latitudes within 180 / 2880 * 180 = 11.25 degrees of the horizon.
    Picture band(2880, 180, 60);
    for (int row = 0; row < band.height; ++row) {
        for (int x = band.width / 2; x < band.width; ++x) band.luma(x, row) = 200;
    }
    Request r = request(stills(), dir.file("band.jpg"));
    r.band = dir.file("band_image.jpg");
    orbv_sample::write_still(r.band, band, nullptr);
    export_ok(r);
    const std::vector<Picture> with = decode(r.out);
    const std::vector<Picture> without = decode(plain_still_export());
    ASSERT_EQ(with.size(), 1u);
    ASSERT_EQ(without.size(), 1u);

    int dark = 0, light = 0, other = 0;
    for (int row = 0; row < kHeight; ++row) {
        if (std::fabs(latitude_degrees(row, kHeight)) > 9.0) continue;
        for (int x = 0; x < kWidth; ++x) {
            const int y = with[0].luma(x, row);
            if (std::abs(y - 60) <= 12) {
                ++dark;
            } else if (std::abs(y - 200) <= 12) {
                ++light;
            } else {
                ++other;
            }
        }
    }
    EXPECT_GT(dark, 10 * other);
    EXPECT_GT(light, 10 * other);
    // Away from the band the panorama is unchanged.
    for (char plane : {'y', 'u', 'v'}) {
        EXPECT_NEAR(mean_difference(without[0], with[0], plane, 14, 90), 0.0, 0.25) << plane;
        EXPECT_NEAR(mean_difference(without[0], with[0], plane, -90, -14), 0.0, 0.25) << plane;
    }
}

TEST_F(Export, ColourOffsetsChangeTheirPlaneOfTheirLens) {
    Request r = request(stills(), dir.file("offsets.jpg"));
    r.offsets1[0] = 40;   // lens 1 (the sky) brighter
    r.offsets2[1] = -50;  // lens 2 (the ground) less blue
    export_ok(r);
    const std::vector<Picture> changed = decode(r.out);
    const std::vector<Picture> plain = decode(plain_still_export());
    ASSERT_EQ(changed.size(), 1u);
    ASSERT_EQ(plain.size(), 1u);
    const Picture& a = plain[0];
    const Picture& b = changed[0];
    EXPECT_NEAR(mean_difference(a, b, 'y', 5, 90, 0, 180), 40.0, 1.0);
    EXPECT_NEAR(mean_difference(a, b, 'y', -90, -5), 0.0, 0.25);
    EXPECT_NEAR(mean_difference(a, b, 'u', 5, 90), 0.0, 0.25);
    EXPECT_NEAR(mean_difference(a, b, 'u', -90, -5, 70, 255), -50.0, 1.0);
    EXPECT_NEAR(mean_difference(a, b, 'v', -90, 90), 0.0, 0.25);
}

TEST_F(Export, CameraOrientationTurnsEachLensLikeTheEquivalentRoll) {
    const std::string plain = read_file(plain_still_export());
    ASSERT_FALSE(plain.empty());
    struct Case {
        int orientation1, orientation2;
        float roll1, roll2;  // the same turn given explicitly
    };
    // Orientation 3 turns by a half, 6 by a quarter and 8 by three quarters of a turn: lens 1
    // backwards, lens 2 forwards.
    for (const Case& c :
         {Case{6, 3, -90.0f, 180.0f}, Case{3, 8, -180.0f, 270.0f}, Case{8, 6, -270.0f, 90.0f}}) {
        const std::string tag =
            std::to_string(c.orientation1) + "_" + std::to_string(c.orientation2);
        SCOPED_TRACE("orientations " + tag);
        const Pair held{write_lens_still("held1_" + tag + ".jpg", 1, c.orientation1),
                        write_lens_still("held2_" + tag + ".jpg", 2, c.orientation2)};
        const Request oriented = request(held, dir.file("oriented_" + tag + ".jpg"));
        export_ok(oriented);
        Request rolled = request(stills(), dir.file("rolled_" + tag + ".jpg"));
        rolled.roll1 = c.roll1;
        rolled.roll2 = c.roll2;
        export_ok(rolled);
        const std::string a = read_file(oriented.out), b = read_file(rolled.out);
        ASSERT_FALSE(a.empty());
        EXPECT_TRUE(a == b) << "the oriented pair's panorama differs from the rolled one's";
        EXPECT_FALSE(a == plain) << "the orientation turned nothing";
    }
}

// --- Failures -------------------------------------------------------------------------------

TEST_F(Export, SizeAndWidthMismatchesNameTheSizes) {
    const orbv_sample::CameraInfo camera;
    auto still = [&](const std::string& name, int w, int h) {
        const std::string path = dir.file(name);
        orbv_sample::write_still(path, Picture(w, h, 120), &camera);
        return path;
    };
    const std::string s1440 = still("a.jpg", 1440, 1440), s1936 = still("b.jpg", 1936, 1936);
    const std::string flat = still("c.jpg", 1440, 720), s2000 = still("d.jpg", 2000, 2000);
    struct Case {
        std::string in1, in2, message, api_errstr;
    };
    const std::string sizes = "[_ORBV_export_analyze]:size error ";
    for (const Case& c : {Case{s1440, s1936, "Movie/Image different width or height",
                               sizes + "width1:1440 width2:1936 height11440 height2:1936"},
                          Case{s1440, flat, "Movie/Image different width or height",
                               sizes + "width1:1440 width2:1440 height11440 height2:720"},
                          Case{s2000, s2000, "Movie/Image width not in 3888 , 1936 , 1440",
                               sizes + "width:2000"}}) {
        SCOPED_TRACE(c.api_errstr);
        Request r = request({c.in1, c.in2}, dir.file("out.jpg"));
        write_file(r.out, "earlier export");
        Recorder rec;
        EXPECT_EQ(run_export(r), 0);
        ASSERT_EQ(rec.records().size(), 1u) << "no start document";
        EXPECT_EQ(rec.records()[0].state, STATE_FAILED);
        EXPECT_EQ(rec.records()[0].document,
                  error_document("30001", c.message, -1, c.api_errstr, r));
        EXPECT_EQ(read_file(r.out), "earlier export") << "a file the export never opened stays";
    }
}

TEST_F(Export, OutputSizeWithoutWholeChromaPlanesIsRefused) {
    // The panorama is 4:2:0 with chroma planes of half its size; an odd width made the still's
    // encoder copy past them and abort the process.
    for (const auto& [width, height] :
         {std::pair{1441, 720}, std::pair{1440, 721}, std::pair{0, 720}, std::pair{-1440, 720}}) {
        SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
        Request r = request(stills(), dir.file("odd.jpg"));
        r.width = width;
        r.height = height;
        write_file(r.out, "earlier export");
        Recorder rec;
        run_export(r);
        ASSERT_EQ(rec.records().size(), 1u) << "no start document";
        EXPECT_EQ(rec.records()[0].state, STATE_FAILED);
        EXPECT_EQ(rec.records()[0].document,
                  error_document("39999", "Could not write video", -22, "Invalid argument", r));
        EXPECT_EQ(read_file(r.out), "earlier export");
    }
}

TEST_F(Export, InputOfNeitherKindFailsItsAnalysis) {
    const std::string clip = dir.file("clip.avi");
    write_file(clip, "RIFF");
    for (int slot = 1; slot <= 2; ++slot) {
        Request r = request(slot == 1 ? Pair{clip, stills().lens2} : Pair{stills().lens1, clip},
                            dir.file("out.mov"));
        write_file(r.out, "earlier export");
        Recorder rec;
        run_export(r);
        const CallbackRecord last = rec.final_record();
        EXPECT_EQ(last.state, STATE_FAILED);
        EXPECT_EQ(last.document,
                  error_document("30001", "Analyze Error InputFile" + std::to_string(slot), -1,
                                 "[_ORBV_export_analyze]:analyze error", r));
        EXPECT_EQ(read_file(r.out), "earlier export");
    }
}

TEST_F(Export, OutputNamingAnInputIsRefusedAndTheInputKept) {
    const Pair copies{dir.file("in1.jpg"), dir.file("in2.jpg")};
    std::filesystem::copy_file(stills().lens1, copies.lens1);
    std::filesystem::copy_file(stills().lens2, copies.lens2);
    const std::string link = dir.file("link.jpg");
    std::filesystem::create_symlink(copies.lens2, link);
    const std::string original1 = read_file(copies.lens1), original2 = read_file(copies.lens2);
    for (const std::string& out : {copies.lens1, link}) {
        const Request r = request(copies, out);
        Recorder rec;
        run_export(r);
        const CallbackRecord last = rec.final_record();
        EXPECT_EQ(last.state, STATE_FAILED);
        EXPECT_EQ(last.document, error_document("30003", "export file not writable", -1, "", r));
    }
    EXPECT_TRUE(read_file(copies.lens1) == original1);
    EXPECT_TRUE(read_file(copies.lens2) == original2);
}

// Cancels at the first, a middle and the last progress point are checked with the other faults.

TEST_F(Export, FailuresAfterTheStartRemoveTheOutput) {
    {
        // The MP4 muxer takes no PCM sound: the header fails once the file is open.
        const Request r = request(movies(), dir.file("pcm.mp4"));
        Recorder rec;
        testing::internal::CaptureStderr();
        run_export(r);
        const std::string log = testing::internal::GetCapturedStderr();
        const CallbackRecord last = rec.final_record();
        EXPECT_EQ(last.state, STATE_FAILED);
        EXPECT_EQ(json_field(last.document, "errnum"), "39999");
        EXPECT_EQ(json_field(last.document, "errstr"), "Could not write video");
        EXPECT_LT(as_int(json_field(last.document, "api_errnum")), 0);
        EXPECT_NE(log.find("[libavIF::write_video] AV I/O open\n"), std::string::npos);
        EXPECT_NE(log.find("[libavIF::write_video] write header error "), std::string::npos);
        EXPECT_FALSE(exists(r.out));
    }
    {
        // A name no export writes is refused before the work: an earlier file of that name stays.
        const Request r = request(movies(), dir.file("pano.xyz"));
        write_file(r.out, "earlier export");
        Recorder rec;
        run_export(r);
        const CallbackRecord last = rec.final_record();
        EXPECT_EQ(last.state, STATE_FAILED);
        EXPECT_EQ(json_field(last.document, "errstr"), "export file not writable");
        EXPECT_EQ(read_file(r.out), "earlier export");
    }
    {
        // The output's directory disappears after the checks.
        const std::string sub = dir.file("sub");
        std::filesystem::create_directory(sub);
        const Request r = request(movies(), sub + "/pano.mov");
        const OnDocument host([&](int32_t state, const std::string&) {
            if (state == STATE_START) std::filesystem::remove_all(sub);
        });
        Recorder rec;
        run_export(r);
        EXPECT_EQ(rec.final_record().document, error_document("39999", "Could not write video", -2,
                                                              "No such file or directory", r));
    }
    {
        // The output is moved away while it is written: marking it as a panorama cannot reopen
        // it, and the call ends as an unknown error.
        const Request r = request(movies(), dir.file("moved.mov"));
        const std::string elsewhere = dir.file("elsewhere.mov");
        const OnDocument host([&](int32_t state, const std::string&) {
            if (state == STATE_PROGRESS && exists(r.out)) std::filesystem::rename(r.out, elsewhere);
        });
        Recorder rec;
        EXPECT_EQ(run_export(r), -1) << "a thrown error told through the callback";
        const CallbackRecord last = rec.final_record();
        EXPECT_EQ(last.state, STATE_FAILED);
        EXPECT_EQ(json_field(last.document, "errnum"), "39999");
        EXPECT_EQ(json_field(last.document, "errstr"), "an unknown error occurred");
        EXPECT_EQ(json_field(last.document, "api_errnum"), "-1");
        EXPECT_NE(json_field(last.document, "api_errstr"), "");
        EXPECT_FALSE(exists(r.out));
        EXPECT_EQ(decoded_frame_count(elsewhere), kFrames) << "the loop itself finished";
    }
}

TEST(ExportReturn, LeavesTheUpperHalvesOfTheAvxRegistersClear) {
    if (avx_upper_state() < 0) GTEST_SKIP() << "the processor does not tell its AVX state";
    TempDir dir;
    const Request r = request(stills(), dir.file("pano.jpg"));
    const int32_t result = run_export(r);
    const int state = avx_upper_state();  // before anything else runs
    EXPECT_EQ(result, 0);
    EXPECT_EQ(state, 0) << "the host's SSE code would run slowly after the call";
}

// --- Two at once ----------------------------------------------------------------------------

TEST_F(Export, TwoExportsOnTwoThreadsMatchTheSequentialOne) {
    const std::string sequential = read_file(main_export().request.out);
    ASSERT_FALSE(sequential.empty());
    int32_t states[2] = {-1, -1};
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&, t] {
            Recorder rec;  // each thread records its own callbacks
            run_export(request(movies(), dir.file("thread" + std::to_string(t) + ".mov")));
            for (const CallbackRecord& c : rec.records()) {
                if (c.state >= STATE_DONE) states[t] = c.state;
            }
        });
    }
    for (std::thread& t : threads) t.join();
    for (int t = 0; t < 2; ++t) {
        EXPECT_EQ(states[t], STATE_DONE) << "thread " << t;
        // libx264 is deterministic with its threads, so the files are the same byte for byte.
        EXPECT_TRUE(read_file(dir.file("thread" + std::to_string(t) + ".mov")) == sequential)
            << "thread " << t;
    }
}

}  // namespace
