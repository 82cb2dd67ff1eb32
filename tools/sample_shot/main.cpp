// orbv-sample-shot: writes a sample shot of the dual-lens camera into a directory.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>

#include "sample_shot.h"

extern "C" {
#include <libavutil/log.h>
}

namespace {

// The lens pictures are square: the movie encoder needs an even width, and the frame number
// coded in a corner needs 88 pixels; wider than 8192 is beyond what the encoders were tried at.
constexpr int kMinWidth = 88, kMaxWidth = 8192;

// Also the source of the man page (help2man): options are indented and start with a dash.
const char kUsage[] =
    "Usage: orbv-sample-shot [OPTION]...\n"
    "Write a sample shot of the dual-lens 360-degree camera: two lens movies (or stills)\n"
    "with the camera's metadata, showing a synthetic scene through the fisheye lenses.\n"
    "Prints the two file names.\n"
    "\n"
    "  --dir DIR              output directory (default .)\n"
    "  --name NAME            file name stem: NAME_lens1.mov, NAME_lens2.mov (default shot)\n"
    "  --width N              lens picture width, 88 to 8192, even for movies; the camera's\n"
    "                         are 1440, 1936 and 3888 (default 1440)\n"
    "  --frames N             frames per lens movie (default 10)\n"
    "  --still                two JPEG stills instead of two movies\n"
    "  --bframes              encode with B-frames\n"
    "  --sound pcm|aac|none   sound of the movies (default pcm)\n"
    "  --channels 1|2         mono or stereo (default 2)\n"
    "  --rate N               sample rate (default 48000)\n"
    "  --seconds S            sound length (default: as long as the pictures)\n"
    "  --preset P             libx264 preset (default ultrafast)\n"
    "  --capture-mode N       maker-note capture mode (default 128)\n"
    "  --multi-capture N      maker-note multi-capture value (default 0)\n"
    "  --camera-orientation N maker-note camera orientation (default 0)\n"
    "  --orientation N        EXIF orientation (default 1)\n"
    "  --datetime TEXT        DateTimeOriginal (default 2024:05:17 10:30:00)\n"
    "  --maker TEXT, --model TEXT\n"
    "                         EXIF maker and model (default ORVAX COMPUTER, ZK-TR500)\n"
    "  -y, --overwrite        replace lens files that exist already\n"
    "  -v, --verbose          show FFmpeg's notes and the encoder's statistics\n"
    "                         (default: its errors only)\n"
    "  --help                 show this help\n"
    "\n"
    "Exit status: 0 written, 1 failed, 2 usage error or existing files.\n";

// One line that names what was wrong; the usage itself only on --help.
int usage_error(const std::string& what) {
    std::fprintf(stderr, "orbv-sample-shot: %s (--help shows the usage)\n", what.c_str());
    return 2;
}

bool renderable(const orbv_sample::ShotOptions& o) {
    return o.lens_width >= kMinWidth && o.lens_width <= kMaxWidth &&
           (o.stills || o.lens_width % 2 == 0);
}

}  // namespace

int main(int argc, char** argv) {
    orbv_sample::ShotOptions o;
    std::string dir = ".";
    bool overwrite = false;
    av_log_set_level(AV_LOG_ERROR);
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) std::exit(usage_error(arg + " needs a value"));
            return argv[++i];
        };
        if (arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--dir") {
            dir = value();
        } else if (arg == "--name") {
            o.name = value();
        } else if (arg == "--width") {
            o.lens_width = std::atoi(value());
        } else if (arg == "--frames") {
            o.frames = std::atoi(value());
        } else if (arg == "--still") {
            o.stills = true;
        } else if (arg == "--bframes") {
            o.b_frames = true;
        } else if (arg == "--sound") {
            const std::string s = value();
            if (s == "pcm") {
                o.sound = orbv_sample::Sound::Pcm;
            } else if (s == "aac") {
                o.sound = orbv_sample::Sound::Aac;
            } else if (s == "none") {
                o.sound = orbv_sample::Sound::None;
            } else {
                return usage_error("--sound takes pcm, aac or none, not " + s);
            }
        } else if (arg == "--channels") {
            o.channels = std::atoi(value());
        } else if (arg == "--rate") {
            o.sample_rate = std::atoi(value());
        } else if (arg == "--seconds") {
            o.sound_seconds = std::atof(value());
        } else if (arg == "--preset") {
            o.preset = value();
        } else if (arg == "--capture-mode") {
            o.camera.capture_mode = std::atoi(value());
        } else if (arg == "--multi-capture") {
            o.camera.multi_capture = static_cast<uint32_t>(std::strtoul(value(), nullptr, 10));
        } else if (arg == "--camera-orientation") {
            o.camera.camera_orientation = std::atoi(value());
        } else if (arg == "--orientation") {
            o.camera.exif_orientation = std::atoi(value());
        } else if (arg == "--datetime") {
            o.camera.datetime = value();
        } else if (arg == "--maker") {
            o.camera.maker = value();
        } else if (arg == "--model") {
            o.camera.model = value();
        } else if (arg == "-y" || arg == "--overwrite") {
            overwrite = true;
        } else if (arg == "-v" || arg == "--verbose") {
            av_log_set_level(AV_LOG_INFO);
        } else {
            return usage_error("unknown option " + arg);
        }
    }
    if (!renderable(o)) {
        std::fprintf(stderr, "orbv-sample-shot: cannot render lens pictures %d pixels wide\n",
                     o.lens_width);
        return 2;
    }
    if (o.frames < 1) return usage_error("--frames takes 1 or more");
    if (o.channels != 1 && o.channels != 2) return usage_error("--channels takes 1 or 2");
    if (o.sample_rate < 8000) return usage_error("--rate takes 8000 or more");
    const orbv_sample::Shot names = orbv_sample::shot_files(dir, o);
    for (const std::string& name : {names.lens1, names.lens2}) {
        std::error_code ec;
        if (!overwrite && std::filesystem::exists(
                              std::filesystem::symlink_status(std::filesystem::u8path(name), ec))) {
            std::fprintf(stderr, "orbv-sample-shot: %s exists already (-y replaces it)\n",
                         name.c_str());
            return 2;
        }
    }
    try {
        const orbv_sample::Shot shot = orbv_sample::make_shot(dir, o);
        std::printf("%s\n%s\n", shot.lens1.c_str(), shot.lens2.c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "orbv-sample-shot: %s\n", e.what());
        return 1;
    }
    return 0;
}
