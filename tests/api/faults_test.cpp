// Faults in the middle of the work, seen by a host: the disk filling up or a write failing
// while an export, an audio extraction or a thumbnail is written, and the host cancelling at
// the first, a middle and the last progress point. Each call ends with the right failure
// document and leaves no partial output behind.
//
// The failing writes come from `write` and `pwrite` defined in this program: they stand in
// for the C library's (the dynamic linker finds them first, for FFmpeg's file protocol and
// for the library's metadata writer alike) and fail with a chosen errno once a chosen number
// of bytes has reached the chosen file. A real small file system is used too when this
// process may mount one in a mount namespace of its own.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "orbv.h"
#include "sample_shot.h"
#include "support/isolated_call.h"
#include "support/test_support.h"

// --- The failing writes ------------------------------------------------------------------------

namespace write_fault {

std::string target;         // the file whose writes may fail, as /proc/self/fd names it
int64_t write_budget = -1;  // bytes write() may put into it before it fails; -1: no limit
int64_t pwrite_budget = -1;
int64_t written = 0;
int64_t pwritten = 0;
int error = ENOSPC;

bool is_target(int fd) {
    if (target.empty()) return false;
    char link[64], path[PATH_MAX];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = ::readlink(link, path, sizeof path - 1);
    if (n <= 0) return false;
    return target.compare(0, std::string::npos, path, static_cast<size_t>(n)) == 0;
}

// How much of a write of n bytes may go through; 0 means it fails.
size_t allowance(int64_t budget, int64_t done, size_t n) {
    if (budget < 0) return n;
    const int64_t left = budget - done;
    return left <= 0 ? 0 : static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(n)));
}

template <class Real, class... Offset>
ssize_t limited(Real real, int64_t budget, int64_t* done, int fd, const void* data, size_t n,
                Offset... offset) {
    const size_t allowed = allowance(budget, *done, n);
    if (n > 0 && allowed == 0) {
        errno = error;
        return -1;
    }
    const ssize_t put = real(fd, data, allowed, offset...);
    if (put > 0) *done += put;
    return put;
}

}  // namespace write_fault

extern "C" {

ssize_t write(int fd, const void* data, size_t n) {
    using Fn = ssize_t (*)(int, const void*, size_t);
    static const Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "write"));
    if (!write_fault::is_target(fd)) return real(fd, data, n);
    return write_fault::limited(real, write_fault::write_budget, &write_fault::written, fd, data,
                                n);
}

ssize_t pwrite(int fd, const void* data, size_t n, off_t offset) {
    using Fn = ssize_t (*)(int, const void*, size_t, off_t);
    static const Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "pwrite"));
    if (!write_fault::is_target(fd)) return real(fd, data, n, offset);
    return write_fault::limited(real, write_fault::pwrite_budget, &write_fault::pwritten, fd, data,
                                n, offset);
}

ssize_t pwrite64(int fd, const void* data, size_t n, off64_t offset) {
    using Fn = ssize_t (*)(int, const void*, size_t, off64_t);
    static const Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "pwrite64"));
    if (!write_fault::is_target(fd)) return real(fd, data, n, offset);
    return write_fault::limited(real, write_fault::pwrite_budget, &write_fault::pwritten, fd, data,
                                n, offset);
}

}  // extern "C"

namespace {

using orbv_test::CallbackRecord;
using orbv_test::IsolatedCall;
using orbv_test::IsolatedOutcome;
using orbv_test::json_field;
using orbv_test::read_file;
using orbv_test::TempDir;

// A record the child sends about itself rather than a document of the library.
constexpr int32_t kNote = 100;

// The file name under its directory's real path, as /proc/self/fd will name the open file.
std::string real_path(const std::string& dir, const std::string& name) {
    char buf[PATH_MAX];
    if (::realpath(dir.c_str(), buf) == nullptr) throw std::runtime_error("realpath " + dir);
    return std::string(buf) + "/" + name;
}

struct Faults {
    int64_t write_budget = -1;
    int64_t pwrite_budget = -1;
    int error = ENOSPC;
};

// The documents of a call, its notes apart; the call must have ended cleanly with exactly one
// final document, the last one, and sent only well-formed documents.
struct Documents {
    std::vector<CallbackRecord> records;
    std::vector<std::string> notes;
    CallbackRecord final{-1, ""};
    std::vector<int> progress;  // frame_count of every progress document
};

Documents documents_of(const IsolatedOutcome& o) {
    Documents d;
    EXPECT_TRUE(o.clean()) << o.describe();
    for (const CallbackRecord& r : o.records) {
        if (r.state == kNote) {
            d.notes.push_back(r.document);
            continue;
        }
        EXPECT_TRUE(orbv_test::flat_json(r.document)) << r.document;
        EXPECT_EQ(d.final.state, -1) << "a document after the final one: " << o.describe();
        if (r.state >= STATE_DONE) d.final = r;
        if (r.state == STATE_PROGRESS)
            d.progress.push_back(std::stoi(json_field(r.document, "frame_count")));
        d.records.push_back(r);
    }
    EXPECT_GE(d.final.state, STATE_DONE) << o.describe();
    return d;
}

// The counters of the failing writes, sent by the child after its call.
void send_counters() {
    const std::string note =
        std::to_string(write_fault::written) + " " + std::to_string(write_fault::pwritten);
    IsolatedCall::callback(kNote, note.c_str());
}

void arm(const std::string& target, const Faults& f) {
    write_fault::target = target;
    write_fault::write_budget = f.write_budget;
    write_fault::pwrite_budget = f.pwrite_budget;
    write_fault::error = f.error;
    write_fault::written = write_fault::pwritten = 0;
}

// --- Cancelling from the callback --------------------------------------------------------------

std::string g_cancel_path;  // in the child: the cancel file to create
int g_cancel_at = -1;       // at the progress document with this frame_count

void cancelling_callback(int32_t state, const char* json) {
    IsolatedCall::callback(state, json);
    if (state == STATE_PROGRESS && json_field(json, "frame_count") == std::to_string(g_cancel_at)) {
        orbv_test::write_file(g_cancel_path, "cancel");
    }
}

// --- The material ------------------------------------------------------------------------------

constexpr int kFrames = 30;  // progress points at 10, 20 and 30

struct Material {
    TempDir dir;
    orbv_sample::Shot movies;
    orbv_sample::Shot stills;
};
Material* material = nullptr;

class WorkFaults : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        material = new Material;
        orbv_sample::ShotOptions o;
        o.frames = kFrames;
        o.name = "movie";
        material->movies = orbv_sample::make_shot(material->dir.path(), o);
        o.stills = true;
        o.name = "still";
        material->stills = orbv_sample::make_shot(material->dir.path(), o);
    }
    static void TearDownTestSuite() {
        delete material;
        material = nullptr;
    }

    std::set<std::string> left_in_output_dir() {
        std::set<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(out_.path()))
            names.insert(e.path().filename().string());
        return names;
    }

    TempDir out_;
};

int32_t export_pair(const std::string& in1, const std::string& in2, const std::string& out,
                    const char* cancel, ProgressCallback cb) {
    return ORBV_export(in1.c_str(), in2.c_str(), out.c_str(), nullptr, 128, 64, 0, 0.0f, 0.0f,
                       -99999999, -99999999, -99999999, -99999999, -99999999, -99999999, 0.0f, 0.0f,
                       -1.0f, -1.0f, 0, "2024:05:17 10:30:00", cancel, cb);
}

// Runs one call in a child with the given faults on `name` in the output directory, and sends
// the counters of its writes after the call.
Documents run_with_faults(const std::string& dir, const std::string& name, const Faults& faults,
                          const std::function<void()>& call) {
    const std::string target = real_path(dir, name);
    return documents_of(IsolatedCall::run([&] {
        arm(target, faults);
        call();
        send_counters();
    }));
}

std::pair<int64_t, int64_t> counters(const Documents& d) {
    if (d.notes.empty()) return {-1, -1};
    const size_t space = d.notes.back().find(' ');
    return {std::stoll(d.notes.back().substr(0, space)), std::stoll(d.notes.back().substr(space))};
}

// An unharmed export tells how many bytes each kind of write puts into its output (written
// by the muxer, then inserted with pwrite for the panorama metadata); the output is removed.
template <class Call>
std::pair<int64_t, int64_t> healthy_counters(const std::string& out, const std::string& name,
                                             Call call) {
    const Documents healthy = run_with_faults(out.substr(0, out.rfind('/')), name, Faults{}, call);
    EXPECT_EQ(healthy.final.state, STATE_DONE) << healthy.final.document;
    EXPECT_EQ(std::remove(out.c_str()), 0);
    const auto written = counters(healthy);
    EXPECT_GT(written.second, 0) << "the panorama metadata is inserted with pwrite";
    return written;
}

// The failure document of a fault: the call's code, the system's error in FFmpeg's form.
void expect_write_failure(const Documents& d, const std::string& code, int error) {
    EXPECT_EQ(d.final.state, STATE_FAILED) << d.final.document;
    EXPECT_EQ(json_field(d.final.document, "errnum"), code) << d.final.document;
    EXPECT_EQ(json_field(d.final.document, "api_errnum"), std::to_string(-error))
        << d.final.document;
    EXPECT_EQ(json_field(d.final.document, "api_errstr"), std::strerror(error)) << d.final.document;
}

// --- Exports -----------------------------------------------------------------------------------

TEST_F(WorkFaults, ExportOfMoviesWhenWritesFail) {
    const std::string& in1 = material->movies.lens1;
    const std::string& in2 = material->movies.lens2;
    const std::string out = out_.file("pano.mov");
    auto call = [&] { export_pair(in1, in2, out, nullptr, &IsolatedCall::callback); };
    const auto [muxed, inserted] = healthy_counters(out, "pano.mov", call);
    ASSERT_GT(muxed, 10000);

    struct Case {
        const char* what;
        Faults faults;
    };
    const std::vector<Case> cases = {
        {"the first write", {0, -1, ENOSPC}},
        {"a write in the middle", {muxed / 2, -1, ENOSPC}},
        {"the last bytes of the trailer", {muxed - 4, -1, ENOSPC}},
        {"growing the file for the metadata", {-1, 0, ENOSPC}},
        {"moving the movie index for the metadata", {-1, inserted / 2, EIO}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Documents d = run_with_faults(out_.path(), "pano.mov", c.faults, call);
        expect_write_failure(d, "39999", c.faults.error);
        EXPECT_EQ(json_field(d.final.document, "errstr"), "Could not write video");
        EXPECT_TRUE(left_in_output_dir().empty()) << "the failed output stays";
    }
}

TEST_F(WorkFaults, ExportOfStillsWhenWritesFail) {
    const std::string& in1 = material->stills.lens1;
    const std::string& in2 = material->stills.lens2;
    const std::string out = out_.file("pano.jpg");
    auto call = [&] { export_pair(in1, in2, out, nullptr, &IsolatedCall::callback); };
    const auto [muxed, inserted] = healthy_counters(out, "pano.jpg", call);
    ASSERT_GT(muxed, 0);

    for (const Faults& f : {Faults{0, -1, ENOSPC}, Faults{muxed / 2, -1, ENOSPC},
                            Faults{-1, 0, ENOSPC}, Faults{-1, inserted / 2, EIO}}) {
        SCOPED_TRACE("write budget " + std::to_string(f.write_budget) + ", pwrite budget " +
                     std::to_string(f.pwrite_budget));
        const Documents d = run_with_faults(out_.path(), "pano.jpg", f, call);
        EXPECT_EQ(d.final.state, STATE_FAILED) << d.final.document;
        EXPECT_EQ(json_field(d.final.document, "errnum"), "39999") << d.final.document;
        EXPECT_TRUE(left_in_output_dir().empty());
    }
}

TEST_F(WorkFaults, ExportCancelledAtTheFirstAMiddleAndTheLastProgressPoint) {
    const std::string& in1 = material->movies.lens1;
    const std::string& in2 = material->movies.lens2;
    const std::string out = out_.file("pano.mov");
    const std::string cancel = out_.file("cancel");
    auto call = [&] { export_pair(in1, in2, out, cancel.c_str(), &cancelling_callback); };

    const Documents all = documents_of(IsolatedCall::run(call));
    ASSERT_EQ(all.final.state, STATE_DONE) << all.final.document;
    ASSERT_EQ(all.progress, (std::vector<int>{10, 20, 30}));
    ASSERT_EQ(std::remove(out.c_str()), 0);

    for (int point : all.progress) {
        SCOPED_TRACE("cancel at " + std::to_string(point));
        const Documents d = documents_of(IsolatedCall::run([&] {
            g_cancel_path = cancel;
            g_cancel_at = point;
            call();
        }));
        EXPECT_EQ(d.final.state, STATE_CANCELED) << d.final.document;
        EXPECT_EQ(json_field(d.final.document, "errnum"), "39999");
        EXPECT_EQ(json_field(d.final.document, "errstr"), "Canceled");
        EXPECT_EQ(json_field(d.final.document, "api_errnum"), "-1");
        ASSERT_FALSE(d.progress.empty());
        EXPECT_EQ(d.progress.back(), point) << "work went on after the cancel";
        EXPECT_EQ(left_in_output_dir(), std::set<std::string>{"cancel"});
        ASSERT_EQ(std::remove(cancel.c_str()), 0);
    }
}

// --- Audio extraction and thumbnail
// ---------------------------------------------------------------

TEST_F(WorkFaults, AudioExtractionWhenWritesFail) {
    const std::string& movie = material->movies.lens1;
    const std::string out = out_.file("sound.wav");
    auto call = [&] {
        ORBV_get_audio(movie.c_str(), out.c_str(), 0, nullptr, &IsolatedCall::callback);
    };
    Documents healthy = run_with_faults(out_.path(), "sound.wav", Faults{}, call);
    ASSERT_EQ(healthy.final.state, STATE_DONE) << healthy.final.document;
    const int64_t total = counters(healthy).first;
    ASSERT_GT(total, 100000);  // a second of 16-bit stereo
    ASSERT_EQ(std::remove(out.c_str()), 0);

    for (const int64_t budget : {int64_t{0}, total / 2, total - 4}) {
        SCOPED_TRACE("write budget " + std::to_string(budget));
        const Documents d =
            run_with_faults(out_.path(), "sound.wav", Faults{budget, -1, ENOSPC}, call);
        expect_write_failure(d, "29999", ENOSPC);
        EXPECT_EQ(json_field(d.final.document, "errstr"), "Colud Not Write Audio!!");
        EXPECT_TRUE(left_in_output_dir().empty());
    }
}

TEST_F(WorkFaults, AudioCancelledAtTheFirstAMiddleAndTheLastProgressPoint) {
    const std::string& movie = material->movies.lens1;
    const std::string out = out_.file("sound.wav");
    const std::string cancel = out_.file("cancel");
    auto call = [&] {
        ORBV_get_audio(movie.c_str(), out.c_str(), 0, cancel.c_str(), &cancelling_callback);
    };
    const Documents all = documents_of(IsolatedCall::run(call));
    ASSERT_EQ(all.final.state, STATE_DONE) << all.final.document;
    ASSERT_GE(all.progress.size(), 3u);
    ASSERT_EQ(std::remove(out.c_str()), 0);

    for (int point :
         {all.progress.front(), all.progress[all.progress.size() / 2], all.progress.back()}) {
        SCOPED_TRACE("cancel at " + std::to_string(point));
        const Documents d = documents_of(IsolatedCall::run([&] {
            g_cancel_path = cancel;
            g_cancel_at = point;
            call();
        }));
        EXPECT_EQ(d.final.state, STATE_CANCELED) << d.final.document;
        EXPECT_EQ(json_field(d.final.document, "errnum"), "29999");
        EXPECT_EQ(json_field(d.final.document, "errstr"), "Canceled");
        ASSERT_FALSE(d.progress.empty());
        EXPECT_EQ(d.progress.back(), point);
        EXPECT_EQ(left_in_output_dir(), std::set<std::string>{"cancel"});
        ASSERT_EQ(std::remove(cancel.c_str()), 0);
    }
}

TEST_F(WorkFaults, ThumbnailWhoseWriteFails) {
    const std::string& movie = material->movies.lens1;
    const std::string out = out_.file("thumb.jpg");
    const Documents d = run_with_faults(out_.path(), "thumb.jpg", Faults{0, -1, ENOSPC}, [&] {
        ORBV_analyze_image(movie.c_str(), out.c_str(), 160, 0, &IsolatedCall::callback);
    });
    EXPECT_EQ(d.final.state, STATE_FAILED) << d.final.document;
    EXPECT_EQ(json_field(d.final.document, "errnum"), "19999") << d.final.document;
    EXPECT_EQ(json_field(d.final.document, "errstr"), "Could Not Write Thumbnail");
    EXPECT_TRUE(left_in_output_dir().empty());
}

// --- A real file system that fills up ----------------------------------------------------------

// In the child: a tmpfs of `bytes` at `dir`, seen only by this process; false when the
// process may not have one.
bool mount_small_volume(const std::string& dir, int64_t bytes) {
    if (::unshare(CLONE_NEWNS) != 0) return false;
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return false;
    const std::string options = "size=" + std::to_string(bytes);
    return ::mount("tmpfs", dir.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

// Another program takes all but `keep` bytes of the volume.
void fill_volume(const std::string& dir, int64_t keep) {
    struct statvfs vfs;
    if (::statvfs(dir.c_str(), &vfs) != 0) return;
    const int64_t free_bytes =
        static_cast<int64_t>(vfs.f_bavail) * static_cast<int64_t>(vfs.f_frsize);
    const int fd = ::open((dir + "/filler").c_str(), O_WRONLY | O_CREAT, 0644);
    if (fd < 0) return;
    if (free_bytes > keep) ::posix_fallocate(fd, 0, free_bytes - keep);
    ::close(fd);
}

std::string g_fill_dir;  // in the child: the volume to fill when the work starts

void filling_callback(int32_t state, const char* json) {
    if (state == STATE_START) fill_volume(g_fill_dir, 64 * 1024);
    IsolatedCall::callback(state, json);
}

// The call runs on a volume with room for it when it starts; at its start document the volume
// fills up. The child reports what the volume holds afterwards.
Documents run_on_filling_volume(const std::string& dir, int64_t inputs,
                                const std::function<void()>& call) {
    const Documents d = documents_of(IsolatedCall::run([&] {
        // More than the 50 MiB the library asks for beyond the inputs, and a little more.
        if (!mount_small_volume(dir, 52428800 + inputs + (4 << 20))) {
            IsolatedCall::callback(kNote, "no volume");
            IsolatedCall::callback(STATE_DONE, "{\"skipped\":true}");
            return;
        }
        g_fill_dir = dir;
        call();
        std::string names;
        for (const auto& e : std::filesystem::directory_iterator(dir))
            names += e.path().filename().string() + " ";
        IsolatedCall::callback(kNote, names.c_str());
    }));
    return d;
}

TEST_F(WorkFaults, DiskFillsUpDuringExportAndAudioExtraction) {
    const std::string& in1 = material->movies.lens1;
    const std::string& in2 = material->movies.lens2;
    const int64_t inputs = static_cast<int64_t>(read_file(in1).size() + read_file(in2).size());
    const std::string volume = out_.file("volume");
    ASSERT_EQ(::mkdir(volume.c_str(), 0755), 0);

    const Documents e = run_on_filling_volume(volume, inputs, [&] {
        export_pair(in1, in2, volume + "/pano.mov", nullptr, &filling_callback);
    });
    if (!e.notes.empty() && e.notes.front() == "no volume") {
        GTEST_SKIP() << "no small file system can be mounted here; the write faults above stand "
                        "in for it";
    }
    expect_write_failure(e, "39999", ENOSPC);
    ASSERT_EQ(e.notes.size(), 1u);
    EXPECT_EQ(e.notes[0], "filler ") << "the partial export stays on the full volume";

    const Documents a = run_on_filling_volume(volume, 0, [&] {
        ORBV_get_audio(in1.c_str(), (volume + "/sound.wav").c_str(), 0, nullptr, &filling_callback);
    });
    expect_write_failure(a, "29999", ENOSPC);
    ASSERT_EQ(a.notes.size(), 1u);
    EXPECT_EQ(a.notes[0], "filler ");
}

}  // namespace
