// What a call does to the file it writes: no removal but of regular files, only the kind of file
// the job makes; documents that stay JSON. Inputs named as outputs and earlier files at output
// names are checked with the front ends' failures, version-1 track headers with the readers.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

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

// The host swaps the output the call created for a node of another kind, and the call,
// cancelled, must leave that in place.
std::string g_swap_path;
mode_t g_swap_kind = 0;
bool g_swapped = false;
void swapping_callback(int32_t state, const char* json) {
    Recorder::callback(state, json);
    if (state == STATE_START && ::unlink(g_swap_path.c_str()) == 0)
        g_swapped = g_swap_kind == S_IFDIR
                        ? ::mkdir(g_swap_path.c_str(), 0700) == 0
                        : ::mknod(g_swap_path.c_str(), g_swap_kind | 0600, makedev(1, 3)) == 0;
}

TEST(OutputSafety, OnlyRegularFilesAreRemoved) {
    TempDir out;
    const std::string cancel = out.file("cancel");
    write_file(cancel, "");
    for (const mode_t kind : {S_IFIFO, S_IFSOCK, S_IFCHR, S_IFDIR}) {
        g_swap_path = out.file("out" + std::to_string(kind) + ".wav");
        g_swap_kind = kind;
        g_swapped = false;
        ExportArgs a{sound(), "", g_swap_path};
        a.cancel = cancel;
        EXPECT_EQ(call('2', a, swapping_callback).state, STATE_CANCELED);
        if (!g_swapped) {
            EXPECT_EQ(kind, S_IFCHR) << "only a device node needs the right to make it";
            continue;
        }
        struct stat st;
        EXPECT_TRUE(::lstat(g_swap_path.c_str(), &st) == 0 && (st.st_mode & S_IFMT) == kind)
            << kind;
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
