// The stitch's AVX2 code and the check for it.
#include <immintrin.h>

#include <climits>
#include <cstdint>
#include <cstring>

#include "stitch/lens_shortcut.h"
#include "stitch/remap_row.h"
#include "stitch/simd_path.h"
#include "util/numbers.h"

namespace orbv {
namespace {

// The four taps of one position: top pair in the low half, bottom pair in the high half.
inline int tap_quad(const uint8_t* data, size_t step, int offset) {
    uint16_t top, bottom;
    std::memcpy(&top, data + offset, 2);
    std::memcpy(&bottom, data + offset + step, 2);
    return static_cast<int>(top | static_cast<uint32_t>(bottom) << 16);
}

// Eight pixels at a time, over at most one tile row. A group goes the vector way when all
// eight have their four taps inside. The taps are read with plain loads: on the processors at
// hand gathers cost more.
template <int N>
__attribute__((target("avx2"))) void remap_row_avx2(const Planes<N>& s, const int16_t* taps,
                                                    const uint16_t* fractions, uint8_t* const* out,
                                                    int first, int count) {
    int j = first;
    // Groups with taps outside go the portable way after the loop: a call inside it would
    // make the compiler keep the loop's constants in memory instead of registers.
    int edge_groups[kTileCols / 8];
    int edges = 0;
    // Offsets are 32-bit.
    if (s.width >= 2 && s.height >= 2 && s.step * static_cast<size_t>(s.height) < INT_MAX) {
        const __m256i last_x = _mm256_set1_epi32(s.width - 2);
        const __m256i last_y = _mm256_set1_epi32(s.height - 2);
        const __m256i step = _mm256_set1_epi32(static_cast<int>(s.step));
        const __m256i fraction = _mm256_set1_epi32(31);
        const __m256i one = _mm256_set1_epi32(32);
        const __m256i half = _mm256_set1_epi32(512);
        for (; j + 8 <= count; j += 8) {
            const __m256i xy = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(taps + 2 * j));
            const __m256i sx = _mm256_srai_epi32(_mm256_slli_epi32(xy, 16), 16);
            const __m256i sy = _mm256_srai_epi32(xy, 16);
            const __m256i f = _mm256_cvtepu16_epi32(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(fractions + j)));
            const __m256i inside =
                _mm256_and_si256(_mm256_cmpeq_epi32(_mm256_min_epu32(sx, last_x), sx),
                                 _mm256_cmpeq_epi32(_mm256_min_epu32(sy, last_y), sy));
            if (_mm256_movemask_epi8(inside) != -1) {
                edge_groups[edges++] = j;
                continue;
            }
            alignas(32) int offset[8];
            _mm256_store_si256(reinterpret_cast<__m256i*>(offset),
                               _mm256_add_epi32(_mm256_mullo_epi32(sy, step), sx));
            // Bytes (32-tx, tx) twice and words (32-ty, ty): across the pairs first, then down.
            const __m256i tx = _mm256_and_si256(f, fraction), ty = _mm256_srli_epi32(f, 5);
            const __m256i wx2 =
                _mm256_or_si256(_mm256_sub_epi32(one, tx), _mm256_slli_epi32(tx, 8));
            const __m256i wx = _mm256_or_si256(wx2, _mm256_slli_epi32(wx2, 16));
            const __m256i wy =
                _mm256_or_si256(_mm256_sub_epi32(one, ty), _mm256_slli_epi32(ty, 16));
            for (int n = 0; n < N; ++n) {
                const uint8_t* d = s.data[n];
                __m128i low = _mm_cvtsi32_si128(tap_quad(d, s.step, offset[0]));
                low = _mm_insert_epi32(low, tap_quad(d, s.step, offset[1]), 1);
                low = _mm_insert_epi32(low, tap_quad(d, s.step, offset[2]), 2);
                low = _mm_insert_epi32(low, tap_quad(d, s.step, offset[3]), 3);
                __m128i high = _mm_cvtsi32_si128(tap_quad(d, s.step, offset[4]));
                high = _mm_insert_epi32(high, tap_quad(d, s.step, offset[5]), 1);
                high = _mm_insert_epi32(high, tap_quad(d, s.step, offset[6]), 2);
                high = _mm_insert_epi32(high, tap_quad(d, s.step, offset[7]), 3);
                const __m256i quads = _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
                const __m256i sum = _mm256_madd_epi16(_mm256_maddubs_epi16(quads, wx), wy);
                const __m256i value = _mm256_srli_epi32(_mm256_add_epi32(sum, half), 10);
                const __m256i words = _mm256_packus_epi32(value, value);
                const __m256i bytes = _mm256_packus_epi16(words, words);
                const uint32_t lo = static_cast<uint32_t>(_mm256_cvtsi256_si32(bytes));
                const uint32_t hi =
                    static_cast<uint32_t>(_mm_cvtsi128_si32(_mm256_extracti128_si256(bytes, 1)));
                std::memcpy(out[n] + j, &lo, 4);
                std::memcpy(out[n] + j + 4, &hi, 4);
            }
        }
    }
    // The portable code and every caller are SSE code, which runs slowly (on some processors
    // many times slower) while upper halves of the AVX registers hold data; the compiler does
    // not clear them around these calls by itself.
    _mm256_zeroupper();
    for (int e = 0; e < edges; ++e)
        remap_row_portable(s, taps, fractions, out, edge_groups[e], edge_groups[e] + 8);
    remap_row_portable(s, taps, fractions, out, j, count);
}

// Four pixels at a time.
__attribute__((target("avx2"))) void place_lens_shortcut_avx2(const LensTerms& p, int32_t count,
                                                              const double* qx, const double* qy,
                                                              const double* theta, float* out_x,
                                                              float* out_y, uint8_t* settled) {
    const __m256d one = _mm256_set1_pd(1.0), half_pi = _mm256_set1_pd(kHalfPi);
    const __m256d pi = _mm256_set1_pd(kPi), k = _mm256_set1_pd(p.k);
    const __m256d c0 = _mm256_set1_pd(p.c0), s0 = _mm256_set1_pd(p.s0);
    const __m256d c1 = _mm256_set1_pd(p.c1), s1 = _mm256_set1_pd(p.s1);
    const __m256d cx = _mm256_set1_pd(p.cx), cy1 = _mm256_set1_pd(p.cy1);
    const __m256d cy2 = _mm256_set1_pd(p.cy2);
    const __m256d margin = _mm256_set1_pd(kShortcutMargin);
    const __m256d sign = _mm256_set1_pd(-0.0);
    const __m256d min_length2 = _mm256_set1_pd(kShortcutMinLength2);
    int32_t j = 0;
    for (; j + 4 <= count; j += 4) {
        const __m256d qxj = _mm256_loadu_pd(qx + j), qyj = _mm256_loadu_pd(qy + j);
        const __m256d t = _mm256_loadu_pd(theta + j);
        const __m256d length2 = _mm256_add_pd(_mm256_mul_pd(qxj, qxj), _mm256_mul_pd(qyj, qyj));
        const __m256d inv = _mm256_div_pd(one, _mm256_sqrt_pd(length2));
        const __m256d sin_psi = _mm256_mul_pd(qxj, inv), cos_psi = _mm256_mul_pd(qyj, inv);
        const __m256d lens1 = _mm256_cmp_pd(t, half_pi, _CMP_LT_OQ);
        const __m256d rho = _mm256_mul_pd(k, _mm256_blendv_pd(_mm256_sub_pd(pi, t), t, lens1));
        const __m256d c = _mm256_blendv_pd(
            _mm256_sub_pd(_mm256_mul_pd(sin_psi, s1), _mm256_mul_pd(cos_psi, c1)),
            _mm256_sub_pd(_mm256_mul_pd(cos_psi, c0), _mm256_mul_pd(sin_psi, s0)), lens1);
        const __m256d s = _mm256_blendv_pd(
            _mm256_add_pd(_mm256_mul_pd(sin_psi, c1), _mm256_mul_pd(cos_psi, s1)),
            _mm256_add_pd(_mm256_mul_pd(sin_psi, c0), _mm256_mul_pd(cos_psi, s0)), lens1);
        const __m256d x = _mm256_add_pd(cx, _mm256_mul_pd(rho, c));
        const __m256d y = _mm256_add_pd(_mm256_blendv_pd(cy2, cy1, lens1), _mm256_mul_pd(rho, s));
        const __m256d ex = _mm256_mul_pd(margin, _mm256_add_pd(rho, _mm256_andnot_pd(sign, x)));
        const __m256d ey = _mm256_mul_pd(margin, _mm256_add_pd(rho, _mm256_andnot_pd(sign, y)));
        const __m128 x_low = _mm256_cvtpd_ps(_mm256_sub_pd(x, ex));
        const __m128 x_high = _mm256_cvtpd_ps(_mm256_add_pd(x, ex));
        const __m128 y_low = _mm256_cvtpd_ps(_mm256_sub_pd(y, ey));
        const __m128 y_high = _mm256_cvtpd_ps(_mm256_add_pd(y, ey));
        _mm_storeu_ps(out_x + j, x_low);
        _mm_storeu_ps(out_y + j, y_low);
        const int equal =
            _mm_movemask_ps(_mm_and_ps(_mm_cmpeq_ps(x_low, x_high), _mm_cmpeq_ps(y_low, y_high))) &
            _mm256_movemask_pd(_mm256_cmp_pd(length2, min_length2, _CMP_GT_OQ));
        for (int b = 0; b < 4; ++b) settled[j + b] = (equal >> b) & 1;
    }
    place_lens_shortcut(p, j, count, qx, qy, theta, out_x, out_y, settled);
}

}  // namespace

bool vector_path_available() {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
}

template <int N>
void remap_row_vector(const Planes<N>& s, const int16_t* taps, const uint16_t* fractions,
                      uint8_t* const* out, int first, int count) {
    remap_row_avx2(s, taps, fractions, out, first, count);
}
template void remap_row_vector<1>(const Planes<1>&, const int16_t*, const uint16_t*,
                                  uint8_t* const*, int, int);
template void remap_row_vector<2>(const Planes<2>&, const int16_t*, const uint16_t*,
                                  uint8_t* const*, int, int);

void place_lens_shortcut_vector(const LensTerms& p, int32_t count, const double* qx,
                                const double* qy, const double* theta, float* out_x, float* out_y,
                                uint8_t* settled) {
    place_lens_shortcut_avx2(p, count, qx, qy, theta, out_x, out_y, settled);
}

}  // namespace orbv
