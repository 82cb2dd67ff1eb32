#pragma once

#include <cstddef>
#include <cstdint>

namespace orbv {

// The output is walked tile by tile: a tile's source area stays in the caches while its rows
// are remapped, and the next tile's is fetched meanwhile.
constexpr int kTileRows = 16, kTileCols = 128;

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

// Output pixels first..count-1 of one row.
template <int N>
void remap_row_portable(const Planes<N>& s, const int16_t* taps, const uint16_t* fractions,
                        uint8_t* const* out, int first, int count) {
    for (int j = first; j < count; ++j) {
        const Position p = locate(taps, fractions, j);
        for (int n = 0; n < N; ++n) out[n][j] = sample(s.data[n], s.step, s.width, s.height, p);
    }
}

// The same bytes through the processor's vector unit, over at most one tile row (N is 1 or
// 2). Only where vector_path_available() holds; the build picks the code for its processor.
template <int N>
void remap_row_vector(const Planes<N>& s, const int16_t* taps, const uint16_t* fractions,
                      uint8_t* const* out, int first, int count);

}  // namespace orbv
