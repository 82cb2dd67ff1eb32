#pragma once

#include <algorithm>
#include <system_error>
#include <thread>
#include <vector>

namespace orbv {

// The stitch's pixel work is split into bands of rows, one per core up to this many: beyond
// it the memory, not the cores, sets the pace.
constexpr int kMaxRowBands = 4;

// Splits rows [0, rows) into consecutive bands and runs `band(first, last)` on each: the first
// on the calling thread, the others on threads of their own, all joined before it returns, so
// no thread outlives the call or waits spinning. The work of one row must not depend on
// another's. A thread that cannot be started leaves its band to the calling thread.
template <typename Band>
void run_in_bands(int rows, const Band& band) {
    static const int cores = static_cast<int>(std::thread::hardware_concurrency());
    const int bands = std::clamp(std::min(cores, rows), 1, kMaxRowBands);
    std::vector<std::thread> helpers;
    int taken = rows;  // the rows from here on have a thread of their own
    for (int b = bands - 1; b >= 1; --b) {
        const int first = rows * b / bands;
        try {
            helpers.emplace_back([&band, first, taken] { band(first, taken); });
        } catch (const std::system_error&) {
            break;
        }
        taken = first;
    }
    band(0, taken);
    for (std::thread& helper : helpers) helper.join();
}

}  // namespace orbv
