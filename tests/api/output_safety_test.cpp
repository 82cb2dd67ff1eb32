// What a call does to the file it writes: an earlier file replaced only by a complete output, and
// only a regular one; only the kind of file the job makes; documents that stay JSON. Inputs named
// as outputs and earlier files at output names are checked with the front ends' failures, version-1
// track headers with the readers.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "orbv.h"
#include "support/export_call.h"
#include "support/fixtures.h"
#include "support/test_support.h"

// FFmpeg's stream allocation, made to fail on request: the one way to its fixed message.
namespace {
bool g_refuse_streams = false;
}
extern "C" void* avformat_new_stream(void* context, const void* codec) {
    using Fn = void* (*)(void*, const void*);
    static const Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "avformat_new_stream"));
    return g_refuse_streams ? nullptr : real(context, codec);
}

namespace {

using namespace orbv_test;

// Silent lens movies and stills, and a 64 x 64 movie with 1.5 s of PCM.
const orbv_sample::Shot& movies() {
    return shot("movie", 2, false, [](auto& o) { o.sound = orbv_sample::Sound::None; });
}
const orbv_sample::Shot& stills() { return shot("still", 1, true); }
std::string sound() {
    return shot("sound", 3, false, [](auto& o) { o.lens_width = 64, o.sound_seconds = 1.5; }).lens1;
}

// A file, a link or a node of any kind at the path.
bool present(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

// The final document of a call of one family (as call_family takes it).
CallbackRecord call(char family, ExportArgs a, ProgressCallback callback = Recorder::callback) {
    Recorder rec;
    a.width = 256, a.height = 128;
    call_family(family, a, callback);
    return rec.final_record();
}

// While the job runs the host puts a node of another kind at the output's name, which the
// finished output must not replace.
std::string g_swap_path;
mode_t g_swap_kind = 0;
bool g_swapped = false;
void swapping_callback(int32_t state, const char* json) {
    Recorder::callback(state, json);
    if (state == STATE_START)
        g_swapped = g_swap_kind == S_IFDIR
                        ? ::mkdir(g_swap_path.c_str(), 0700) == 0
                        : ::mknod(g_swap_path.c_str(), g_swap_kind | 0600, makedev(1, 3)) == 0;
}

TEST(OutputSafety, OnlyRegularFilesAreReplaced) {
    TempDir out;
    for (const mode_t kind : {S_IFIFO, S_IFSOCK, S_IFCHR, S_IFDIR}) {
        g_swap_path = out.file("out" + std::to_string(kind) + ".wav");
        g_swap_kind = kind;
        g_swapped = false;
        const CallbackRecord r = call('2', {sound(), "", g_swap_path}, swapping_callback);
        if (!g_swapped) {
            EXPECT_EQ(kind, S_IFCHR) << "only a device node needs the right to make it";
            continue;
        }
        EXPECT_EQ(json_field(r.document, "errnum"), "20003") << kind;
        struct stat st;
        EXPECT_TRUE(::lstat(g_swap_path.c_str(), &st) == 0 && (st.st_mode & S_IFMT) == kind)
            << kind;
        // Found there before the call, it is refused before any work.
        EXPECT_EQ(json_field(call('2', {sound(), "", g_swap_path}).document, "errnum"), "20003");
        EXPECT_EQ(listing(out.path()).size(), 1u);
        ::rmdir(g_swap_path.c_str()), ::unlink(g_swap_path.c_str());
    }
}

// The file that has the output's name (0604, or a link to sub/<name>) is replaced, in one step,
// only by a complete output, with its permission bits; whatever the outcome, the unfinished
// file is gone.
TEST(OutputSafety, AnEarlierFileIsReplacedOnlyByACompleteOutput) {
    TempDir dir;
    const std::string cancel = dir.file("cancel"), sub = dir.file("sub");
    write_file(cancel, "");
    ::mkdir(sub.c_str(), 0700);
    const std::string lens = movies().lens2, whole = dir.file("whole.mov");
    run_command("ffmpeg -v error -i " + lens + " -c copy -movflags +faststart " + whole);
    const std::string bytes = read_file(whole), damaged = dir.file("damaged.mov");
    write_file(damaged, bytes.substr(0, find_atom(bytes, {"mdat"}).start + 8));  // no picture
    const mode_t mask = ::umask(0), fresh = 0666 & ~mask;
    ::umask(mask);
    // Enough pictures to reach a progress report, where the cancel file is seen.
    const orbv_sample::Shot& ten =
        shot("ten", 10, false, [](auto& o) { o.sound = orbv_sample::Sound::None; });
    enum Earlier { kNone, kFile, kLink };
    const struct {
        char family;
        std::string in1, in2, name;
        Earlier earlier;
        int32_t state;
        bool cancelled;
        uint32_t write_flag;
    } rows[] = {
        {'3', ten.lens1, ten.lens2, "cancelled.mov", kFile, STATE_CANCELED, true, 1},
        {'3', movies().lens1, damaged, "damaged.mp4", kFile, STATE_FAILED, false, 1},
        {'2', sound(), "", "cancelled.wav", kFile, STATE_CANCELED, true, 1},
        {'1', damaged, "", "undecodable.jpg", kFile, STATE_FAILED, false, 1},
        {'1', whole, "", "not_asked.jpg", kFile, STATE_DONE, false, 0},  // no target
        {'3', stills().lens1, stills().lens2, "done.jpg", kFile, STATE_DONE, false, 1},
        {'3', stills().lens1, stills().lens2, "new.jpg", kNone, STATE_DONE, false, 1},
        {'2', sound(), "", "linked.wav", kLink, STATE_DONE, false, 1},
        {'2', sound(), "", "linked_cancelled.wav", kLink, STATE_CANCELED, true, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = dir.file(row.name);
        const std::string target = row.earlier == kLink ? sub + "/" + row.name : path;
        if (row.earlier != kNone) write_file(target, "earlier"), ::chmod(target.c_str(), 0604);
        if (row.earlier == kLink) ::symlink(("sub/" + row.name).c_str(), path.c_str());
        // A host that reads the earlier file meanwhile goes on reading it, whatever the outcome.
        const int reader = ::open(target.c_str(), O_RDONLY);
        ExportArgs a{row.in1, row.in2, path};
        a.cancel = row.cancelled ? cancel : kNull;
        a.width = 256, a.height = 128;
        Recorder rec;
        if (row.family == '1')
            ORBV_analyze_image(row.in1.c_str(), path.c_str(), 32, row.write_flag, rec.callback);
        else
            call_family(row.family, a, rec.callback);
        EXPECT_EQ(rec.final_record().state, row.state) << rec.final_record().document;
        // The documents name the host's output, never the unfinished file.
        const std::string& document = rec.final_record().document;
        if (row.family != '1' || row.state == STATE_DONE) {
            EXPECT_NE(document.find("\"" + escaped(path) + "\""), std::string::npos);
        }
        char held[8] = {};
        EXPECT_EQ(std::string(held, std::max<ssize_t>(0, ::pread(reader, held, 8, 0))),
                  row.earlier != kNone ? "earlier" : "");
        ::close(reader);
        const bool replaced = row.state == STATE_DONE && row.write_flag != 0;
        EXPECT_EQ(read_file(target) == "earlier", !replaced && row.earlier != kNone);
        struct stat st;
        EXPECT_TRUE(::lstat(path.c_str(), &st) == 0 &&
                    S_ISLNK(st.st_mode) == (row.earlier == kLink));
        EXPECT_EQ(::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0,
                  row.earlier == kNone ? fresh : 0604u);
        EXPECT_EQ(listing(dir.path()).size(), 5u);  // the output, cancel, damaged, sub, whole
        EXPECT_EQ(listing(sub).size(), row.earlier == kLink ? 1u : 0u);
        std::remove(target.c_str()), std::remove(path.c_str());
    }
}

TEST(OutputSafety, OutputNameMustFitTheJob) {
    TempDir out;
    const orbv_sample::Shot mixed{stills().lens1, movies().lens2};
    const char *const mov = ".mov or .mp4", *const jpg = ".jpg or .jpeg";
    const struct {
        const orbv_sample::Shot& pair;
        const char* name;
        const char* refusal;  // what the refusal names; null: accepted
    } cases[] = {
        {movies(), "m.jpg", mov},     {movies(), "m.avi", mov},      {movies(), "m.MOV", nullptr},
        {movies(), "m.mp4", nullptr}, {mixed, "x.jpeg", mov},        {stills(), "s.mov", jpg},
        {stills(), "s.png", jpg},     {stills(), "s.JPEG", nullptr},
    };
    for (const auto& c : cases) {
        const std::string path = out.file(c.name);
        const CallbackRecord r = call('3', {c.pair.lens1, c.pair.lens2, path});
        if (c.refusal != nullptr) {
            EXPECT_EQ(json_field(r.document, "errnum"), "30003") << c.name;
            EXPECT_NE(json_field(r.document, "api_errstr").find(c.refusal), std::string::npos)
                << c.name << ": " << r.document;
            EXPECT_FALSE(present(path)) << c.name;
        } else {
            ASSERT_EQ(r.state, STATE_DONE) << c.name << ": " << r.document;
            EXPECT_EQ(json_field(call('1', {path, "", kNull}).document, "isTarget"), "true");
        }
    }
}

TEST(OutputSafety, DocumentsStayJsonWhateverTheirTexts) {
    TempDir out;
    const std::string odd = out.file("tab\there\nline\r.mov");
    for (const CallbackRecord& r : {call('1', {odd, "", kNull}), call('2', {odd, "", odd + ".wav"}),
                                    call('3', {movies().lens1, odd, odd})}) {
        EXPECT_TRUE(flat_json(r.document)) << r.document;
        EXPECT_NE(r.document.find("tab\\there\\nline\\r.mov"), std::string::npos) << r.document;
    }
    g_refuse_streams = true;
    const CallbackRecord r = call('1', {stills().lens1, "", out.file("thumb.jpg")});
    g_refuse_streams = false;
    EXPECT_TRUE(flat_json(r.document)) << r.document;
    EXPECT_EQ(json_field(r.document, "api_errstr"), "Could not allocate stream\\n");
}

}  // namespace
