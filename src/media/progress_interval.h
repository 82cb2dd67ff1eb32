#pragma once

#include <cstdint>

namespace orbv {

// Units (frames or audio packets) between progress reports of a job of `count` units: 10 up
// to 1,009 units (and for unknown or negative counts), 100 from 1,010 on.
inline int32_t progress_interval(int64_t count) {
    if (count == 0) return 10;
    return count / 10 <= 100 ? 10 : 100;
}

}  // namespace orbv
