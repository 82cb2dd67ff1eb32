// The synthetic world and the fisheye lens model through which the lens pictures show it.
#include <algorithm>
#include <cmath>

#include "sample_shot.h"

namespace orbv_sample {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180.0;
constexpr int kCodeBits = 10;

struct Vec3 {
    double x, y, z;
};

Vec3 to_vector(const Direction& d) {
    return {std::sin(d.polar) * std::cos(d.lon), std::sin(d.polar) * std::sin(d.lon),
            std::cos(d.polar)};
}

Direction to_direction(const Vec3& v) {
    const double n = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    return {std::atan2(v.y, v.x), std::acos(std::clamp(v.z / n, -1.0, 1.0))};
}

double wrap_lon(double lon) {
    while (lon >= kPi) lon -= 2 * kPi;
    while (lon < -kPi) lon += 2 * kPi;
    return lon;
}

// The moving discs of a frame: one above the horizon turning one way, one below turning the
// other way, so that both lenses change from frame to frame.
struct Disc {
    Direction centre;
    double radius;
    uint8_t Y, U, V;
};

void frame_discs(int frame, Disc out[2]) {
    const double step = 2 * kPi * (frame % 16) / 16.0;
    out[0] = {{wrap_lon(-kPi + 0.2 + step), kPi / 2 - 20 * kDeg}, 10 * kDeg, 210, 16, 146};
    out[1] = {{wrap_lon(kPi - 0.3 - step), kPi / 2 + 25 * kDeg}, 9 * kDeg, 82, 90, 240};
}

bool in_disc(const Disc& disc, const Direction& d) {
    const Vec3 a = to_vector(disc.centre);
    const Vec3 b = to_vector(d);
    return a.x * b.x + a.y * b.y + a.z * b.z > std::cos(disc.radius);
}

void still_scene(const Direction& d, uint8_t* Y, uint8_t* U, uint8_t* V) {
    const double lat = kPi / 2 - d.polar;
    const double sat = lat > 0 ? 60.0 : 35.0;
    double y = lat > 0 ? 150 + 60 * lat / (kPi / 2) : 110 + 40 * lat / (kPi / 2);
    double u = 128 + sat * std::cos(d.lon);
    double v = 128 + sat * std::sin(d.lon);
    const double cell = 30 * kDeg;
    const int ci = static_cast<int>(std::floor((d.lon + kPi) / cell));
    const int cj = static_cast<int>(std::floor((lat + kPi / 2) / cell));
    if ((ci + cj) & 1) y -= 18;
    const double mlon = std::fmod(d.lon + kPi, cell);
    const double mlat = std::fmod(lat + kPi / 2, cell);
    const double meridian = std::min(mlon, cell - mlon) * std::cos(lat);
    const double parallel = std::min(mlat, cell - mlat);
    // Meridians stop short of the poles, where they would run together.
    if ((meridian < 0.5 * kDeg && std::fabs(lat) < 80 * kDeg) || parallel < 0.5 * kDeg) {
        y = 40;
        u = v = 128;
    }
    // Straight ahead (longitude 0) a red post from the horizon upwards marks the front.
    if (std::fabs(d.lon) < 2 * kDeg && lat > 0 && lat < 40 * kDeg) {
        y = 81;
        u = 90;
        v = 240;
    }
    *Y = static_cast<uint8_t>(std::clamp(y, 16.0, 235.0));
    *U = static_cast<uint8_t>(std::clamp(u, 16.0, 240.0));
    *V = static_cast<uint8_t>(std::clamp(v, 16.0, 240.0));
}

// Position of chroma sample (i, j) in luma coordinates, as the stitcher's half-size maps see
// it: the chroma planes are the luma plane halved.
constexpr double kChromaScale = 2.0;

bool inside_circle(int size, double x, double y) {
    const int c = size / 2;
    return std::hypot(x - c, y - c) <= lens_radius(size) + 1.5;
}

}  // namespace

Picture::Picture(int w, int h, uint8_t Y, uint8_t U, uint8_t V)
    : width(w),
      height(h),
      y(static_cast<size_t>(w) * h, Y),
      u(static_cast<size_t>((w + 1) / 2) * ((h + 1) / 2), U),
      v(static_cast<size_t>((w + 1) / 2) * ((h + 1) / 2), V) {}

double lens_radius(int width) {
    switch (width) {
        case 1440:
            return 675.0;
        case 1936:
            return 907.0;
        case 3888:
            return 1821.0;
        default:
            return std::floor(width * (675.0 / 1440.0));
    }
}

void direction_to_lens(int lens, int size, const Direction& d, double* x, double* y) {
    const Vec3 p = to_vector(d);
    const double theta = std::acos(std::clamp(p.z, -1.0, 1.0));
    const double psi = std::atan2(p.x, p.y);
    const double k = lens_radius(size) / (kPi / 2);
    const int c = size / 2;
    if (lens == 1) {
        const double rho = k * theta;
        *x = c + rho * std::cos(psi);
        *y = c + rho * std::sin(psi);
    } else {
        const double rho = k * (kPi - theta);
        *x = c + rho * std::sin(psi - kPi / 2);
        *y = c + rho * std::cos(psi - kPi / 2);
    }
}

bool lens_to_direction(int lens, int size, double x, double y, Direction* d) {
    const int c = size / 2;
    const double dx = x - c;
    const double dy = y - c;
    const double rho = std::hypot(dx, dy);
    const double k = lens_radius(size) / (kPi / 2);
    // theta is the angle from the lens's axis; psi the angle of the stitcher's rotated frame.
    if (lens == 1) {
        d->polar = rho / k;
        d->lon = wrap_lon(kPi / 2 - std::atan2(dy, dx));
    } else {
        d->polar = kPi - rho / k;
        d->lon = wrap_lon(-std::atan2(dx, dy));
    }
    return rho / k <= kPi / 2;
}

void scene_color(const Direction& d, int frame, uint8_t* Y, uint8_t* U, uint8_t* V) {
    still_scene(d, Y, U, V);
    if (frame < 0) return;
    Disc discs[2];
    frame_discs(frame, discs);
    for (const Disc& disc : discs) {
        if (in_disc(disc, d)) {
            *Y = disc.Y;
            *U = disc.U;
            *V = disc.V;
        }
    }
}

LensRenderer::LensRenderer(int size) : size_(size) {
    for (int lens = 1; lens <= 2; ++lens) {
        Picture& p = base_[lens - 1];
        p = Picture(size, size);
        uint8_t unused_u, unused_v;
        Direction d;
        for (int row = 0; row < size; ++row) {
            for (int x = 0; x < size; ++x) {
                if (!inside_circle(size, x, row)) continue;
                lens_to_direction(lens, size, x, row, &d);
                still_scene(d, &p.y[static_cast<size_t>(row) * size + x], &unused_u, &unused_v);
            }
        }
        uint8_t unused_y;
        for (int j = 0; j < p.chroma_height(); ++j) {
            for (int i = 0; i < p.chroma_width(); ++i) {
                const double x = i * kChromaScale;
                const double row = j * kChromaScale;
                if (!inside_circle(size, x, row)) continue;
                lens_to_direction(lens, size, x, row, &d);
                const size_t at = static_cast<size_t>(j) * p.chroma_width() + i;
                still_scene(d, &unused_y, &p.u[at], &p.v[at]);
            }
        }
    }
}

Picture LensRenderer::render(int lens, int frame) const {
    Picture p = base_[lens == 1 ? 0 : 1];
    const int size = size_;
    Disc discs[2];
    frame_discs(frame, discs);
    for (const Disc& disc : discs) {
        // The disc's outline through the lens model bounds the pixels to test.
        const Vec3 c = to_vector(disc.centre);
        Vec3 e1{-c.y, c.x, 0.0};
        double n = std::hypot(e1.x, e1.y);
        if (n < 1e-9) {
            e1 = {1, 0, 0};
            n = 1;
        }
        e1 = {e1.x / n, e1.y / n, 0};
        const Vec3 e2{c.y * e1.z - c.z * e1.y, c.z * e1.x - c.x * e1.z, c.x * e1.y - c.y * e1.x};
        double x0 = size, y0 = size, x1 = -1, y1 = -1;
        for (int t = 0; t <= 64; ++t) {
            const double a = 2 * kPi * t / 64;
            const double r = t == 64 ? 0.0 : disc.radius;
            const Vec3 q{
                std::cos(r) * c.x + std::sin(r) * (std::cos(a) * e1.x + std::sin(a) * e2.x),
                std::cos(r) * c.y + std::sin(r) * (std::cos(a) * e1.y + std::sin(a) * e2.y),
                std::cos(r) * c.z + std::sin(r) * (std::cos(a) * e1.z + std::sin(a) * e2.z)};
            double x, y;
            direction_to_lens(lens, size, to_direction(q), &x, &y);
            x0 = std::min(x0, x);
            y0 = std::min(y0, y);
            x1 = std::max(x1, x);
            y1 = std::max(y1, y);
        }
        const int bx0 = std::max(0, static_cast<int>(std::floor(x0)) - 2);
        const int by0 = std::max(0, static_cast<int>(std::floor(y0)) - 2);
        const int bx1 = std::min(size - 1, static_cast<int>(std::ceil(x1)) + 2);
        const int by1 = std::min(size - 1, static_cast<int>(std::ceil(y1)) + 2);
        Direction d;
        for (int row = by0; row <= by1; ++row) {
            for (int x = bx0; x <= bx1; ++x) {
                if (!inside_circle(size, x, row)) continue;
                lens_to_direction(lens, size, x, row, &d);
                if (in_disc(disc, d)) p.y[static_cast<size_t>(row) * size + x] = disc.Y;
            }
        }
        for (int j = by0 / 2; j <= by1 / 2 && j < p.chroma_height(); ++j) {
            for (int i = bx0 / 2; i <= bx1 / 2 && i < p.chroma_width(); ++i) {
                const double x = i * kChromaScale;
                const double row = j * kChromaScale;
                if (!inside_circle(size, x, row)) continue;
                lens_to_direction(lens, size, x, row, &d);
                if (in_disc(disc, d)) {
                    const size_t at = static_cast<size_t>(j) * p.chroma_width() + i;
                    p.u[at] = disc.U;
                    p.v[at] = disc.V;
                }
            }
        }
    }
    stamp_frame_code(p, frame);
    return p;
}

namespace {
int code_block(int width) { return std::max(8, width / 90); }
}  // namespace

void stamp_frame_code(Picture& picture, int code) {
    const int b = code_block(picture.width);
    for (int bit = 0; bit < kCodeBits; ++bit) {
        const uint8_t value = (code >> bit) & 1 ? 235 : 16;
        for (int row = b; row < 2 * b && row < picture.height; ++row) {
            for (int x = b + bit * b; x < b + (bit + 1) * b && x < picture.width; ++x) {
                picture.luma(x, row) = value;
            }
        }
        for (int j = b / 2; j < b && j < picture.chroma_height(); ++j) {
            for (int i = (b + bit * b) / 2;
                 i < (b + (bit + 1) * b) / 2 && i < picture.chroma_width(); ++i) {
                picture.u[static_cast<size_t>(j) * picture.chroma_width() + i] = 128;
                picture.v[static_cast<size_t>(j) * picture.chroma_width() + i] = 128;
            }
        }
    }
}

int read_frame_code(const uint8_t* luma, int linesize, int width, int height) {
    const int b = code_block(width);
    if (2 * b > height || b * (kCodeBits + 1) > width) return -1;
    int code = 0;
    for (int bit = 0; bit < kCodeBits; ++bit) {
        long sum = 0;
        int n = 0;
        for (int row = b + b / 4; row < b + 3 * b / 4; ++row) {
            for (int x = b + bit * b + b / 4; x < b + bit * b + 3 * b / 4; ++x) {
                sum += luma[static_cast<size_t>(row) * linesize + x];
                ++n;
            }
        }
        if (sum > 128L * n) code |= 1 << bit;
    }
    return code;
}

int16_t tone_sample(int channel, int64_t index, int sample_rate) {
    const double freq = channel == 0 ? 440.0 : 660.0 + 110.0 * (channel - 1);
    const double amplitude = channel == 0 ? 9000.0 : 7000.0;
    return static_cast<int16_t>(std::lround(
        amplitude * std::sin(2 * kPi * freq * static_cast<double>(index) / sample_rate)));
}

}  // namespace orbv_sample
