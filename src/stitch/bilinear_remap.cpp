#include "stitch/bilinear_remap.h"

#include <immintrin.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <opencv2/imgproc.hpp>

#include "util/band_pool.h"

namespace orbv {
namespace {

// The output is walked tile by tile: a tile's source area stays in the caches while its rows
// are remapped, and the next tile's is fetched meanwhile.
constexpr int kTileRows = 16, kTileCols = 128;
// A tile whose taps spread over more source lines (one that straddles both lenses, say) is not
// fetched ahead: it would evict more than it brings.
constexpr int kMaxTileLines = 1024;

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

// Asks for the line holding p. In assembly: the compiler takes the intrinsic for free of
// effects and drops loops that do nothing else.
inline void prefetch(const void* p) {
    asm volatile("prefetcht0 %0" : : "m"(*static_cast<const char*>(p)));
}

// Asks for the source lines that a tile with taps in `box` reads (each tap and the pixel to
// its right and below). Its reads jump between rows, which the processor does not foresee.
template <int N>
void fetch_tile_source(const Planes<N>& s, const cv::Vec4i& box) {
    const int x0 = std::max(box[0], 0), y0 = std::max(box[1], 0);
    const int x1 = std::min(box[2] + 1, s.width - 1), y1 = std::min(box[3] + 1, s.height - 1);
    if (x0 > x1 || y0 > y1 || ((x1 - x0) / 64 + 2) * (y1 - y0 + 1) > kMaxTileLines) return;
    for (int n = 0; n < N; ++n) {
        for (int y = y0; y <= y1; ++y) {
            const uint8_t* row = s.data[n] + static_cast<size_t>(y) * s.step;
            const uintptr_t last = reinterpret_cast<uintptr_t>(row + x1);
            for (uintptr_t line = reinterpret_cast<uintptr_t>(row + x0) & ~uintptr_t{63};
                 line <= last; line += 64)
                prefetch(reinterpret_cast<const char*>(line));
        }
    }
}

// The map of one tile row, fetched a row ahead: within a tile the map is read in short pieces
// from rows far apart, which the processor does not foresee either.
inline void fetch_map_row(const FixedPointMap& map, int row, int first, int count) {
    const char* taps = reinterpret_cast<const char*>(map.taps.ptr<int16_t>(row) + 2 * first);
    for (int b = 0; b < 4 * (count - first); b += 64) prefetch(taps + b);
    const char* fractions = reinterpret_cast<const char*>(map.fractions.ptr<uint16_t>(row) + first);
    for (int b = 0; b < 2 * (count - first); b += 64) prefetch(fractions + b);
}

// The output pixels of one tile, row by row.
template <int N>
void remap_tile(const Planes<N>& planes, const FixedPointMap& map, cv::Mat* const* dst,
                const cv::Rect& tile, bool fast) {
    uint8_t* rows[N];
    for (int i = tile.y; i < tile.y + tile.height; ++i) {
        if (i + 1 < tile.y + tile.height) fetch_map_row(map, i + 1, tile.x, tile.x + tile.width);
        for (int n = 0; n < N; ++n) rows[n] = dst[n]->ptr<uint8_t>(i);
        const int16_t* taps = map.taps.ptr<int16_t>(i);
        const uint16_t* fractions = map.fractions.ptr<uint16_t>(i);
        if (fast) {
            remap_row_avx2(planes, taps, fractions, rows, tile.x, tile.x + tile.width);
        } else {
            remap_row_portable(planes, taps, fractions, rows, tile.x, tile.x + tile.width);
        }
    }
}

template <int N>
void remap_planes(const cv::Mat* const* src, const FixedPointMap& map, cv::Mat* const* dst,
                  SimdPath path, BandPool* pool) {
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
    const cv::Mat& bounds = map.tile_bounds;
    const int tile_rows = (taps.rows + kTileRows - 1) / kTileRows;
    const int tile_cols = (taps.cols + kTileCols - 1) / kTileCols;
    const bool bounded =
        bounds.type() == CV_32SC4 && bounds.rows == tile_rows && bounds.cols == tile_cols;
    // Tiles [first, last) in order, each fetching the next one's source ahead.
    auto remap_tiles = [&](int first, int last) {
        for (int t = first; t < last; ++t) {
            if (bounded && t + 1 < last)
                fetch_tile_source(planes,
                                  bounds.at<cv::Vec4i>((t + 1) / tile_cols, (t + 1) % tile_cols));
            const cv::Rect tile(t % tile_cols * kTileCols, t / tile_cols * kTileRows, kTileCols,
                                kTileRows);
            remap_tile(planes, map, dst, tile & cv::Rect(0, 0, taps.cols, taps.rows), fast);
        }
    };
    run_in_bands(pool, tile_rows, [&](int first_row, int last_row) {
        remap_tiles(first_row * tile_cols, last_row * tile_cols);
    });
}

cv::Mat tile_bounds(const cv::Mat& taps) {
    const int tile_rows = (taps.rows + kTileRows - 1) / kTileRows;
    const int tile_cols = (taps.cols + kTileCols - 1) / kTileCols;
    cv::Mat bounds(tile_rows, tile_cols, CV_32SC4, cv::Scalar(INT_MAX, INT_MAX, INT_MIN, INT_MIN));
    for (int i = 0; i < taps.rows; ++i) {
        const int16_t* row = taps.ptr<int16_t>(i);
        cv::Vec4i* box = bounds.ptr<cv::Vec4i>(i / kTileRows);
        for (int j = 0; j < taps.cols; ++j) {
            cv::Vec4i& b = box[j / kTileCols];
            b = {std::min<int>(b[0], row[2 * j]), std::min<int>(b[1], row[2 * j + 1]),
                 std::max<int>(b[2], row[2 * j]), std::max<int>(b[3], row[2 * j + 1])};
        }
    }
    return bounds;
}

}  // namespace

FixedPointMap to_fixed_point(const cv::Mat& map_x, const cv::Mat& map_y) {
    FixedPointMap map;
    if (map_x.empty()) return map;
    cv::convertMaps(map_x, map_y, map.taps, map.fractions, CV_16SC2);
    map.tile_bounds = tile_bounds(map.taps);
    return map;
}

void remap_bilinear(const cv::Mat& src, const FixedPointMap& map, cv::Mat& dst, SimdPath path,
                    BandPool* pool) {
    const cv::Mat* sources[1] = {&src};
    cv::Mat* targets[1] = {&dst};
    remap_planes<1>(sources, map, targets, path, pool);
}

void remap_bilinear_pair(const cv::Mat& src1, const cv::Mat& src2, const FixedPointMap& map,
                         cv::Mat& dst1, cv::Mat& dst2, SimdPath path, BandPool* pool) {
    const cv::Mat* sources[2] = {&src1, &src2};
    cv::Mat* targets[2] = {&dst1, &dst2};
    remap_planes<2>(sources, map, targets, path, pool);
}

}  // namespace orbv
