#include "stitch/bilinear_remap.h"

#include <immintrin.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <opencv2/imgproc.hpp>

namespace orbv {
namespace {

// The planes of one pass: same size and row stride.
template <int N>
struct Planes {
    const uint8_t* data[N];
    size_t step;
    int width;
    int height;
};

// One sampling position: the top-left tap and the 1/32-pixel fractions.
struct Position {
    int sx, sy, tx, ty;
};

inline Position locate(const int16_t* taps, const uint16_t* fractions, int j) {
    return {taps[2 * j], taps[2 * j + 1], fractions[j] & 31, fractions[j] >> 5};
}

// One output value. The four taps are weighted (32-tx)(32-ty), tx(32-ty), (32-tx)ty and tx ty
// (the matrix library's 15-bit weights divided by 32, which leaves the rounded result
// unchanged); taps outside the plane read 0.
inline uint8_t sample(const uint8_t* data, size_t step, int width, int height, const Position& p) {
    const int w0 = (32 - p.tx) * (32 - p.ty), w1 = p.tx * (32 - p.ty);
    const int w2 = (32 - p.tx) * p.ty, w3 = p.tx * p.ty;
    if (static_cast<unsigned>(p.sx) < static_cast<unsigned>(width - 1) &&
        static_cast<unsigned>(p.sy) < static_cast<unsigned>(height - 1)) {
        const uint8_t* q = data + static_cast<size_t>(p.sy) * step + p.sx;
        return static_cast<uint8_t>(
            (q[0] * w0 + q[1] * w1 + q[step] * w2 + q[step + 1] * w3 + 512) >> 10);
    }
    if (p.sx >= width || p.sx + 1 < 0 || p.sy >= height || p.sy + 1 < 0) return 0;
    auto tap = [&](int x, int y) -> int {
        if (x < 0 || x >= width || y < 0 || y >= height) return 0;
        return data[static_cast<size_t>(y) * step + x];
    };
    return static_cast<uint8_t>((tap(p.sx, p.sy) * w0 + tap(p.sx + 1, p.sy) * w1 +
                                 tap(p.sx, p.sy + 1) * w2 + tap(p.sx + 1, p.sy + 1) * w3 + 512) >>
                                10);
}

template <int N>
void remap_row_portable(const Planes<N>& s, const int16_t* taps, const uint16_t* fractions,
                        uint8_t* const* out, int first, int count) {
    for (int j = first; j < count; ++j) {
        const Position p = locate(taps, fractions, j);
        for (int n = 0; n < N; ++n) out[n][j] = sample(s.data[n], s.step, s.width, s.height, p);
    }
}

// Eight pixels at a time. A group goes the vector way when all eight have their four taps
// inside and lie at least two rows above the bottom: each gather reads four bytes from the
// left tap, two more than needed, which then stay inside the plane's buffer.
template <int N>
__attribute__((target("avx2"))) void remap_row_avx2(const Planes<N>& s, const int16_t* taps,
                                                    const uint16_t* fractions, uint8_t* const* out,
                                                    int first, int count) {
    int j = first;
    // Offsets are 32-bit in the gathers.
    if (s.width >= 2 && s.height >= 3 && s.step * static_cast<size_t>(s.height) < INT_MAX) {
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
                _mm256_zeroupper();
                remap_row_portable(s, taps, fractions, out, j, j + 8);
                continue;
            }
            const __m256i offset = _mm256_add_epi32(_mm256_mullo_epi32(sy, step), sx);
            const __m256i tx = _mm256_and_si256(f, fraction), ty = _mm256_srli_epi32(f, 5);
            const __m256i wx =
                _mm256_or_si256(_mm256_sub_epi32(one, tx), _mm256_slli_epi32(tx, 16));
            const __m256i wy =
                _mm256_or_si256(_mm256_sub_epi32(one, ty), _mm256_slli_epi32(ty, 16));
            for (int n = 0; n < N; ++n) {
                const int* top_base = reinterpret_cast<const int*>(s.data[n]);
                const int* bottom_base = reinterpret_cast<const int*>(s.data[n] + s.step);
                const __m256i top = _mm256_i32gather_epi32(top_base, offset, 1);
                const __m256i bottom = _mm256_i32gather_epi32(bottom_base, offset, 1);
                const __m256i upper = _mm256_madd_epi16(_mm256_shuffle_epi8(top, pairs), wx);
                const __m256i lower = _mm256_madd_epi16(_mm256_shuffle_epi8(bottom, pairs), wx);
                const __m256i sum =
                    _mm256_madd_epi16(_mm256_or_si256(upper, _mm256_slli_epi32(lower, 16)), wy);
                const __m256i value = _mm256_srli_epi32(_mm256_add_epi32(sum, half), 10);
                const __m256i words = _mm256_packus_epi32(value, value);
                const __m256i bytes = _mm256_packus_epi16(words, words);
                const uint32_t low = static_cast<uint32_t>(_mm256_cvtsi256_si32(bytes));
                const uint32_t high =
                    static_cast<uint32_t>(_mm_cvtsi128_si32(_mm256_extracti128_si256(bytes, 1)));
                std::memcpy(out[n] + j, &low, 4);
                std::memcpy(out[n] + j + 4, &high, 4);
            }
        }
    }
    // The portable code and every caller are SSE code, which runs slowly (on some processors
    // many times slower) while upper halves of the AVX registers hold data; the compiler does
    // not clear them around these calls by itself.
    _mm256_zeroupper();
    remap_row_portable(s, taps, fractions, out, j, count);
}

template <int N>
void remap_planes(const cv::Mat* const* src, const FixedPointMap& map, cv::Mat* const* dst,
                  SimdPath path) {
    for (int n = 0; n < N; ++n) {
        CV_Assert(src[n]->type() == CV_8UC1 && !src[n]->empty());
        CV_Assert(src[n]->size() == src[0]->size() && src[n]->step[0] == src[0]->step[0]);
    }
    const cv::Mat& taps = map.taps;
    CV_Assert(taps.type() == CV_16SC2 && map.fractions.type() == CV_16UC1 && !taps.empty() &&
              taps.size() == map.fractions.size());
    CV_Assert(taps.cols < SHRT_MAX && taps.rows < SHRT_MAX && src[0]->cols < SHRT_MAX &&
              src[0]->rows < SHRT_MAX);
    Planes<N> planes;
    for (int n = 0; n < N; ++n) planes.data[n] = src[n]->data;
    planes.step = src[0]->step[0];
    planes.width = src[0]->cols;
    planes.height = src[0]->rows;
    for (int n = 0; n < N; ++n) {
        for (int m = 0; m < N; ++m)
            CV_Assert(dst[n]->data == nullptr || dst[n]->data != src[m]->data);
        dst[n]->create(taps.size(), CV_8UC1);
    }
    static const bool avx2 = __builtin_cpu_supports("avx2");
    const bool fast = path == SimdPath::kFast && avx2;
    uint8_t* rows[N];
    for (int i = 0; i < taps.rows; ++i) {
        for (int n = 0; n < N; ++n) rows[n] = dst[n]->ptr<uint8_t>(i);
        const int16_t* row_taps = taps.ptr<int16_t>(i);
        const uint16_t* row_fractions = map.fractions.ptr<uint16_t>(i);
        if (fast) {
            remap_row_avx2(planes, row_taps, row_fractions, rows, 0, taps.cols);
        } else {
            remap_row_portable(planes, row_taps, row_fractions, rows, 0, taps.cols);
        }
    }
}

}  // namespace

FixedPointMap to_fixed_point(const cv::Mat& map_x, const cv::Mat& map_y) {
    FixedPointMap map;
    if (map_x.empty()) return map;
    cv::convertMaps(map_x, map_y, map.taps, map.fractions, CV_16SC2);
    return map;
}

void remap_bilinear(const cv::Mat& src, const FixedPointMap& map, cv::Mat& dst, SimdPath path) {
    const cv::Mat* sources[1] = {&src};
    cv::Mat* targets[1] = {&dst};
    remap_planes<1>(sources, map, targets, path);
}

void remap_bilinear_pair(const cv::Mat& src1, const cv::Mat& src2, const FixedPointMap& map,
                         cv::Mat& dst1, cv::Mat& dst2, SimdPath path) {
    const cv::Mat* sources[2] = {&src1, &src2};
    cv::Mat* targets[2] = {&dst1, &dst2};
    remap_planes<2>(sources, map, targets, path);
}

}  // namespace orbv
