#pragma once

#include <cstdint>

// Numbers shared by the projection and the export's arithmetic.
namespace orbv {

// The double constants nearest to these multiples of pi.
constexpr double kPi = 3.141592653589793;
constexpr double kHalfPi = 1.5707963267948966;
constexpr double kThreeHalfPi = 4.71238898038469;
constexpr double kTwoPi = 6.283185307179586;

// A value truncated toward zero into 32 bits; values beyond the range saturate and NaN gives
// 0, instead of being undefined. Floats convert exactly, so they take the same rule.
inline int32_t truncate_to_int32(double value) {
    if (!(value > -2147483649.0)) return value != value ? 0 : INT32_MIN;
    if (!(value < 2147483648.0)) return INT32_MAX;
    return static_cast<int32_t>(value);
}

}  // namespace orbv
