#include "stitch/stitch_maps.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "stitch/lens_shortcut.h"
#include "stitch/seam_band.h"
#include "util/numbers.h"

namespace orbv {
namespace {

// Everything of one pass that is the same for every pixel.
struct Pass {
    int32_t map_w = 0, map_h = 0, src_w = 0, src_h = 0, cx = 0, cy = 0;
    double radius = 0;  // R as a double
    bool band = false;  // B > 0
    double strip = 0;   // strip height in rows
    double band_low = 0, band_high = 0;
    double k = 0;  // pixels per radian
    double lens1_roll = 0, lens2_roll = 0;
    // Rz(about_z) * Rx(about_x) * Ry(about_y), each coefficient grouped as the rotation formula
    // groups it; xy is subtracted.
    double xx = 0, xy = 0, xz = 0, yx = 0, yy = 0, yz = 0, zx = 0, zy = 0, zz = 0;
    // Lens shortcut: allowed only where its error bound holds.
    bool shortcut = false;
    double c0 = 0, s0 = 0, c1 = 0, s1 = 0;
};

Pass make_pass(cv::Size map_size, cv::Size source_size, cv::Point centre, int32_t radius,
               int32_t band, const Rotation& a) {
    Pass p;
    p.map_w = map_size.width;
    p.map_h = map_size.height;
    p.src_w = source_size.width;
    p.src_h = source_size.height;
    p.cx = centre.x;
    p.cy = centre.y;
    p.radius = radius;
    p.band = band > 0;
    p.strip = SeamBandLayout::strip(band);
    const double half_height = p.strip * kPi / p.src_w * 0.5;
    p.band_low = kHalfPi - half_height;
    p.band_high = kHalfPi + half_height;
    p.k = p.radius / kHalfPi;
    p.lens1_roll = a.lens1_roll;
    p.lens2_roll = a.lens2_roll;
    const double c2 = std::cos(a.about_x), s2 = std::sin(a.about_x);
    const double c3 = std::cos(a.about_z), s3 = std::sin(a.about_z);
    const double c4 = std::cos(a.about_y), s4 = std::sin(a.about_y);
    p.xx = c3 * c4 - s3 * s2 * s4;
    p.xy = s3 * c2;
    p.xz = s3 * s2 * c4 + c3 * s4;
    p.yx = c3 * s2 * s4 + s3 * c4;
    p.yy = c3 * c2;
    p.yz = s3 * s4 - c3 * s2 * c4;
    p.zx = -c2 * s4;
    p.zy = s2;
    p.zz = c2 * c4;
    p.c0 = std::cos(p.lens1_roll);
    p.s0 = std::sin(p.lens1_roll);
    p.c1 = std::cos(p.lens2_roll);
    p.s1 = std::sin(p.lens2_roll);
    p.shortcut = std::fabs(p.lens1_roll) <= 32 && std::fabs(p.lens2_roll) <= 32 &&
                 p.radius <= 1e6 && std::llabs(p.cx) <= 1000000 && std::llabs(p.cy) <= 1000000 &&
                 std::llabs(p.src_h) <= 1000000;
    return p;
}

struct Rotated {
    double x, y, z;
};

inline Rotated rotate(const Pass& p, double x, double y, double z) {
    return {p.xx * x - p.xy * y + p.xz * z, p.yx * x + p.yy * y + p.yz * z,
            p.zx * x + p.zy * y + p.zz * z};
}

// Rounding can push z/R a hair beyond +-1, where acos has no value; such a point lies on a
// lens axis, so it is held there.
inline double clamp_cosine(double c) { return c > 1.0 ? 1.0 : (c < -1.0 ? -1.0 : c); }

// Angle from the lens-1 axis.
inline double polar_angle(const Pass& p, double z) { return std::acos(clamp_cosine(z / p.radius)); }

inline bool on_band(const Pass& p, double theta) {
    return p.band && p.band_low < theta && theta < p.band_high;
}

// The sampling position for angles theta and psi: the exact computation.
SourcePoint place(const Pass& p, double theta, double psi) {
    if (on_band(p, theta)) {
        double u = (kThreeHalfPi - psi) * p.src_w / kPi;
        if (u > 2.0 * p.src_w) u -= 2.0 * p.src_w;
        const double v = (theta - p.band_low) * p.src_h / kPi;
        // Below both lens images; the right strip lies past a guard, the left strip and a guard.
        const double below = 2.0 * p.src_h + v;
        if (u < p.src_w) return {std::min(u, p.src_w - 1.0), below + SeamBandLayout::kGuardRows};
        return {std::min(u, 2.0 * p.src_w - 1) - p.src_w,
                below + p.strip + 2 * SeamBandLayout::kGuardRows};
    }
    if (theta < kHalfPi) {
        const double rho = p.k * theta;
        const double angle = psi + p.lens1_roll;
        return {p.cx + rho * std::cos(angle), p.cy + rho * std::sin(angle)};
    }
    const double rho = p.k * (kPi - theta);
    const double angle = psi - kHalfPi + p.lens2_roll;
    return {p.cx + rho * std::sin(angle), (p.cy + p.src_h) + rho * std::cos(angle)};
}

LensTerms lens_terms(const Pass& p) {
    LensTerms t;
    t.k = p.k;
    t.c0 = p.c0;
    t.s0 = p.s0;
    t.c1 = p.c1;
    t.s1 = p.s1;
    t.cx = p.cx;
    t.cy1 = p.cy;
    t.cy2 = static_cast<double>(p.cy) + p.src_h;
    return t;
}

void fill_pass(const Pass& pass, SimdPath path, cv::Mat& map_x, cv::Mat& map_y) {
    // A copy of its own: the calls below cannot change it, so its fields stay in registers.
    const Pass p = pass;
    map_x.create(p.map_h, p.map_w, CV_32FC1);
    map_y.create(p.map_h, p.map_w, CV_32FC1);
    if (p.map_w <= 0 || p.map_h <= 0) return;
    const int32_t n = p.map_w;
    // Longitude depends on the column only, polar angle on the row only.
    std::vector<double> cos_lambda(n), sin_lambda(n);
    for (int32_t j = 0; j < n; ++j) {
        const double lambda = j * kTwoPi / n - kPi;
        cos_lambda[j] = std::cos(lambda);
        sin_lambda[j] = std::sin(lambda);
    }
    std::vector<double> qx(n), qy(n), qz(n), theta(n);
    std::vector<uint8_t> settled(n);
    const bool vector = path == SimdPath::kFast && vector_path_available();
    const LensTerms lens = lens_terms(p);
    for (int32_t i = 0; i < p.map_h; ++i) {
        const double phi = i * kPi / p.map_h;
        const double rs = p.radius * std::sin(phi);
        const double z = p.radius * std::cos(phi);
        for (int32_t j = 0; j < n; ++j) {
            const Rotated q = rotate(p, rs * cos_lambda[j], rs * sin_lambda[j], z);
            qx[j] = q.x;
            qy[j] = q.y;
            qz[j] = clamp_cosine(q.z / p.radius);
        }
        for (int32_t j = 0; j < n; ++j) theta[j] = std::acos(qz[j]);
        float* row_x = map_x.ptr<float>(i);
        float* row_y = map_y.ptr<float>(i);
        if (p.shortcut && vector) {
            place_lens_shortcut_vector(lens, n, qx.data(), qy.data(), theta.data(), row_x, row_y,
                                       settled.data());
        } else if (p.shortcut) {
            place_lens_shortcut(lens, 0, n, qx.data(), qy.data(), theta.data(), row_x, row_y,
                                settled.data());
        } else {
            std::fill(settled.begin(), settled.end(), 0);
        }
        for (int32_t j = 0; j < n; ++j) {
            if (settled[j] && !on_band(p, theta[j])) continue;
            const SourcePoint s = place(p, theta[j], std::atan2(qx[j], qy[j]));
            row_x[j] = static_cast<float>(s.x);
            row_y[j] = static_cast<float>(s.y);
        }
    }
}

}  // namespace

SourcePoint project_to_source(int32_t j, int32_t i, cv::Size map_size, cv::Size source_size,
                              cv::Point centre, int32_t radius, int32_t band,
                              const Rotation& rotation) {
    const Pass p = make_pass(map_size, source_size, centre, radius, band, rotation);
    const double lambda = j * kTwoPi / p.map_w - kPi;
    const double phi = i * kPi / p.map_h;
    const double rs = p.radius * std::sin(phi);
    const Rotated q =
        rotate(p, rs * std::cos(lambda), rs * std::sin(lambda), p.radius * std::cos(phi));
    return place(p, polar_angle(p, q.z), std::atan2(q.x, q.y));
}

void build_pass_maps(cv::Size map_size, cv::Size source_size, cv::Point centre, int32_t radius,
                     int32_t band, const Rotation& rotation, SimdPath path, cv::Mat& map_x,
                     cv::Mat& map_y) {
    fill_pass(make_pass(map_size, source_size, centre, radius, band, rotation), path, map_x, map_y);
}

StitchMaps build_stitch_maps(cv::Size output_size, cv::Size source_size, double lens_radius,
                             int32_t band_rows, const Rotation& rotation, SimdPath path) {
    StitchMaps maps;
    maps.output_size = output_size;
    maps.source_size = source_size;
    maps.band_rows = band_rows;
    const int32_t w = source_size.width, h = source_size.height;
    cv::Mat map_x, map_y;
    build_pass_maps(output_size, source_size, cv::Point(w / 2, h / 2),
                    truncate_to_int32(lens_radius), band_rows, rotation, path, map_x, map_y);
    maps.map = to_fixed_point(map_x, map_y);
    // The chroma band: the same guards around strips of half the rows.
    const int32_t half_band =
        truncate_to_int32(SeamBandLayout::strip(band_rows) + SeamBandLayout::kExtraRows);
    build_pass_maps(cv::Size(output_size.width / 2, output_size.height / 2), cv::Size(w / 2, h / 2),
                    cv::Point(w / 2 / 2, h / 2 / 2), truncate_to_int32(lens_radius * 0.5),
                    half_band, rotation, path, map_x, map_y);
    maps.map_half = to_fixed_point(map_x, map_y);
    return maps;
}

}  // namespace orbv
