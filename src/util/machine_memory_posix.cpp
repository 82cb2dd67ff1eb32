#include <unistd.h>

#include "util/machine_memory.h"

namespace orbv {

int64_t machine_memory_bytes() {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long page_size = ::sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || page_size <= 0) return -1;
    return static_cast<int64_t>(pages) * page_size;
}

}  // namespace orbv
