// The sample-shot maker writes what the camera writes: its lens model agrees with the
// stitcher's projection, its metadata has the camera's layout, and its files have the
// camera's streams.
#include "sample_shot.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <string>

#include "support/command.h"
#include "support/test_support.h"

using orbv_sample::Direction;
using orbv_test::probe;
using orbv_test::run_command;
using orbv_test::shell_quote;

namespace {

constexpr double kPi = 3.14159265358979323846;

uint32_t be32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
uint16_t be16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

// A minimal reader of the layout: the entries of the directory at `offset` of the block.
struct Tag {
    uint16_t type;
    uint32_t count;
    const uint8_t* field;
};
std::map<uint16_t, Tag> directory(const std::vector<uint8_t>& block, uint32_t offset) {
    std::map<uint16_t, Tag> tags;
    const int n = be16(&block.at(offset));
    for (int i = 0; i < n; ++i) {
        const uint8_t* e = &block.at(offset + 2 + 12 * i + 11) - 11;
        tags[be16(e)] = Tag{be16(e + 2), be32(e + 4), e + 8};
    }
    return tags;
}
std::string text(const std::vector<uint8_t>& block, const Tag& t) {
    const uint8_t* p = t.count > 4 ? &block.at(be32(t.field)) : t.field;
    return std::string(reinterpret_cast<const char*>(p), t.count - 1);
}

}  // namespace

TEST(LensModel, AgreesWithTheStitchersProjection) {
    // Output pixels of an 8 x 4 panorama over 1440 lens pictures and where the stitcher
    // samples them: direction (j, i) -> (x, y), lens 2 without its 1440-row offset.
    struct Case {
        int j, i;
        int lens;
        double x, y;
    };
    for (const Case& c :
         {Case{0, 1, 1, 720, 382.5}, Case{4, 1, 1, 720, 1057.5}, Case{2, 1, 1, 382.5, 720},
          Case{6, 1, 1, 1057.5, 720}, Case{4, 3, 2, 720, 2497.5 - 1440}}) {
        const Direction d{c.j * 2 * kPi / 8 - kPi, c.i * kPi / 4};
        double x, y;
        orbv_sample::direction_to_lens(c.lens, 1440, d, &x, &y);
        EXPECT_NEAR(x, c.x, 1e-9) << c.j << "," << c.i;
        EXPECT_NEAR(y, c.y, 1e-9) << c.j << "," << c.i;
        Direction back;
        EXPECT_TRUE(orbv_sample::lens_to_direction(c.lens, 1440, x, y, &back));
        EXPECT_NEAR(back.polar, d.polar, 1e-9);
        EXPECT_NEAR(std::remainder(back.lon - d.lon, 2 * kPi), 0, 1e-9);
    }
    EXPECT_EQ(orbv_sample::lens_radius(1936), 907.0);
    EXPECT_EQ(orbv_sample::lens_radius(3888), 1821.0);
    Direction d;
    EXPECT_FALSE(orbv_sample::lens_to_direction(1, 1440, 0, 0, &d)) << "corner: outside";
}

TEST(LensModel, PicturesShowTheSceneAndTheirFrameNumber) {
    orbv_sample::LensRenderer renderer(400);
    const orbv_sample::Picture a = renderer.render(1, 3);
    const orbv_sample::Picture b = renderer.render(1, 4);
    EXPECT_EQ(orbv_sample::read_frame_code(a.y.data(), a.width, a.width, a.height), 3);
    EXPECT_EQ(orbv_sample::read_frame_code(b.y.data(), b.width, b.width, b.height), 4);
    EXPECT_NE(a.y, b.y) << "frames differ";
    // Every lens pixel shows the scene in the direction the lens model gives it.
    int checked = 0;
    for (int lens = 1; lens <= 2; ++lens) {
        const orbv_sample::Picture p = renderer.render(lens, 7);
        for (int row = 60; row < 400; row += 37) {
            for (int x = 60; x < 400; x += 41) {
                Direction dir;
                if (!orbv_sample::lens_to_direction(lens, 400, x, row, &dir)) continue;
                uint8_t Y, U, V;
                orbv_sample::scene_color(dir, 7, &Y, &U, &V);
                EXPECT_EQ(p.luma(x, row), Y) << lens << " " << x << "," << row;
                ++checked;
            }
        }
    }
    EXPECT_GT(checked, 100);
}

TEST(CameraMetadata, ExifAndOrvmBlocksHaveTheCamerasLayout) {
    orbv_sample::CameraInfo camera;
    camera.capture_mode = 134;
    camera.multi_capture = 4000000000u;
    camera.camera_orientation = 200;
    camera.exif_orientation = 6;
    for (bool orvm : {false, true}) {
        SCOPED_TRACE(orvm ? "ORVM" : "TIFF");
        const std::vector<uint8_t> b =
            orvm ? orbv_sample::orvm_block(camera) : orbv_sample::exif_tiff_block(camera);
        const uint32_t first = orvm ? be32(&b[6]) : be32(&b[4]);
        EXPECT_EQ(std::string(b.begin(), b.begin() + 4), orvm ? "ORVM" : std::string("MM\0*", 4));
        auto ifd0 = directory(b, first);
        EXPECT_EQ(text(b, ifd0.at(0x010F)), "ORVAX COMPUTER");
        EXPECT_EQ(text(b, ifd0.at(0x0110)), "ZK-TR500");
        EXPECT_EQ(ifd0.at(0x0112).type, 3);
        EXPECT_EQ(be16(ifd0.at(0x0112).field), 6);
        auto exif = directory(b, be32(ifd0.at(0x8769).field));
        EXPECT_EQ(text(b, exif.at(0x9003)), "2024:05:17 10:30:00");
        const Tag note = exif.at(0x927C);
        EXPECT_EQ(note.type, 7);
        const uint32_t at = be32(note.field);
        EXPECT_EQ(std::memcmp(&b.at(at), "ORX\0", 4), 0);
        EXPECT_EQ(at + note.count, b.size());
        auto maker = directory(b, at + 6);
        EXPECT_EQ(maker.at(0x3000).type, 3);
        EXPECT_EQ(be16(maker.at(0x3000).field), 134);
        EXPECT_EQ(maker.at(0x6300).type, 4);
        EXPECT_EQ(be32(maker.at(0x6300).field), 4000000000u);
        EXPECT_EQ(maker.at(0x6301).type, 1);
        EXPECT_EQ(maker.at(0x6301).field[0], 200);
    }
}

TEST(SampleShot, MoviesHaveTheCamerasStreamsAndAtom) {
    orbv_test::TempDir dir;
    orbv_sample::ShotOptions o;
    o.lens_width = 320;
    o.frames = 6;
    o.b_frames = true;
    o.preset = "veryfast";
    o.sound = orbv_sample::Sound::Aac;
    o.channels = 1;
    const orbv_sample::Shot shot = orbv_sample::make_shot(dir.path(), o);
    for (const std::string& path : {shot.lens1, shot.lens2}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(probe(path, "v", "stream=codec_name"), "h264");
        EXPECT_EQ(probe(path, "v", "stream=time_base"), "1/30000");
        EXPECT_EQ(probe(path, "v", "stream=nb_frames"), "6");
        EXPECT_EQ(probe(path, "v", "stream=duration_ts"), "6006");
        EXPECT_NE(probe(path, "v", "stream=has_b_frames"), "0");
        EXPECT_EQ(probe(path, "a", "stream=codec_name"), "aac");
        EXPECT_EQ(probe(path, "a", "stream=channels"), "1");
        // moov/udta/ORVM, holding the maker block.
        const std::string bytes = orbv_test::read_file(path);
        const size_t moov = bytes.find("moov");
        const size_t udta = bytes.find("udta", moov);
        const size_t orvm = bytes.find("ORVMORVM", udta);
        ASSERT_NE(orvm, std::string::npos);
        EXPECT_LT(orvm, moov - 4 + be32(reinterpret_cast<const uint8_t*>(&bytes[moov - 4])));
        EXPECT_LT(orvm, udta - 4 + be32(reinterpret_cast<const uint8_t*>(&bytes[udta - 4])));
    }
    o.stills = true;
    o.name = "still";
    o.camera.exif_orientation = 3;
    const orbv_sample::Shot stills = orbv_sample::make_shot(dir.path(), o);
    const std::string tags = run_command(
        "exiftool -s -s -s -Make -Model -Orientation# "
        "-DateTimeOriginal -ImageWidth " +
        shell_quote(stills.lens2));
    EXPECT_EQ(tags, "ORVAX COMPUTER\nZK-TR500\n3\n2024:05:17 10:30:00\n320\n");
}
