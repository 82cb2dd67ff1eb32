#include "stitch/bilinear_remap.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <opencv2/imgproc.hpp>

#include "cache_prefetch.h"  // the processor's own, from its folder
#include "stitch/remap_row.h"
#include "util/band_pool.h"

namespace orbv {
namespace {

// A tile whose taps spread over more source lines (one that straddles both lenses, say) is not
// fetched ahead: it would evict more than it brings.
constexpr int kMaxTileLines = 1024;

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
                // NOLINTNEXTLINE(performance-no-int-to-ptr): a cache line's address, never read
                prefetch_line(reinterpret_cast<const char*>(line));
        }
    }
}

// The map of one tile row, fetched a row ahead: within a tile the map is read in short pieces
// from rows far apart, which the processor does not foresee either.
inline void fetch_map_row(const FixedPointMap& map, int row, int first, int count) {
    const char* taps = reinterpret_cast<const char*>(map.taps.ptr<int16_t>(row) + 2 * first);
    for (int b = 0; b < 4 * (count - first); b += 64) prefetch_line(taps + b);
    const char* fractions = reinterpret_cast<const char*>(map.fractions.ptr<uint16_t>(row) + first);
    for (int b = 0; b < 2 * (count - first); b += 64) prefetch_line(fractions + b);
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
            remap_row_vector(planes, taps, fractions, rows, tile.x, tile.x + tile.width);
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
    const bool fast = path == SimdPath::kFast && vector_path_available();
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
