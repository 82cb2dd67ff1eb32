#include "util/band_pool.h"

#include <algorithm>
#include <system_error>

#ifdef __linux__
#include <sched.h>
#endif

namespace orbv {

int usable_cpus() {
#ifdef __linux__
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) == 0) return std::max(CPU_COUNT(&set), 1);
#endif
    return std::max(static_cast<int>(std::thread::hardware_concurrency()), 1);
}

BandPool::BandPool(int bands) : wanted_(std::clamp(bands, 1, kMaxRowBands)) {}

BandPool::~BandPool() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& thread : helpers_) thread.join();
}

void BandPool::start_helpers() {
    started_ = true;
    for (int index = 1; index < wanted_; ++index) {
        try {
            helpers_.emplace_back([this, index] { helper(index); });
        } catch (const std::system_error&) {
            break;
        }
    }
}

void BandPool::run_bands(int rows, Call call, const void* work) {
    if (rows <= 0) return;
    if (!started_) start_helpers();
    const int bands = std::min(static_cast<int>(helpers_.size()) + 1, rows);
    if (bands > 1) {
        std::lock_guard<std::mutex> lock(mutex_);
        call_ = call;
        work_ = work;
        rows_ = rows;
        bands_ = bands;
        pending_ = bands - 1;
        ++pass_;
    }
    if (bands > 1) wake_.notify_all();
    call(work, 0, band_start(rows, bands, 1));
    if (bands == 1) return;
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return pending_ == 0; });
}

void BandPool::helper(int index) {
    uint64_t seen = 0;
    for (;;) {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [&] { return stopping_ || pass_ != seen; });
        if (stopping_) return;
        seen = pass_;
        if (index >= bands_) continue;
        const Call call = call_;
        const void* work = work_;
        const int first = band_start(rows_, bands_, index);
        const int last = band_start(rows_, bands_, index + 1);
        lock.unlock();
        call(work, first, last);
        lock.lock();
        if (--pending_ == 0) done_.notify_one();
    }
}

}  // namespace orbv
