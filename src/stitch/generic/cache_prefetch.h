#pragma once

namespace orbv {

// Asks for the line holding p, to be read soon: GCC emits the processor's prefetch, or nothing
// where it has none. The empty statement marks the call as having an effect; without it GCC
// takes the fetch loops for free of effects and drops them whole.
inline void prefetch_line(const void* p) {
    __builtin_prefetch(p, 0, 3);
    asm volatile("");
}

}  // namespace orbv
