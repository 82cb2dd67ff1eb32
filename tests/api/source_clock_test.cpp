// Lens movies in the clocks, offsets, gaps and containers of cameras, phones and editors: the
// panorama keeps the source's frame rate, and every picture shows the moment its source shows at
// that time and every beep plays with its picture, each within a frame.
#include <gtest/gtest.h>

#include <cmath>

#include "support/export_call.h"
#include "support/test_support.h"

using namespace orbv_test;

namespace {

struct Row {
    const char* name;
    std::string rate, out, ext;
    std::string fps;                          // of the panorama; "": the export is refused
    double video_delay = 0, sound_delay = 0;  // seconds the pictures, the sound start late
    bool gap1 = false, gap2 = false;  // lens 1, lens 2 leave out the pictures of 1.2 to 1.7 s
    float start = 0, end = -1;        // both windows
};

// A lens movie of a 2.5 s scene: each picture shows its time t as round(100 t) in base-14 digits
// of Y, U and V, 16 levels apart, the same over the whole picture; the sound beeps for 50 ms at
// every whole second. `gapped` leaves out the pictures of 1.2 to 1.7 s.
std::string lens(const TempDir& dir, const std::string& name, const Row& row, bool gapped) {
    std::string path = dir.file(name + "." + row.ext);
    run_command("ffmpeg -v error -y -itsoffset " + std::to_string(row.video_delay) +
                " -f lavfi -i \"nullsrc=s=16x16:r=" + row.rate +
                ":d=2.5,geq=lum='16+16*mod(round(T*100),14)':cb='16+16*mod(floor(round(T*100)/"
                "14),14)':cr='16+16*floor(round(T*100)/196)'" +
                (gapped ? ",select='not(between(t,1.2,1.7))'" : "") +
                ",scale=1440:1440:flags=neighbor,format=yuv420p\" -itsoffset " +
                std::to_string(row.sound_delay) +
                " -f lavfi -i \"aevalsrc='0.5*sin(2*PI*1000*t)*lt(mod(t,1),0.05)':s=48000:d=2.5\""
                " -fps_mode passthrough -c:v libx264 -preset ultrafast -g 15 -c:a aac " +
                row.out + " " + shell_quote(path));
    return path;
}

// The scene time each panorama picture shows from lens 1 (above the horizon) and lens 2.
std::vector<std::pair<double, double>> moments(const std::string& path) {
    const std::string raw =
        run_command("ffmpeg -v error -i " + shell_quote(path) +
                    " -vf scale=4:2:flags=neighbor,format=yuv444p -f rawvideo -");
    auto time = [&](size_t frame, int at) {
        long digits[3];
        for (int p = 0; p < 3; ++p)
            digits[p] = std::lround((uint8_t(raw[frame + p * 8 + at]) - 16) / 16.0);
        return (digits[0] + 14 * digits[1] + 196 * digits[2]) / 100.0;
    };
    std::vector<std::pair<double, double>> shown;
    for (size_t frame = 0; frame + 24 <= raw.size(); frame += 24)
        shown.emplace_back(time(frame, 1), time(frame, 5));
    return shown;
}

// Output times of the beeps: the first loud sample after a quiet half second.
std::vector<double> beeps(const std::string& path) {
    const std::string raw = run_command("ffmpeg -v error -i " + shell_quote(path) +
                                        " -ac 1 -f s16le -acodec pcm_s16le -");
    std::vector<double> onsets;
    for (size_t i = 0, quiet = 24000; 2 * i + 1 < raw.size(); ++i, ++quiet) {
        const int16_t x = static_cast<int16_t>(uint8_t(raw[2 * i]) | uint8_t(raw[2 * i + 1]) << 8);
        if (std::abs(x) < 4000) continue;
        if (quiet >= 24000) onsets.push_back(i / 48000.0);
        quiet = 0;
    }
    return onsets;
}

TEST(SourceClock, PanoramasShowTheSourceMomentsWithTheirSound) {
    const std::string timescale = "-video_track_timescale ";
    const std::vector<Row> rows = {
        {"25 fps, 1/12800", "25", "", "mp4", "25/1"},
        {"24 fps, 1/90000", "24", timescale + "90000", "mov", "24/1"},
        {"50 fps, 1/50", "50", timescale + "50", "mov", "50/1"},
        {"29.97 fps, 1/90000", "30000/1001", timescale + "90000", "mov", "30000/1001"},
        {"29.97 fps, 1/600", "30000/1001", timescale + "600", "mov", "30000/1001"},
        {"offset 0.5 s, trims", "30", "", "mov", "30/1", 0.5, 0.5, false, false, 1.0f, 2.0f},
        {"late pictures", "30", "", "mov", "30/1", 0.5},
        {"late sound", "30", "", "mov", "30/1", 0, 0.5},
        {"gap in lens 1", "30", "", "mov", "30/1", 0, 0, true},
        {"gap in both", "30", "", "mov", "30/1", 0, 0, true, true},
        {"fragmented", "30", "-movflags frag_keyframe+empty_moov", "mp4", "30/1"},
        {"start past the end", "30", "", "mov", "", 0, 0, false, false, 2.6f},
        {"end before start", "30", "", "mov", "", 0, 0, false, false, 1.0f, 0.5f},
    };
    TempDir dir;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string name = std::to_string(&row - &rows[0]),
                          lens1 = lens(dir, name, row, row.gap1);
        ExportArgs a{lens1, row.gap1 == row.gap2 ? lens1 : lens(dir, name + "b", row, row.gap2),
                     dir.file("pano" + name + ".mov")};
        a.width = 720, a.height = 360;
        a.start1 = a.start2 = row.start, a.end1 = a.end2 = row.end;
        Recorder rec;
        run_export(a, &Recorder::callback);
        if (row.fps.empty()) {
            EXPECT_EQ(json_field(rec.final_record().document, "errnum"), "30001");
            EXPECT_FALSE(exists(a.out));
            continue;
        }
        ASSERT_EQ(rec.final_record().state, STATE_DONE) << rec.final_record().document;
        EXPECT_EQ(probe(a.out, "v", "stream=r_frame_rate"), row.fps);
        const double period = std::stod(row.fps.substr(row.fps.find('/') + 1)) / std::stod(row.fps);
        const double tolerance = period + 0.011;
        const auto shown = moments(a.out);
        EXPECT_NEAR(shown.size() * period, (row.end > 0 ? row.end + period : 2.5) - row.start,
                    period);
        for (size_t i = 0; i < shown.size(); ++i) {
            const double t = row.start + i * period;
            const double held = t > 1.2 && t < 1.7 + period / 2 ? 1.2 - period : t;
            EXPECT_NEAR(shown[i].first, row.gap1 ? held : t, tolerance) << "picture " << i;
            EXPECT_NEAR(shown[i].second, row.gap2 ? held : t, tolerance) << "picture " << i;
        }
        // A beep at scene time k plays at file time k + sound_delay; the picture then on screen
        // shows k + sound_delay - video_delay. A beep at the end of the sound may be cut away.
        const double end = shown.size() * period - 0.02;
        int heard = 0;
        for (int k = 0; k <= 2; ++k) {
            const double at = k + row.sound_delay - row.video_delay - row.start;
            heard += at > -0.02 && at < end;
        }
        for (const double at : beeps(a.out)) {
            if (at >= end) continue;
            --heard;
            const size_t frame =
                std::min(shown.size() - 1, static_cast<size_t>(at / period + 1e-6));
            const double k = shown[frame].first - row.sound_delay + row.video_delay;
            EXPECT_NEAR(k, std::round(k), tolerance) << "beep at " << at;
        }
        EXPECT_EQ(heard, 0) << "beeps missing (or too many)";
    }
    // A lens cut short fails the export in the same way as input 1 and as input 2; the audio
    // extraction writes the sound that decodes.
    const Row faststart{"", "30", "-movflags +faststart", "mp4", ""};
    const std::string whole = read_file(lens(dir, "whole", faststart, false));
    const std::string cut = dir.file("cut.mp4"), other = dir.file("0.mp4");
    write_file(cut, whole.substr(0, whole.size() * 6 / 10));
    std::string failures[2];
    for (int input = 0; input < 2; ++input) {
        Recorder rec;
        ExportArgs a{input ? other : cut, input ? cut : other, dir.file("cut.mov")};
        run_export(a, &Recorder::callback);
        EXPECT_EQ(rec.final_record().state, STATE_FAILED);
        failures[input] = json_field(rec.final_record().document, "api_errnum");
    }
    EXPECT_EQ(failures[0], failures[1]);
    Recorder rec;
    ORBV_get_audio(cut.c_str(), dir.file("cut.wav").c_str(), 0, nullptr, &Recorder::callback);
    EXPECT_EQ(rec.final_record().state, STATE_DONE);
    EXPECT_NEAR(std::stod(probe(dir.file("cut.wav"), "a", "stream=duration")), 1.45, 0.1);
}

}  // namespace
