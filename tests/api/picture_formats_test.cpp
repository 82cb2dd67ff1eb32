// Lens files in the picture formats cameras and tools write, made from the rendered scene with the
// ffmpeg program (ImageMagick for grey and CMYK JPEGs): each panorama shows the scene in luma and
// chroma away from the seam, in its output's range (movies limited and unmarked, JPEG full), and
// a still keeps its lenses' JPEG quality.
#include <gtest/gtest.h>

#include "support/export_call.h"
#include "support/fixtures.h"
#include "support/test_support.h"

namespace {

using namespace orbv_test;

std::string filled(std::string text, const std::string& key, const std::string& value) {
    for (size_t at; (at = text.find(key)) != std::string::npos;)
        text.replace(at, key.size(), value);
    return text;
}

TEST(PictureFormats, EachShowsTheSceneInTheRangeOfItsOutput) {
    // {in}: the scene's two frames, {out}: the lens file without its extension.
    const std::string jpeg = "ffmpeg {in} -frames:v 1 ", movie = "ffmpeg {in} -c:v ";
    const struct {
        std::string name, make;
        bool grey = false;
    } formats[] = {
        {"hevc10", movie + "libx265 -crf 16 -pix_fmt yuv420p10le -x265-params log-level=none "},
        {"h264_444", movie + "libx264 -pix_fmt yuv444p "},
        {"h264_full", movie + "libx264 -vf scale=out_range=pc -pix_fmt yuvj420p "},
        {"jpeg_444", jpeg + "-pix_fmt yuvj444p {out}.jpg"},
        {"jpeg_grey", jpeg + "-pix_fmt gray {out}.pgm && /usr/bin/convert {out}.pgm {out}.jpg", 1},
        {"jpeg_cmyk", jpeg + "{out}.ppm && /usr/bin/convert {out}.ppm -colorspace CMYK {out}.jpg"},
    };
    TempDir dir;
    const orbv_sample::LensRenderer renderer(1440);
    for (int lens = 1; lens <= 2; ++lens) {
        std::string raw;
        for (const orbv_sample::Picture& p : {renderer.render(lens, 0), renderer.render(lens, 1)}) {
            raw.append(p.y.begin(), p.y.end()).append(p.u.begin(), p.u.end());
            raw.append(p.v.begin(), p.v.end());
        }
        write_file(dir.file("scene" + std::to_string(lens)), raw);
    }
    for (const auto& f : formats) {
        SCOPED_TRACE(f.name);
        const bool still = f.make.back() == 'g';  // the scene read as full range for a JPEG
        const std::string extension = still ? ".jpg" : ".mov",
                          make = f.make + (still ? "" : "{out}.mov");
        ExportArgs a{dir.file(f.name + "1" + extension), dir.file(f.name + "2" + extension),
                     dir.file(f.name + "_pano" + extension)};
        a.width = 720, a.height = 360;
        for (const std::string lens : {"1", "2"}) {
            const std::string in =
                "-v error -f rawvideo -pix_fmt " + std::string(still ? "yuvj420p" : "yuv420p") +
                " -s 1440x1440 -r 30000/1001 -i " + shell_quote(dir.file("scene" + lens));
            int status = -1;
            run_command(
                filled(filled(make, "{in}", in), "{out}", shell_quote(dir.file(f.name + lens))),
                &status);
            ASSERT_EQ(status, 0);
        }
        Recorder rec;
        run_export(a, &Recorder::callback);
        ASSERT_EQ(rec.final_record().state, STATE_DONE) << rec.final_record().document;
        EXPECT_EQ(probe(a.out, "v", "stream=color_range"), still ? "pc" : "unknown");
        const std::vector<orbv_sample::Picture> pictures = decode(a.out);
        ASSERT_FALSE(pictures.empty());
        for (int plane = 0; plane < 3; ++plane) {
            EXPECT_GE(scene_psnr(pictures[0], 0, plane, f.grey), 30.0) << "plane " << plane;
        }
        if (still) {
            EXPECT_GE(std::stoi(run_command("identify -format %Q " + shell_quote(a.out))), 90);
        }
    }
}

}  // namespace
