// The export's timing as plain arithmetic: which lens pictures each output picture pairs, the
// trim windows, the clock of the output and the frame rate taken from a source stream.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <string>
#include <vector>

#include "media/frame_clock.h"
#include "media/picture_pairing.h"
#include "util/band_pool.h"

namespace {

constexpr int64_t kNone = AV_NOPTS_VALUE;

// Lens decoders giving pictures stamped on a 1/600 s clock, one more per lens each time the
// pairing asks for more, so the pairing also meets decoders that hold nothing yet.
struct Lenses {
    std::vector<int64_t> times[2];
    size_t given[2] = {0, 0};
    size_t ready[2] = {1, 1};
    bool take(int s, AVFrame* into) {
        if (given[s] == ready[s] || given[s] == times[s].size()) return false;
        into->best_effort_timestamp = times[s][given[s]++];
        return true;
    }
    bool ended(int s) const { return given[s] == times[s].size(); }
};

struct PairRow {
    const char* name;
    std::vector<int64_t> lens1, lens2;
    const char* expected;  // the two stamps each output picture shows, "-" for none
    double start2 = 0, end1 = INFINITY;
    bool still1 = false, still2 = false;
};

// Every pair of a 30 fps export, its lenses at 30 fps on the 1/600 clock.
std::string pairs(const PairRow& row) {
    const orbv::FrameClock clock{{30, 1}, {1, 600}, 20};
    orbv::LensTiming lens[2];
    for (int s = 0; s < 2; ++s) {
        lens[s].still = s == 0 ? row.still1 : row.still2;
        lens[s].period = 1.0 / 30;
        lens[s].time_base = {1, 600};
    }
    lens[1].window.start = row.start2;
    lens[0].window.end = row.end1;
    orbv::PicturePairing pairing(lens[0], lens[1], clock);
    EXPECT_EQ(pairing.allocate(), 0);
    Lenses source{{row.lens1, row.lens2}};
    auto stamp = [](const AVFrame* f) {
        const int64_t t = f->best_effort_timestamp;
        return t == kNone ? std::string("-") : std::to_string(t);
    };
    std::string out;
    for (int steps = 0; steps < 100; ++steps) {
        const auto step = pairing.next(source);
        if (step == orbv::PicturePairing::Step::End) return out;
        if (step == orbv::PicturePairing::Step::NeedMore) {
            ++source.ready[0], ++source.ready[1];
            continue;
        }
        out += (out.empty() ? "" : " ") + stamp(pairing.shown(0)) + ":" + stamp(pairing.shown(1));
        pairing.paired();
    }
    return out + " (no end)";
}

TEST(PicturePairing, NearestPictureWithinHalfAPeriod) {
    // clang-format off
    const std::vector<PairRow> rows = {
        {"same clock", {0, 20, 40, 60}, {0, 20, 40, 60}, "0:0 20:20 40:40 60:60"},
        {"a gap holds the last picture", {0, 20, 40, 60}, {0, 20, 60}, "0:0 20:20 40:20 60:60"},
        {"a lens that runs out ends", {0, 20}, {0, 20, 40, 60}, "0:0 20:20"},
        {"the later picture wins a tie", {0, 20, 40}, {10, 30, 50}, "0:10 20:30 40:50"},
        {"jitter", {0, 21, 39, 61, 79}, {1, 19, 41, 59, 80}, "0:1 21:19 39:41 61:59 79:80"},
        {"no stamp: a period after the last", {0, 20, 40, 60}, {0, 20, kNone}, "0:0 20:20 40:-"},
        {"an offset window", {0, 20, 40, 60}, {20, 40, 60, 80}, "0:40 20:60 40:80", 40.0 / 600},
        {"a window's end", {0, 20, 40, 60}, {0, 20, 40, 60}, "0:0 20:20", 0, 20.0 / 600},
        {"a still with a movie", {0}, {0, 20, 40}, "0:0 0:20 0:40", 0, INFINITY, true},
        {"two stills: one pair", {0}, {0}, "0:0", 0, INFINITY, true, true},
    };
    // clang-format on
    for (const PairRow& row : rows) EXPECT_EQ(pairs(row), row.expected) << row.name;
}

TEST(TimeWindow, HostTimesContainmentAndFrames) {
    const orbv::TimeWindow trimmed = orbv::TimeWindow::from_host(1.001f, 2.5f);
    EXPECT_EQ(trimmed.start, 1.001);
    EXPECT_TRUE(trimmed.contains(2.5 + 5e-7) && trimmed.contains(1.001 - 5e-7));
    EXPECT_FALSE(trimmed.contains(2.5 + 2e-6) || trimmed.contains(1.0009));
    const orbv::TimeWindow whole = orbv::TimeWindow::from_host(0, -1);
    EXPECT_EQ(whole.start, 0);
    EXPECT_FALSE(whole.has_end());
    struct Row {
        float start, end;
        double duration, period;
        int64_t frames;
    } rows[] = {
        // clang-format off
        {0, 0, 0.4, 1.0 / 30, 12},       // the last picture nearer than half a period counts
        {0, 0, 0.41, 1.0 / 30, 12},      // past it, not
        {0, 0, 0.42, 1.0 / 30, 13},
        {0.1f, 0.3f, 0.4, 1.0 / 30, 7},  // both ends inside
        {0, 0.3f, 0, 1.0 / 30, 10},      // an unknown duration: the end decides
        {0.5f, 0, 0.4, 1.0 / 30, 0},     // past the stream
        {0, 0, 0, 1.0 / 30, 0},          // nothing known
        {0, 0, 0.4, 0, 0},
        // clang-format on
    };
    for (const Row& r : rows) {
        EXPECT_EQ(orbv::TimeWindow::from_host(r.start, r.end).frames(r.duration, r.period),
                  r.frames)
            << r.start << " " << r.end << " " << r.duration;
    }
}

// Stream rates and time bases -> "rate time_base ticks" of the clock.
TEST(FrameClock, RateTimeBaseAndTicksOfASourceStream) {
    struct Row {
        AVRational base, average, time_base;
        const char* clock;
    } rows[] = {
        {{30000, 1001}, {30000, 1001}, {1, 30000}, "30000/1001 1/30000 1001"},
        {{25, 1}, {25, 1}, {1, 12800}, "25/1 1/12800 512"},
        {{24000, 1001}, {0, 0}, {1, 90000}, "24000/1001 1/24000 1001"},
        {{1000, 1}, {30, 1}, {1, 1000}, "30/1 1/30 1"},  // a tick of a fine clock: the average
        {{300, 1}, {200, 1}, {1, 600}, "300/1 1/600 2"},
        {{0, 0}, {25, 1}, {1, 25}, "25/1 1/25 1"},
        {{0, 0}, {0, 0}, {1, 25}, "0/1 0/1 0"},
    };
    AVFormatContext* container = avformat_alloc_context();
    AVStream* stream = avformat_new_stream(container, nullptr);
    auto q = [](AVRational r) { return std::to_string(r.num) + "/" + std::to_string(r.den); };
    for (const Row& r : rows) {
        stream->r_frame_rate = r.base;
        stream->avg_frame_rate = r.average;
        stream->time_base = r.time_base;
        const orbv::FrameClock clock = orbv::frame_clock_for(stream);
        EXPECT_EQ(q(orbv::source_frame_rate(stream)) + " " + q(clock.time_base) + " " +
                      std::to_string(clock.ticks),
                  r.clock);
    }
    avformat_free_context(container);
}

// A pass of the stitch's pool: every row once, in as many consecutive bands as it has threads
// (at most one per row), pass after pass.
TEST(BandPool, EveryRowOnceInConsecutiveBands) {
    for (int threads : {1, 2, 4, 9}) {
        orbv::BandPool pool(threads);
        for (int rows : {0, 1, 3, 100, 100, 7}) {
            std::mutex mutex;
            std::vector<std::pair<int, int>> bands;
            pool.run(rows, [&](int first, int last) {
                std::lock_guard<std::mutex> lock(mutex);
                bands.emplace_back(first, last);
            });
            std::sort(bands.begin(), bands.end());
            const int expected = std::min({threads, orbv::kMaxRowBands, rows});
            ASSERT_EQ(static_cast<int>(bands.size()), expected) << threads << " " << rows;
            for (int b = 0; b < expected; ++b) {
                EXPECT_EQ(bands[b].first, b == 0 ? 0 : bands[b - 1].second);
                EXPECT_LT(bands[b].first, bands[b].second);
            }
            if (expected > 0) {
                EXPECT_EQ(bands.back().second, rows);
            }
        }
    }
}

}  // namespace
