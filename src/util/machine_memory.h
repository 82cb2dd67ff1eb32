#pragma once

#include <cstdint>

namespace orbv {

// Bytes of main memory of the machine, -1 when unknown.
int64_t machine_memory_bytes();

}  // namespace orbv
