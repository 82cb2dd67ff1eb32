#include "stitch/lens_shortcut.h"

#include <cmath>

#include "util/numbers.h"

namespace orbv {

void place_lens_shortcut(const LensTerms& p, int32_t first, int32_t count, const double* qx,
                         const double* qy, const double* theta, float* out_x, float* out_y,
                         uint8_t* settled) {
    for (int32_t j = first; j < count; ++j) {
        const double length2 = qx[j] * qx[j] + qy[j] * qy[j];
        const double inv = 1.0 / std::sqrt(length2);
        const double sin_psi = qx[j] * inv, cos_psi = qy[j] * inv;
        const bool lens1 = theta[j] < kHalfPi;
        const double rho = p.k * (lens1 ? theta[j] : kPi - theta[j]);
        // lens 1: cos(psi + lens1_roll), sin(same); lens 2: sin(psi - pi/2 + lens2_roll), cos(same)
        const double c = lens1 ? cos_psi * p.c0 - sin_psi * p.s0 : sin_psi * p.s1 - cos_psi * p.c1;
        const double s = lens1 ? sin_psi * p.c0 + cos_psi * p.s0 : sin_psi * p.c1 + cos_psi * p.s1;
        const double x = p.cx + rho * c;
        const double y = (lens1 ? p.cy1 : p.cy2) + rho * s;
        const double ex = kShortcutMargin * (rho + std::fabs(x));
        const double ey = kShortcutMargin * (rho + std::fabs(y));
        const float x_low = static_cast<float>(x - ex), x_high = static_cast<float>(x + ex);
        const float y_low = static_cast<float>(y - ey), y_high = static_cast<float>(y + ey);
        out_x[j] = x_low;
        out_y[j] = y_low;
        settled[j] = (x_low == x_high) & (y_low == y_high) & (length2 > kShortcutMinLength2);
    }
}

}  // namespace orbv
