// The path and file-system rules the front ends rely on.
#include "util/file_system.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <string>

#include "support/test_support.h"

using namespace orbv;
using orbv_test::TempDir;
using orbv_test::write_file;

namespace {

// Free bytes of the volume holding dir, asked independently of the code under test.
int64_t volume_free(const std::string& dir) {
    struct statvfs vfs;
    if (::statvfs(dir.c_str(), &vfs) != 0) return -1;
    return static_cast<int64_t>(vfs.f_bfree) * static_cast<int64_t>(vfs.f_frsize);
}

// Other processes write to the same volume meanwhile; a few MiB either way is the same answer.
constexpr int64_t kDrift = 256LL * 1024 * 1024;

// A sparse file of the given size: it claims the bytes without taking them from the volume.
void make_sparse(const std::string& path, int64_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, size), 0);
    ::close(fd);
}

}  // namespace

TEST(FileExists, NamesFilesAndDirectories) {
    TempDir dir;
    const std::string utf8 = dir.file("\xc3\xa9t\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac.mov");
    const std::string raw = dir.file("bad\xff\xfe.mov");  // not valid UTF-8
    write_file(utf8, "x");
    write_file(raw, "x");
    EXPECT_TRUE(file_exists(utf8.c_str()));
    EXPECT_TRUE(file_exists(raw.c_str()));
    EXPECT_TRUE(file_exists(dir.path().c_str()));
    EXPECT_FALSE(file_exists(dir.file("missing.mov").c_str()));
    EXPECT_FALSE(file_exists(""));
    EXPECT_FALSE(file_exists(nullptr));
}

TEST(FileSize, ReportsBytesAndKind) {
    TempDir dir;
    write_file(dir.file("five"), "12345");
    bool is_dir = true;
    EXPECT_EQ(file_size(dir.file("five").c_str(), &is_dir), 5);
    EXPECT_FALSE(is_dir);
    EXPECT_GE(file_size(dir.path().c_str(), &is_dir), 0);
    EXPECT_TRUE(is_dir);
    is_dir = true;
    EXPECT_EQ(file_size(dir.file("missing").c_str(), &is_dir), -1);
    EXPECT_TRUE(is_dir) << "left alone when the path cannot be examined";
    EXPECT_EQ(file_size(nullptr), -1);
    make_sparse(dir.file("big"), 6LL << 30);
    EXPECT_EQ(file_size(dir.file("big").c_str()), 6LL << 30);
}

TEST(DirectoryOf, KeepsTheTrailingSeparator) {
    EXPECT_EQ(directory_of("/work/out.mp4"), "/work/");
    EXPECT_EQ(directory_of("/work/a.b/clip"), "/work/a.b/");
    EXPECT_EQ(directory_of("rel/dir/"), "rel/dir/");
    EXPECT_EQ(directory_of("/top.mov"), "/");
    EXPECT_EQ(directory_of("out.mp4"), "");
    EXPECT_EQ(directory_of(""), "");
    EXPECT_EQ(directory_of(nullptr), "");
}

TEST(FileExtension, SearchesTheWholePathBackwards) {
    EXPECT_EQ(file_extension("/v/clip.JpG"), ".JpG");
    EXPECT_EQ(file_extension("/v/clip.tar.mov"), ".mov");
    EXPECT_EQ(file_extension("/v/a.b/clip"), ".b/clip");  // a dot in a directory counts
    EXPECT_EQ(file_extension("/v/clip"), "");
    EXPECT_EQ(file_extension("/v/clip."), ".");
    EXPECT_EQ(file_extension(nullptr), "");

    // 254 characters, dot included, still fit the callers' buffers; 255 match nothing.
    const std::string longest = "." + std::string(253, 'm');
    EXPECT_EQ(file_extension(("/v/clip" + longest).c_str()), longest);
    EXPECT_EQ(file_extension(("/v/clip" + longest + "m").c_str()), "");
}

TEST(MediaNames, MatchWholeExtensionsInAnyCase) {
    for (const char* name : {"a.jpg", "a.jpeg", "a.JPG", "a.JpG", "a.JPEG", "/x.mov/a.jpg"})
        EXPECT_TRUE(is_jpeg_name(file_extension(name))) << name;
    for (const char* name : {"a.mov", "a.mp4", "a.MOV", "a.Mov", "a.MP4", "CLIP.MOV"})
        EXPECT_TRUE(is_movie_name(file_extension(name))) << name;
    for (const char* name : {"a.jpe", "a.jpeg2", "a.JPG ", "a.png", "a", "jpg", "a.mov/clip",
                             "a.mpeg", "a.m4v", "a.mp", "a.mov.bak"}) {
        EXPECT_FALSE(is_jpeg_name(file_extension(name))) << name;
        EXPECT_FALSE(is_movie_name(file_extension(name))) << name;
    }
    EXPECT_FALSE(is_jpeg_name("jpg"));  // the dot belongs to the extension
    EXPECT_FALSE(is_movie_name(""));
    // An over-long extension that starts like a movie's is no movie.
    EXPECT_FALSE(is_movie_name(file_extension(("a.mov" + std::string(300, ' ')).c_str())));
}

TEST(FreeSpaceRule, IsStrictlyMoreThan50MiB) {
    EXPECT_FALSE(enough_room(52428800));
    EXPECT_TRUE(enough_room(52428801));
    EXPECT_FALSE(enough_room(-1));
    // 60 MiB free and two 5 MiB inputs leave exactly 50 MiB: not enough.
    const int64_t mib = 1048576;
    EXPECT_FALSE(enough_room(60 * mib - 5 * mib, 5 * mib));
    EXPECT_TRUE(enough_room(60 * mib - 5 * mib + 1, 5 * mib));
}

// The measured volume of a directory, a file and a new name is checked through ORBV_freesize.
TEST(FreeDiskSpace, BareNamesAreMeasuredInTheCurrentDirectory) {
    TempDir dir;
    char previous[4096];
    ASSERT_NE(::getcwd(previous, sizeof(previous)), nullptr);
    ASSERT_EQ(::chdir("/proc"), 0);
    const int64_t in_proc = free_disk_space("no-such-output.mp4");
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    const int64_t in_tmp = free_disk_space("no-such-output.mp4");
    ASSERT_EQ(::chdir(previous), 0);
    EXPECT_EQ(in_proc, 0);
    EXPECT_NEAR(in_tmp, volume_free(dir.path()), kDrift);
}

TEST(IsWritable, TestsTheFileOrTheDirectoryThatWouldReceiveIt) {
    TempDir dir;
    write_file(dir.file("old.mov"), "x");
    EXPECT_TRUE(is_writable(dir.file("old.mov").c_str()));
    EXPECT_TRUE(is_writable(dir.file("new.mov").c_str()));
    EXPECT_TRUE(is_writable(dir.path().c_str()));
    EXPECT_FALSE(is_writable(dir.file("missing/new.mov").c_str()));
    EXPECT_FALSE(is_writable(nullptr));
}

TEST(IsWritable, RefusesReadOnlyPlaces) {
    const std::string dir = orbv_test::unwritable_directory();
    const std::string file = orbv_test::unwritable_file();
    if (dir.empty() && file.empty()) GTEST_SKIP() << "no read-only directory or file here";
    if (!dir.empty()) {
        EXPECT_FALSE(is_writable((dir + "/new.jpg").c_str())) << dir;
    }
    if (!file.empty()) {
        EXPECT_FALSE(is_writable(file.c_str())) << file;
    }
}

TEST(IsWritable, AnExistingFileIsTestedItselfNotItsDirectory) {
    // A process may write its own name in /proc/self/comm, where no file can be created.
    const char* file = "/proc/self/comm";
    if (::access(file, W_OK) != 0 || ::access("/proc/self", W_OK) == 0)
        GTEST_SKIP() << "no writable file in a read-only directory here";
    EXPECT_TRUE(is_writable(file));
}

TEST(RemoveFile, DeletesFilesOnly) {
    TempDir dir;
    write_file(dir.file("out.mov"), "x");
    remove_file(dir.file("out.mov").c_str());
    EXPECT_FALSE(file_exists(dir.file("out.mov").c_str()));
    remove_file(dir.file("out.mov").c_str());  // already gone: nothing to report
    remove_file(nullptr);
    // A directory that carries the output's name survives.
    ASSERT_EQ(::mkdir(dir.file("out.jpg").c_str(), 0755), 0);
    remove_file(dir.file("out.jpg").c_str());
    EXPECT_TRUE(file_exists(dir.file("out.jpg").c_str()));
}

TEST(ExportSpaceCheck, CountsBothInputsAgainstTheExportVolume) {
    TempDir dir;
    const std::string out = dir.file("out.mov");
    write_file(dir.file("small1.mov"), "x");
    write_file(dir.file("small2.mov"), "x");
    const int64_t free_bytes = volume_free(dir.path());
    ASSERT_GT(free_bytes, MIN_FREE_BYTES + 2 * kDrift) << "the test volume is nearly full";

    EXPECT_EQ(export_space_check(dir.file("small1.mov").c_str(), dir.file("small2.mov").c_str(),
                                 out.c_str()),
              0);
    EXPECT_EQ(export_space_check(nullptr, nullptr, out.c_str()), 0);

    // An input larger than the free space (sparse, so it takes none of it) leaves no room,
    // whichever input it is.
    make_sparse(dir.file("large.mov"), 2 * free_bytes);
    EXPECT_EQ(export_space_check(dir.file("large.mov").c_str(), dir.file("small2.mov").c_str(),
                                 out.c_str()),
              -1);
    EXPECT_EQ(export_space_check(nullptr, dir.file("large.mov").c_str(), out.c_str()), -1);
    // Two inputs of a third of the free space each leave enough.
    make_sparse(dir.file("third1.mov"), free_bytes / 3);
    make_sparse(dir.file("third2.mov"), free_bytes / 3);
    EXPECT_EQ(export_space_check(dir.file("third1.mov").c_str(), dir.file("third2.mov").c_str(),
                                 out.c_str()),
              0);
    // An export volume that cannot be measured has no room.
    EXPECT_EQ(export_space_check(nullptr, nullptr, dir.file("missing/out.mov").c_str()), -1);
}
