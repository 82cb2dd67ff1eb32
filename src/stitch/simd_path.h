#pragma once

namespace orbv {

// Which code the stitching steps run: kFast uses the processor's vector unit where the build
// has code for it and the processor has the unit (AVX2 on x86-64), kPortable never does. Both
// give the same results bit for bit; tests compare them.
enum class SimdPath { kFast, kPortable };

// Whether kFast has vector code to run on this processor; decided once.
bool vector_path_available();

}  // namespace orbv
