#include "api/boundary.h"
#include "orbv.h"
#include "util/file_system.h"

extern "C" ORBV_API int64_t ORBV_freesize(const char* path) {
    return orbv::run_guarded([&]() -> int64_t { return orbv::free_disk_space(path); },
                             [](const char*) -> int64_t { return -1; });
}
