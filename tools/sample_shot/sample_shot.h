#pragma once

// The sample-shot maker: writes what the dual-lens camera writes (two lens movies or two lens
// stills with the camera's metadata), showing a synthetic scene through the fisheye lens
// model, so that tests and benchmarks need no downloaded media. Independent of the library.
//
// Every writer throws std::runtime_error with FFmpeg's or the system's text on failure.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace orbv_sample {

// A picture in planar 4:2:0: Y is width x height, U and V are chroma_width() x
// chroma_height() (halves rounded up), all rows packed without padding.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> y, u, v;

    Picture() = default;
    Picture(int w, int h, uint8_t Y = 16, uint8_t U = 128, uint8_t V = 128);
    int chroma_width() const { return (width + 1) / 2; }
    int chroma_height() const { return (height + 1) / 2; }
    uint8_t& luma(int x, int row) { return y[static_cast<size_t>(row) * width + x]; }
    uint8_t luma(int x, int row) const { return y[static_cast<size_t>(row) * width + x]; }
};

// What the camera records about a shot, in its EXIF block and its "ORX" maker note.
struct CameraInfo {
    std::string maker = "ORVAX COMPUTER";
    std::string model = "ZK-TR500";
    int capture_mode = 128;
    uint32_t multi_capture = 0;
    int camera_orientation = 0;  // 0..255
    int exif_orientation = 1;    // 1..8
    std::string datetime = "2024:05:17 10:30:00";
};

enum class Sound { None, Pcm, Aac };

// --- The lens model ---------------------------------------------------------------------
// Radius of the lens's image circle for a square lens picture of this width: 675, 907 and
// 1821 for the camera's 1440, 1936 and 3888; the same proportion for other widths.
double lens_radius(int width);

// Direction on the unit sphere of the panorama: longitude in [-pi, pi) (0 straight ahead),
// polar angle in [0, pi] from the zenith.
struct Direction {
    double lon;
    double polar;
};
// Where a direction lands in a lens picture of `size` x `size` (lens 1 looks at the zenith,
// lens 2 at the nadir), with no rotation: the inverse of what the stitcher samples.
void direction_to_lens(int lens, int size, const Direction& d, double* x, double* y);
// The direction seen at a lens-picture position; false outside the lens's hemisphere.
bool lens_to_direction(int lens, int size, double x, double y, Direction* d);

// The synthetic world: hue by longitude, light sky, darker ground, a grid every 30 degrees and
// a yellow disc that moves with the frame number.
void scene_color(const Direction& d, int frame, uint8_t* Y, uint8_t* U, uint8_t* V);

// Renders lens pictures of one size; the still part of the scene is computed once.
class LensRenderer {
  public:
    explicit LensRenderer(int size);
    // The picture of lens 1 or 2 for a frame, with the frame number coded in its corner.
    Picture render(int lens, int frame) const;
    int size() const { return size_; }

  private:
    int size_;
    Picture base_[2];
};

// The frame number as a row of black and white blocks in the picture's top-left corner, which
// lies outside the lens circle. read_frame_code reads it back from a decoded luma plane.
void stamp_frame_code(Picture& picture, int code);
int read_frame_code(const uint8_t* luma, int linesize, int width, int height);

// --- Sound -------------------------------------------------------------------------------
// The test tone: sample `index` of `channel` (a different tone per channel).
int16_t tone_sample(int channel, int64_t index, int sample_rate);

// --- Metadata bytes ----------------------------------------------------------------------
// Big-endian TIFF block ("MM", 42) with Make, Model, Orientation, DateTimeOriginal and the
// "ORX" maker note (capture mode 0x3000, multi-capture 0x6300, camera orientation 0x6301).
std::vector<uint8_t> exif_tiff_block(const CameraInfo& camera);
// The payload of the movie's ORVM atom: "ORVM", two bytes, the first directory's offset, then
// the same directories.
std::vector<uint8_t> orvm_block(const CameraInfo& camera);
// Puts `payload` as an atom of `type` into moov/udta of a finished movie whose moov is its
// last top-level atom.
void insert_udta_atom(const std::string& path, const char type[4],
                      const std::vector<uint8_t>& payload);

// --- Files -------------------------------------------------------------------------------
struct MovieOptions {
    int width = 1440;
    int height = 1440;
    int frames = 10;
    bool b_frames = false;
    Sound sound = Sound::Pcm;
    int channels = 2;
    int sample_rate = 48000;
    double sound_seconds = -1;         // < 0: as long as the pictures
    std::string preset = "ultrafast";  // libx264 preset
    int crf = 20;
    bool with_camera = true;  // write the ORVM atom
    CameraInfo camera;
    std::function<Picture(int frame)> picture;  // required
};
// H.264 (libx264) at a 1/30000 time base, 1001 ticks per frame, in a MOV container, with PCM
// or AAC sound.
void write_movie(const std::string& path, const MovieOptions& options);
// A baseline JPEG of the picture; with a camera, an APP1 EXIF segment right after SOI.
void write_still(const std::string& path, const Picture& picture, const CameraInfo* camera);

// --- Whole shots -------------------------------------------------------------------------
struct ShotOptions {
    std::string name = "shot";
    int lens_width = 1440;
    bool stills = false;
    int frames = 10;
    bool b_frames = false;
    Sound sound = Sound::Pcm;
    int channels = 2;
    int sample_rate = 48000;
    double sound_seconds = -1;
    std::string preset = "ultrafast";
    CameraInfo camera;
};
struct Shot {
    std::string lens1;
    std::string lens2;
};
// The names make_shot writes.
Shot shot_files(const std::string& directory, const ShotOptions& options);

// Writes <name>_lens1 / <name>_lens2 (.mov, or .jpg for stills) into `directory`.
Shot make_shot(const std::string& directory, const ShotOptions& options);

}  // namespace orbv_sample
