#pragma once

#include <cstdint>

namespace orbv {

// Units (frames or audio packets) between progress reports of a job of `count` units: 10 up
// to 1,009 units (and for empty or negative counts), 100 from 1,010 on.
int32_t progress_interval(int64_t count);

}  // namespace orbv
