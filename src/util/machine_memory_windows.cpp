#include <windows.h>

#include "util/machine_memory.h"

namespace orbv {

int64_t machine_memory_bytes() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status) || status.ullTotalPhys == 0) return -1;
    return static_cast<int64_t>(status.ullTotalPhys);
}

}  // namespace orbv
