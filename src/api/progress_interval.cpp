#include "api/progress_interval.h"

namespace orbv {

int32_t progress_interval(int64_t count) {
    if (count == 0) return 10;
    return count / 10 <= 100 ? 10 : 100;
}

}  // namespace orbv
