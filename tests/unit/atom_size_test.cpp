// The panorama metadata's insertion into a movie: into FFmpeg's moov-first movies every chunk
// offset behind it moves and still finds its data; a 32-bit size or chunk offset never wraps past
// 4 GiB, and a fragmented movie is not touched: the insertion is refused with the file unchanged.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "metadata/mov_file.h"
#include "support/fixtures.h"
#include "support/test_support.h"

using namespace orbv_test;

TEST(AtomSize, ThirtyTwoBitSizesDoNotWrapPast4GiB) {
    TempDir dir;
    const std::string path = dir.file("small.mov");
    write_file(path,
               ByteWriter().u32(0xFFFFFF00).raw("moov").u32(1).raw("free").u64(0xFFFFFFFF00).str());
    testing::internal::CaptureStderr();
    {
        orbv::MovFile mov(path.c_str(), true);
        EXPECT_EQ(mov.grow_atom_size(0, 0x100), -1);
        EXPECT_EQ(mov.grow_atom_size(0, 0xFF), 0);
        EXPECT_EQ(mov.grow_atom_size(8, 0x100), 0);  // the 64-bit form grows further
    }
    const std::string grown = read_file(path);
    EXPECT_EQ(get_u32(grown, 0), 0xFFFFFFFFu);
    EXPECT_EQ(get_u64(grown, 16), 0x10000000000ULL);

    // A sparse movie whose 32-bit moov is 256 bytes short of 4 GiB: no room for the atom.
    const std::string big = dir.file("big.mov");
    const std::string trak = atom("trak", atom("tkhd", std::string(84, '\0')));
    const uint32_t size = 0xFFFFFF00;
    write_file(
        big,
        ByteWriter().u32(size).raw("moov").raw(trak).u32(size - 8 - trak.size()).raw("free").str());
    std::filesystem::resize_file(big, size);
    {
        orbv::MovFile mov(big.c_str(), true);
        EXPECT_EQ(mov.insert_spherical_xml(std::string(400, 'x').c_str()), -1);
    }
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::filesystem::file_size(big), size);
    std::ifstream in(big, std::ios::binary);
    std::string head(4, '\0');
    in.read(&head[0], 4);
    EXPECT_EQ(get_u32(head, 0), size) << "moov's size changed";

    // Moov-first movies whose chunk offset would pass 2^32, or whose fragments have offsets of
    // their own.
    const std::string stco = atom("stco", ByteWriter().u32(0).u32(1).u32(0xFFFFFFF0).str());
    const std::string tkhd = atom("tkhd", std::string(84, '\0'));
    testing::internal::CaptureStderr();
    for (const std::string& moov :
         {atom("moov", atom("trak", tkhd + atom("mdia", atom("minf", atom("stbl", stco))))),
          atom("moov", atom("trak", tkhd) + atom("mvex", ""))}) {
        write_file(path, moov + atom("mdat", "data"));
        {
            orbv::MovFile mov(path.c_str(), true);
            EXPECT_EQ(mov.insert_spherical_xml("<a/>"), -1);
        }
        EXPECT_EQ(read_file(path), moov + atom("mdat", "data"));
    }
    testing::internal::GetCapturedStderr();
}

// What ffmpeg decodes from every stream: a checksum per picture and per packet of samples.
std::string decoded(const std::string& path) {
    int status = -1;
    std::string out = run_command(
        "ffmpeg -v error -i " + shell_quote(path) + " -map 0 -f framemd5 - 2>&1", &status);
    EXPECT_EQ(status, 0) << out;
    return out;
}

TEST(AtomSize, MoovFirstMoviesDecodeTheSameAfterTheInsertion) {
    TempDir dir;
    const std::string video = "-f lavfi -i testsrc=size=96x64:rate=10 ";
    const std::string sound = "-f lavfi -i sine=sample_rate=48000 ";
    const struct {
        const char* name;
        std::string inputs;
        bool co64;
    } cases[] = {{"video.mp4", video, false},
                 {"sound.mp4", video + sound, false},
                 {"co64.mp4", video + sound, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(c.name);
        int status = -1;
        run_command("ffmpeg -v error " + c.inputs +
                        "-t 1 -c:v libx264 -c:a aac -movflags +faststart " + shell_quote(path),
                    &status);
        ASSERT_EQ(status, 0);
        const std::string before = decoded(path);
        if (c.co64) {  // the wider tables grow moov, and so move the media data behind it
            const std::string made = read_file(path);
            write_file(path, with_co64(made, with_co64(made, 0).size() - made.size()));
            ASSERT_NE(
                find_atom(read_file(path), {"moov", "trak", "mdia", "minf", "stbl", "co64"}).start,
                std::string::npos);
        }
        const std::string xml = "<x>" + std::string(400, 'v') + "</x>";
        testing::internal::CaptureStderr();
        {
            orbv::MovFile mov(path.c_str(), true);
            EXPECT_EQ(mov.insert_spherical_xml(xml.c_str()), 0);
            const char* text = nullptr;
            EXPECT_EQ(mov.xml_data(&text), 0);
            EXPECT_EQ(text ? std::string(text) : "", xml);
        }
        testing::internal::GetCapturedStderr();
        const std::string after = read_file(path);
        EXPECT_LT(find_atom(after, {"moov"}).start, find_atom(after, {"mdat"}).start);
        EXPECT_EQ(decoded(path), before);
    }
}
