// The stitch on processors without vector code of its own: the portable path everywhere.
#include <cstdint>

#include "stitch/lens_shortcut.h"
#include "stitch/remap_row.h"
#include "stitch/simd_path.h"

namespace orbv {

bool vector_path_available() { return false; }

// Never chosen while vector_path_available() is false; the portable code gives the same bytes.
template <int N>
void remap_row_vector(const Planes<N>& s, const int16_t* taps, const uint16_t* fractions,
                      uint8_t* const* out, int first, int count) {
    remap_row_portable(s, taps, fractions, out, first, count);
}
template void remap_row_vector<1>(const Planes<1>&, const int16_t*, const uint16_t*,
                                  uint8_t* const*, int, int);
template void remap_row_vector<2>(const Planes<2>&, const int16_t*, const uint16_t*,
                                  uint8_t* const*, int, int);

void place_lens_shortcut_vector(const LensTerms& p, int32_t count, const double* qx,
                                const double* qy, const double* theta, float* out_x, float* out_y,
                                uint8_t* settled) {
    place_lens_shortcut(p, 0, count, qx, qy, theta, out_x, out_y, settled);
}

}  // namespace orbv
