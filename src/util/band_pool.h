#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace orbv {

// The stitch's pixel work is split into bands of rows, one per usable CPU up to this many:
// beyond it the memory, not the cores, sets the pace.
constexpr int kMaxRowBands = 4;

// The CPUs this process may run on (its affinity), at least 1.
int usable_cpus();

// The first row of band b when rows [0, rows) are split into `bands` consecutive bands.
inline int band_start(int rows, int bands, int b) {
    return static_cast<int>(static_cast<int64_t>(rows) * b / bands);
}

// Helper threads that run bands of rows beside the calling thread. A job keeps one for its
// whole life: the helpers start at the first banded pass and are joined in the destructor, so
// none starts per picture and none outlives the call. Waiting threads sleep, never spin.
class BandPool {
  public:
    // Up to `bands` bands a pass (the calling thread's included), at most kMaxRowBands.
    explicit BandPool(int bands = usable_cpus());
    ~BandPool();
    BandPool(const BandPool&) = delete;
    BandPool& operator=(const BandPool&) = delete;

    // Splits rows [0, rows) into bands and runs `band(first, last)` on each: the first on the
    // calling thread, the others on the helpers; returns once all are done. The work of one row
    // must not depend on another's. Helpers that cannot be started leave their bands to the
    // calling thread.
    template <typename Band>
    void run(int rows, const Band& band) {
        run_bands(
            rows,
            [](const void* work, int first, int last) {
                (*static_cast<const Band*>(work))(first, last);
            },
            &band);
    }

  private:
    using Call = void (*)(const void* work, int first, int last);

    void run_bands(int rows, Call call, const void* work);
    void start_helpers();
    void helper(int index);

    int wanted_;            // bands a pass may use
    bool started_ = false;  // the helpers were asked for
    std::vector<std::thread> helpers_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    // The pass in progress, numbered so a helper runs each pass once.
    uint64_t pass_ = 0;
    Call call_ = nullptr;
    const void* work_ = nullptr;
    int rows_ = 0;
    int bands_ = 1;
    int pending_ = 0;  // helper bands of the pass not yet finished
    bool stopping_ = false;
};

// Runs `band` over rows [0, rows) on the pool, or all of it on the calling thread without one.
template <typename Band>
void run_in_bands(BandPool* pool, int rows, const Band& band) {
    if (pool != nullptr) {
        pool->run(rows, band);
    } else if (rows > 0) {
        band(0, rows);
    }
}

}  // namespace orbv
