// The library keeps no state between calls: eight analyses and two exports made at the same time on
// ten threads of one process give exactly the documents and the output files that the same calls
// give one after the other. `make tsan` runs this under ThreadSanitizer.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/export_call.h"
#include "support/fixtures.h"
#include "support/test_support.h"

namespace {

using namespace orbv_test;

// Every document of a call (a family and its arguments) and the bytes of its output.
std::vector<std::string> run_recorded(const std::pair<char, ExportArgs>& call) {
    Recorder recorder;  // the recording is per thread
    call_family(call.first, call.second, &Recorder::callback);
    std::vector<std::string> result;
    for (const CallbackRecord& r : recorder.records())
        result.push_back(std::to_string(r.state) + r.document);
    result.push_back(read_file(call.second.out));
    return result;
}

TEST(Concurrency, TenCallsAtOnceGiveWhatTheyGiveOneAfterAnother) {
    const orbv_sample::Shot& movies = shot("movie", 12);
    const orbv_sample::Shot& aac = shot("aac", 3, false, [](auto& o) {
        o.sound = orbv_sample::Sound::Aac, o.camera.exif_orientation = 6;
    });
    const orbv_sample::Shot& stills = shot("still", 1, true);
    TempDir out;
    write_file(out.file("text.mov"), "not a movie");
    std::vector<std::pair<char, ExportArgs>> calls;
    for (const std::string& in : {movies.lens1, movies.lens2, aac.lens1, aac.lens2, stills.lens1,
                                  stills.lens2, out.file("text.mov"), out.file("missing.jpg")}) {
        calls.push_back({'1', {in, "", out.file(std::to_string(calls.size()) + ".jpg")}});
    }
    for (const orbv_sample::Shot& s : {movies, stills}) {
        ExportArgs a{s.lens1, s.lens2, out.file("pano" + s.lens1.substr(s.lens1.size() - 4))};
        a.width = 256, a.height = 128, a.yaw = 30, a.roll1 = 2, a.roll2 = -1;
        a.offsets1[0] = 5, a.offsets2[0] = 3;
        calls.push_back({'3', a});
    }
    std::vector<std::vector<std::string>> sequential;
    sequential.reserve(calls.size());
    for (const auto& c : calls) sequential.push_back(run_recorded(c));
    for (const auto& c : calls) std::remove(c.second.out.c_str());

    std::vector<std::vector<std::string>> concurrent(calls.size());
    std::mutex mutex;
    std::condition_variable go;
    size_t waiting = calls.size();
    std::vector<std::thread> threads;
    for (size_t i = 0; i < calls.size(); ++i) {
        threads.emplace_back([&, i] {
            {
                std::unique_lock<std::mutex> lock(mutex);
                if (--waiting == 0) go.notify_all();
                go.wait(lock, [&] { return waiting == 0; });
            }
            concurrent[i] = run_recorded(calls[i]);
        });
    }
    for (std::thread& t : threads) t.join();
    for (size_t i = 0; i < calls.size(); ++i) {
        EXPECT_TRUE(sequential[i] == concurrent[i]) << calls[i].second.out;
    }
    // The calls did what they are for: thumbnails and exports were written, the broken and the
    // missing file failed.
    for (size_t i : {0, 8, 9}) EXPECT_GT(sequential[i].back().size(), 500u) << i;
    for (size_t i : {6, 7}) EXPECT_EQ(sequential[i].front()[0], '0' + STATE_FAILED) << i;
}

}  // namespace
