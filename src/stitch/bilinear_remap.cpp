#include "stitch/bilinear_remap.h"

#include <immintrin.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

namespace orbv {
namespace {

// Position rounding as the matrix library does it: to nearest, ties to even, and INT_MIN for
// NaN or values beyond the int range.
inline int round_to_int(float value) { return _mm_cvtss_si32(_mm_set_ss(value)); }

inline int saturate_short(int value) { return std::min(std::max(value, SHRT_MIN), SHRT_MAX); }

struct Plane {
    const uint8_t* data;
    size_t step;
    int width;
    int height;
};

// One output pixel. A position is kept in 1/32 pixel; the four taps are weighted
// (32-tx)(32-ty), tx(32-ty), (32-tx)ty and tx ty (the matrix library's 15-bit weights divided
// by 32, which leaves the rounded result unchanged), and taps outside the plane read 0.
inline uint8_t sample(const Plane& s, float fx, float fy) {
    const int x = round_to_int(fx * 32.f), y = round_to_int(fy * 32.f);
    const int sx = saturate_short(x >> 5), sy = saturate_short(y >> 5);
    const int tx = x & 31, ty = y & 31;
    const int w0 = (32 - tx) * (32 - ty), w1 = tx * (32 - ty), w2 = (32 - tx) * ty, w3 = tx * ty;
    if (static_cast<unsigned>(sx) < static_cast<unsigned>(s.width - 1) &&
        static_cast<unsigned>(sy) < static_cast<unsigned>(s.height - 1)) {
        const uint8_t* p = s.data + static_cast<size_t>(sy) * s.step + sx;
        return static_cast<uint8_t>(
            (p[0] * w0 + p[1] * w1 + p[s.step] * w2 + p[s.step + 1] * w3 + 512) >> 10);
    }
    if (sx >= s.width || sx + 1 < 0 || sy >= s.height || sy + 1 < 0) return 0;
    auto tap = [&s](int tap_x, int tap_y) -> int {
        if (tap_x < 0 || tap_x >= s.width || tap_y < 0 || tap_y >= s.height) return 0;
        return s.data[static_cast<size_t>(tap_y) * s.step + tap_x];
    };
    return static_cast<uint8_t>((tap(sx, sy) * w0 + tap(sx + 1, sy) * w1 + tap(sx, sy + 1) * w2 +
                                 tap(sx + 1, sy + 1) * w3 + 512) >>
                                10);
}

void remap_row_portable(const Plane& s, const float* map_x, const float* map_y, uint8_t* out,
                        int count) {
    for (int j = 0; j < count; ++j) out[j] = sample(s, map_x[j], map_y[j]);
}

// Eight pixels at a time. A group goes the vector way when all eight have their four taps
// inside and are at least two rows above the bottom: each gather reads four bytes from the
// left tap, two more than needed, which then stay inside the plane's buffer.
__attribute__((target("avx2"))) void remap_row_avx2(const Plane& s, const float* map_x,
                                                    const float* map_y, uint8_t* out, int count) {
    int j = 0;
    // Offsets are 32-bit in the gathers.
    if (s.width >= 2 && s.height >= 3 && s.step * static_cast<size_t>(s.height) < INT_MAX) {
        const __m256 scale = _mm256_set1_ps(32.f);
        const __m256i last_x = _mm256_set1_epi32(s.width - 2);
        const __m256i last_y = _mm256_set1_epi32(s.height - 3);
        const __m256i step = _mm256_set1_epi32(static_cast<int>(s.step));
        const __m256i fraction = _mm256_set1_epi32(31);
        const __m256i one = _mm256_set1_epi32(32);
        const __m256i half = _mm256_set1_epi32(512);
        // Bytes 0 and 1 of each gathered word as two 16-bit values.
        const __m256i pairs =
            _mm256_setr_epi8(0, -1, 1, -1, 4, -1, 5, -1, 8, -1, 9, -1, 12, -1, 13, -1, 0, -1, 1, -1,
                             4, -1, 5, -1, 8, -1, 9, -1, 12, -1, 13, -1);
        const int* top_base = reinterpret_cast<const int*>(s.data);
        const int* bottom_base = reinterpret_cast<const int*>(s.data + s.step);
        for (; j + 8 <= count; j += 8) {
            const __m256i x = _mm256_cvtps_epi32(_mm256_mul_ps(_mm256_loadu_ps(map_x + j), scale));
            const __m256i y = _mm256_cvtps_epi32(_mm256_mul_ps(_mm256_loadu_ps(map_y + j), scale));
            const __m256i sx = _mm256_srai_epi32(x, 5), sy = _mm256_srai_epi32(y, 5);
            const __m256i inside =
                _mm256_and_si256(_mm256_cmpeq_epi32(_mm256_min_epu32(sx, last_x), sx),
                                 _mm256_cmpeq_epi32(_mm256_min_epu32(sy, last_y), sy));
            if (_mm256_movemask_epi8(inside) != -1) {
                for (int k = j; k < j + 8; ++k) out[k] = sample(s, map_x[k], map_y[k]);
                continue;
            }
            const __m256i offset = _mm256_add_epi32(_mm256_mullo_epi32(sy, step), sx);
            const __m256i top = _mm256_i32gather_epi32(top_base, offset, 1);
            const __m256i bottom = _mm256_i32gather_epi32(bottom_base, offset, 1);
            const __m256i tx = _mm256_and_si256(x, fraction), ty = _mm256_and_si256(y, fraction);
            const __m256i wx =
                _mm256_or_si256(_mm256_sub_epi32(one, tx), _mm256_slli_epi32(tx, 16));
            const __m256i wy =
                _mm256_or_si256(_mm256_sub_epi32(one, ty), _mm256_slli_epi32(ty, 16));
            const __m256i upper = _mm256_madd_epi16(_mm256_shuffle_epi8(top, pairs), wx);
            const __m256i lower = _mm256_madd_epi16(_mm256_shuffle_epi8(bottom, pairs), wx);
            const __m256i sum =
                _mm256_madd_epi16(_mm256_or_si256(upper, _mm256_slli_epi32(lower, 16)), wy);
            const __m256i value = _mm256_srli_epi32(_mm256_add_epi32(sum, half), 10);
            const __m256i words = _mm256_packus_epi32(value, value);
            const __m256i bytes = _mm256_packus_epi16(words, words);
            const uint32_t first = static_cast<uint32_t>(_mm256_cvtsi256_si32(bytes));
            const uint32_t second =
                static_cast<uint32_t>(_mm_cvtsi128_si32(_mm256_extracti128_si256(bytes, 1)));
            std::memcpy(out + j, &first, 4);
            std::memcpy(out + j + 4, &second, 4);
        }
    }
    remap_row_portable(s, map_x + j, map_y + j, out + j, count - j);
}

using RowRemap = void (*)(const Plane&, const float*, const float*, uint8_t*, int);

void remap_rows(const cv::Mat& src, const cv::Mat& map_x, const cv::Mat& map_y, cv::Mat& dst,
                RowRemap row_remap) {
    CV_Assert(src.type() == CV_8UC1 && !src.empty());
    CV_Assert(map_x.type() == CV_32FC1 && map_y.type() == CV_32FC1 && !map_x.empty() &&
              map_x.size() == map_y.size());
    CV_Assert(map_x.cols < SHRT_MAX && map_x.rows < SHRT_MAX && src.cols < SHRT_MAX &&
              src.rows < SHRT_MAX);
    CV_Assert(dst.data != src.data);
    dst.create(map_x.size(), CV_8UC1);
    const Plane plane{src.data, src.step[0], src.cols, src.rows};
    for (int i = 0; i < dst.rows; ++i)
        row_remap(plane, map_x.ptr<float>(i), map_y.ptr<float>(i), dst.ptr<uint8_t>(i), dst.cols);
}

}  // namespace

void remap_bilinear(const cv::Mat& src, const cv::Mat& map_x, const cv::Mat& map_y, cv::Mat& dst) {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    remap_rows(src, map_x, map_y, dst, avx2 ? remap_row_avx2 : remap_row_portable);
}

void remap_bilinear_portable(const cv::Mat& src, const cv::Mat& map_x, const cv::Mat& map_y,
                             cv::Mat& dst) {
    remap_rows(src, map_x, map_y, dst, remap_row_portable);
}

}  // namespace orbv
