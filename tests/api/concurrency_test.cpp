// The library keeps no state between calls: eight analyses and two exports made at the same
// time on ten threads of one process give exactly the documents and the output files that the
// same calls give one after the other. `make tsan` runs this under ThreadSanitizer.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "orbv.h"
#include "sample_shot.h"
#include "support/test_support.h"

using orbv_test::CallbackRecord;
using orbv_test::read_file;
using orbv_test::Recorder;
using orbv_test::TempDir;

namespace {

// One call of the interface and the files it writes.
struct Call {
    std::string name;
    std::function<void()> run;  // reports through Recorder::callback
    std::vector<std::string> outputs;
};

// What a call gave: every document, and the bytes of every output ("<none>" when missing).
struct Result {
    std::vector<CallbackRecord> records;
    std::vector<std::string> outputs;
};

Result run_recorded(const Call& call) {
    Recorder recorder;  // the recording is per thread
    call.run();
    Result r{recorder.records(), {}};
    for (const std::string& path : call.outputs) {
        const std::string bytes = read_file(path);
        r.outputs.push_back(bytes.empty() ? "<none>" : bytes);
    }
    return r;
}

void remove_outputs(const std::vector<Call>& calls) {
    for (const Call& c : calls)
        for (const std::string& path : c.outputs) std::remove(path.c_str());
}

// Starts every thread's call at once.
class StartLine {
  public:
    explicit StartLine(size_t n) : waiting_(n) {}
    void arrive_and_wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        if (--waiting_ == 0) {
            go_.notify_all();
        } else {
            go_.wait(lock, [this] { return waiting_ == 0; });
        }
    }

  private:
    std::mutex mutex_;
    std::condition_variable go_;
    size_t waiting_;
};

int32_t export_pair(const std::string& in1, const std::string& in2, const std::string& out) {
    return ORBV_export(in1.c_str(), in2.c_str(), out.c_str(), nullptr, 256, 128, 30, 2.0f, -1.0f, 5,
                       -99999999, -99999999, -99999999, 3, -99999999, 0.0f, 0.0f, -1.0f, -1.0f, 0,
                       "2024:05:17 10:30:00", nullptr, &Recorder::callback);
}

TEST(Concurrency, TenCallsAtOnceGiveWhatTheyGiveOneAfterAnother) {
    TempDir in, out;
    orbv_sample::ShotOptions o;
    o.frames = 12;
    o.name = "movie";
    const orbv_sample::Shot movies = orbv_sample::make_shot(in.path(), o);
    o.frames = 3;
    o.sound = orbv_sample::Sound::Aac;
    o.camera.exif_orientation = 6;
    o.name = "aac";
    const orbv_sample::Shot aac = orbv_sample::make_shot(in.path(), o);
    o.stills = true;
    o.name = "still";
    const orbv_sample::Shot stills = orbv_sample::make_shot(in.path(), o);
    orbv_test::write_file(in.file("text.mov"), "not a movie");

    auto analysis = [&](const std::string& name, const std::string& file, bool thumbnail) {
        const std::string thumb = out.file(name + "-thumb.jpg");
        Call c{name, nullptr, {}};
        c.run = [file, thumb, thumbnail] {
            ORBV_analyze_image(file.c_str(), thumbnail ? thumb.c_str() : nullptr, 160, 1,
                               &Recorder::callback);
        };
        if (thumbnail) c.outputs.push_back(thumb);
        return c;
    };
    std::vector<Call> calls = {
        analysis("movie1", movies.lens1, true),
        analysis("movie2", movies.lens2, false),
        analysis("aac1", aac.lens1, true),
        analysis("still1", stills.lens1, true),
        analysis("still2", stills.lens2, false),
        analysis("text", in.file("text.mov"), true),
        analysis("missing", in.file("missing.jpg"), false),
        analysis("aac2", aac.lens2, false),
    };
    const std::string pano_movie = out.file("pano.mov"), pano_still = out.file("pano.jpg");
    calls.push_back({"export-movies",
                     [&] { export_pair(movies.lens1, movies.lens2, pano_movie); },
                     {pano_movie}});
    calls.push_back({"export-stills",
                     [&] { export_pair(stills.lens1, stills.lens2, pano_still); },
                     {pano_still}});

    std::vector<Result> sequential;
    for (const Call& c : calls) sequential.push_back(run_recorded(c));
    remove_outputs(calls);

    std::vector<Result> concurrent(calls.size());
    StartLine start(calls.size());
    std::vector<std::thread> threads;
    for (size_t i = 0; i < calls.size(); ++i) {
        threads.emplace_back([&, i] {
            start.arrive_and_wait();
            concurrent[i] = run_recorded(calls[i]);
        });
    }
    for (std::thread& t : threads) t.join();

    for (size_t i = 0; i < calls.size(); ++i) {
        SCOPED_TRACE(calls[i].name);
        const Result& a = sequential[i];
        const Result& b = concurrent[i];
        ASSERT_FALSE(a.records.empty());
        EXPECT_GE(a.records.back().state, STATE_DONE);
        ASSERT_EQ(a.records.size(), b.records.size());
        for (size_t k = 0; k < a.records.size(); ++k) {
            EXPECT_EQ(a.records[k].state, b.records[k].state);
            EXPECT_EQ(a.records[k].document, b.records[k].document);
        }
        ASSERT_EQ(a.outputs.size(), b.outputs.size());
        for (size_t k = 0; k < a.outputs.size(); ++k) {
            EXPECT_TRUE(a.outputs[k] == b.outputs[k])
                << calls[i].outputs[k] << ": " << a.outputs[k].size() << " bytes in sequence, "
                << b.outputs[k].size() << " at once";
        }
    }
    // The calls did what they are for: the exports and the camera files' thumbnails exist, the
    // broken and the missing file failed.
    EXPECT_EQ(sequential[8].records.back().state, STATE_DONE);
    EXPECT_EQ(sequential[9].records.back().state, STATE_DONE);
    EXPECT_NE(sequential[0].outputs[0], "<none>");
    EXPECT_EQ(sequential[5].records.back().state, STATE_FAILED);
    EXPECT_EQ(sequential[6].records.back().state, STATE_FAILED);
}

}  // namespace
