#pragma once

namespace orbv {

// Asks for the line holding p, to be read soon (GCC emits the processor's prefetch, or
// nothing where it has none).
inline void prefetch_line(const void* p) { __builtin_prefetch(p, 0, 3); }

}  // namespace orbv
