// Faults in the middle of the work, seen by a host: a write failing or the disk full while an
// export, an audio extraction or a thumbnail is written, and the host cancelling at the first, a
// middle and the last progress point. Each call ends with its failure document, leaves no
// partial output behind and the file that had the output's name as it was.
//
// The failing writes come from `write` and `pwrite` defined in this program: the dynamic linker
// finds them before the C library's, for FFmpeg's file protocol and the library's metadata writer
// alike. They fail with a chosen errno (ENOSPC: the disk is full) once a chosen number of bytes has
// reached the chosen file. `sws_scale` defined here likewise fails with that errno when asked.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

extern "C" {
#include <libswscale/swscale.h>
}

#include "support/export_call.h"
#include "support/fixtures.h"
#include "support/test_support.h"

namespace {

// The output whose writes may fail (the call's unfinished file beside it, named after it, as
// /proc/self/fd names it), the bytes write() and pwrite() may put into it before they fail (-1:
// no limit), what they have put so far, and the errno.
struct WriteFault {
    std::string target;
    int64_t budget[2] = {-1, -1};
    int64_t done[2] = {0, 0};
    int error = ENOSPC;
    bool scale = false;  // sws_scale fails
} g_fault;

template <class Real, class... Offset>
ssize_t limited(Real real, int kind, int fd, const void* data, size_t n, Offset... offset) {
    char link[64], path[PATH_MAX];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t length = g_fault.target.empty() ? -1 : ::readlink(link, path, sizeof path);
    if (length <= 0 ||
        std::string(path, length).rfind(g_fault.target + ".orbv-unfinished-", 0) != 0) {
        return real(fd, data, n, offset...);
    }
    const int64_t budget = g_fault.budget[kind], left = budget - g_fault.done[kind];
    if (budget >= 0 && n > 0 && left <= 0) return errno = g_fault.error, -1;
    if (budget >= 0) n = std::min<int64_t>(left, n);
    const ssize_t put = real(fd, data, n, offset...);
    if (put > 0) g_fault.done[kind] += put;
    return put;
}

template <class Fn>
Fn real(const char* name) {
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {
ssize_t write(int fd, const void* data, size_t n) {
    static const auto fn = real<ssize_t (*)(int, const void*, size_t)>("write");
    return limited(fn, 0, fd, data, n);
}
ssize_t pwrite(int fd, const void* data, size_t n, off_t offset) {
    static const auto fn = real<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
    return limited(fn, 1, fd, data, n, offset);
}
ssize_t pwrite64(int fd, const void* data, size_t n, off64_t offset) {
    static const auto fn = real<ssize_t (*)(int, const void*, size_t, off64_t)>("pwrite64");
    return limited(fn, 1, fd, data, n, offset);
}
int sws_scale(SwsContext* c, const uint8_t* const src[], const int src_stride[], int y, int h,
              uint8_t* const dst[], const int dst_stride[]) {
    static const auto fn = real<decltype(&sws_scale)>("sws_scale");
    return g_fault.scale ? AVERROR(g_fault.error) : fn(c, src, src_stride, y, h, dst, dst_stride);
}
}

namespace {

using namespace orbv_test;

constexpr int32_t kNote = 100;  // a record the child sends about itself, not a document
constexpr int kFrames = 30;     // progress points at 10, 20 and 30

// One kind of work (a call family with its arguments) and what its failures say.
struct Work {
    char family;
    ExportArgs args;
    std::string code, errstr;
};

std::vector<Work> works(const std::string& dir) {
    const orbv_sample::Shot& m = shot("movie", kFrames);
    const orbv_sample::Shot& s = shot("still", 1, true);
    // The MP4 is written twice: its trailer moves the media data behind the index.
    return {{'3', {m.lens1, m.lens2, dir + "/pano.mov"}, "39999", "Could not write video"},
            {'3', {m.lens1, m.lens2, dir + "/pano.mp4"}, "39999", "Could not write video"},
            {'3', {s.lens1, s.lens2, dir + "/pano.jpg"}, "39999", "Could not write video"},
            {'2', {m.lens1, "", dir + "/sound.wav"}, "29999", "Colud Not Write Audio!!"},
            {'1', {m.lens1, "", dir + "/thumb.jpg"}, "19999", "Could Not Write Thumbnail"}};
}

// A point where the work is made to fail: writes to its output failing with `error` once the budget
// of bytes is spent (-1: no limit), or the host creating the cancel file at a progress point.
struct Fault {
    int64_t write = -1, pwrite = -1;
    int error = 0, cancel_at = -1;
    bool scale = false;
};

// The documents of the work made in a child with a fault, its notes apart: it must end cleanly with
// exactly one final document, the last one, all of them well-formed. After the work the child notes
// the bytes each kind of write put into the output.
struct Documents {
    CallbackRecord final{-1, ""};
    std::vector<std::string> notes;
    std::vector<int> progress;  // frame_count of every progress document
};

Documents in_child(const std::function<void()>& body) {
    const IsolatedOutcome o = IsolatedCall::run(body);
    EXPECT_TRUE(o.clean()) << o.describe();
    Documents d;
    for (const CallbackRecord& r : o.records) {
        if (r.state == kNote) {
            d.notes.push_back(r.document);
            continue;
        }
        EXPECT_TRUE(flat_json(r.document)) << r.document;
        EXPECT_EQ(d.final.state, -1) << "a document after the final one: " << o.describe();
        if (r.state >= STATE_DONE) d.final = r;
        if (r.state == STATE_PROGRESS)
            d.progress.push_back(std::stoi(json_field(r.document, "frame_count")));
    }
    EXPECT_GE(d.final.state, STATE_DONE) << o.describe();
    return d;
}

std::string g_cancel_file;
int g_cancel_at = -1;
void cancelling(int32_t state, const char* json) {
    IsolatedCall::callback(state, json);
    if (state == STATE_PROGRESS && json_field(json, "frame_count") == std::to_string(g_cancel_at))
        write_file(g_cancel_file, "cancel");
}

Documents with_fault(const Work& w, const Fault& f) {
    char dir[PATH_MAX];
    EXPECT_NE(::realpath(w.args.out.substr(0, w.args.out.rfind('/')).c_str(), dir), nullptr);
    const std::string target = dir + w.args.out.substr(w.args.out.rfind('/'));
    return in_child([&] {
        g_fault = WriteFault{target, {f.write, f.pwrite}, {0, 0}, f.error, f.scale};
        g_cancel_at = f.cancel_at;
        call_family(w.family, w.args, &cancelling);
        IsolatedCall::callback(
            kNote,
            (std::to_string(g_fault.done[0]) + " " + std::to_string(g_fault.done[1])).c_str());
    });
}

// Writes fail at the first byte, in the middle, in the last bytes (the trailer), and while the
// panorama metadata is inserted (the file grown, then the movie index moved, with pwrite); the host
// cancels at the first, a middle and the last progress point.
TEST(Faults, EveryFaultPointEndsWithItsDocumentAndNoOutput) {
    TempDir dir;
    g_cancel_file = dir.file("cancel");
    for (Work w : works(dir.path())) {
        SCOPED_TRACE(w.args.out);
        w.args.cancel = g_cancel_file;
        const Documents healthy = with_fault(w, {});
        ASSERT_EQ(healthy.final.state, STATE_DONE) << healthy.final.document;
        ASSERT_EQ(std::remove(w.args.out.c_str()), 0);
        ASSERT_EQ(healthy.notes.size(), 1u);
        const int64_t written = std::stoll(healthy.notes[0]);
        const int64_t inserted = std::stoll(healthy.notes[0].substr(healthy.notes[0].find(' ')));
        ASSERT_GT(written, 100);
        std::vector<Fault> faults = {
            {0, -1, ENOSPC}, {written / 2, -1, ENOSPC}, {written - 4, -1, ENOSPC}};
        if (w.family == '3') {
            EXPECT_GT(inserted, 0) << "the panorama metadata is inserted with pwrite";
            faults.insert(faults.end(), {{-1, 0, ENOSPC}, {-1, inserted / 2, EIO}});
        }
        const std::vector<int>& p = healthy.progress;
        if (w.family == '1') faults.push_back({-1, -1, EIO, -1, true});  // scaling the picture
        if (w.args.out.find(".jpg") == std::string::npos) {
            ASSERT_GE(p.size(), 3u);
            for (int point : {p.front(), p[p.size() / 2], p.back()})
                faults.push_back({-1, -1, 0, point});
        }
        for (const Fault& f : faults) {
            write_file(w.args.out, "earlier");
            SCOPED_TRACE("write " + std::to_string(f.write) + ", pwrite " +
                         std::to_string(f.pwrite) + ", cancel at " + std::to_string(f.cancel_at));
            const Documents d = with_fault(w, f);
            const std::string& doc = d.final.document;
            EXPECT_EQ(d.final.state, f.cancel_at < 0 ? STATE_FAILED : STATE_CANCELED);
            EXPECT_EQ(doc.substr(0, doc.find(",\"api_errstr\"")),
                      "{\"errnum\":\"" + w.code + "\",\"errstr\":\"" +
                          (f.cancel_at < 0 ? w.errstr : "Canceled") +
                          "\",\"api_errnum\":" + std::to_string(f.cancel_at < 0 ? -f.error : -1));
            if (f.cancel_at < 0) {
                EXPECT_EQ(json_field(doc, "api_errstr"), std::strerror(f.error));
            } else {
                EXPECT_EQ(d.progress.back(), f.cancel_at) << "work went on after the cancel";
                ASSERT_EQ(std::remove(g_cancel_file.c_str()), 0);
            }
            EXPECT_EQ(read_file(w.args.out), "earlier");
            EXPECT_EQ(listing(dir.path()),
                      std::vector<std::string>{w.args.out.substr(dir.path().size() + 1)});
        }
        std::remove(w.args.out.c_str());
    }
}

}  // namespace
