#pragma once

namespace orbv {

// Which code the stitching steps run: kFast uses AVX2 where the processor has it, kPortable
// never does. Both give the same results bit for bit; tests compare them.
enum class SimdPath { kFast, kPortable };

}  // namespace orbv
