#pragma once

#include <cstdint>

namespace orbv {

// Relative error allowed for the lens shortcut. The shortcut and the exact functions agree to
// about 1e-14 relative (a few rounding steps on each side, the C library's trigonometry
// included, for rolls up to 32 radians); this margin is a thousand times wider. When v - e and
// v + e round to the same float, so does every double between them, the exact result
// included: the stored map value is the exact computation's.
constexpr double kShortcutMargin = 1e-11;

// Below this squared length the direction of the rotated point is not trusted to the margin.
constexpr double kShortcutMinLength2 = 1e-200;

// What the shortcut needs of one pass: pixels per radian, cosine and sine of each lens's roll,
// and the lens centres in the stacked canvas (x shared, y for lens 1 and lens 2).
struct LensTerms {
    double k = 0;
    double c0 = 0, s0 = 0, c1 = 0, s1 = 0;
    double cx = 0, cy1 = 0, cy2 = 0;
};

// Lens positions without atan2, cos and sin: cos and sin of psi are the rotated point's own y
// and x (qx, qy) over its length, and the roll adds through the angle-sum identities. theta is
// the angle from the lens-1 axis. The stored float is that of the exact computation whenever
// every value within the error margin rounds alike; settled[j] is 0 for the other pixels,
// which need the exact computation. Pixels first..count-1 of a row.
void place_lens_shortcut(const LensTerms& p, int32_t first, int32_t count, const double* qx,
                         const double* qy, const double* theta, float* out_x, float* out_y,
                         uint8_t* settled);

// The same, operation for operation, through the processor's vector unit: only where
// vector_path_available() holds. Pixels 0..count-1.
void place_lens_shortcut_vector(const LensTerms& p, int32_t count, const double* qx,
                                const double* qy, const double* theta, float* out_x, float* out_y,
                                uint8_t* settled);

}  // namespace orbv
