// Growing a movie's atoms for the panorama metadata never wraps a 32-bit size past 4 GiB: the
// insertion is refused with the file unchanged instead.
#include <gtest/gtest.h>
#include <unistd.h>

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
    ASSERT_EQ(::truncate(big.c_str(), size), 0);
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
}
