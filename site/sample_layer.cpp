#include "site/sample_layer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace zoka_site {

namespace {

constexpr double kDesignWidth = 400;
constexpr double kDesignHeight = 300;
constexpr int kSamples = 4;  // per axis, for antialiased hard edges

struct Rgba {
    double r, g, b, a;
};

Rgba HueColour(double hue, double saturation) {
    const double h = std::fmod(hue, 1.0) * 6;
    const double f = h - std::floor(h);
    const double p = 1 - saturation;
    const double q = 1 - saturation * f;
    const double t = 1 - saturation * (1 - f);
    switch (static_cast<int>(h) % 6) {
        case 0: return {1, t, p, 1};
        case 1: return {q, 1, p, 1};
        case 2: return {p, 1, t, 1};
        case 3: return {p, q, 1, 1};
        case 4: return {t, p, 1, 1};
        default: return {1, p, q, 1};
    }
}

// Where a pixel's corner lies in the 400 x 300 design.
struct Placement {
    double scale, x0, y0;
    double X(double x) const { return (x - x0) / scale; }
    double Y(double y) const { return (y - y0) / scale; }
};

// The disc: colour by angle and distance, coverage by supersampling.
Rgba Disc(const Placement& at, int x, int y) {
    constexpr double cx = 140, cy = 150, radius = 95;
    int inside = 0;
    for (int sy = 0; sy < kSamples; ++sy) {
        for (int sx = 0; sx < kSamples; ++sx) {
            const double dx = at.X(x + (sx + 0.5) / kSamples) - cx;
            const double dy = at.Y(y + (sy + 0.5) / kSamples) - cy;
            inside += dx * dx + dy * dy <= radius * radius;
        }
    }
    const double dx = at.X(x + 0.5) - cx, dy = at.Y(y + 0.5) - cy;
    const double angle = std::atan2(dy, dx) / (2 * 3.14159265358979) + 0.5;
    Rgba c = HueColour(angle, std::min(1.0, std::sqrt(dx * dx + dy * dy) / radius));
    c.a = double(inside) / (kSamples * kSamples);
    return c;
}

// Signed distance to a rounded rectangle (negative inside).
double RoundedBox(double x, double y) {
    constexpr double cx = 282.5, cy = 152.5, halfWidth = 82.5, halfHeight = 92.5, corner = 34;
    const double qx = std::fabs(x - cx) - (halfWidth - corner);
    const double qy = std::fabs(y - cy) - (halfHeight - corner);
    const double outside = std::hypot(std::max(qx, 0.0), std::max(qy, 0.0));
    return outside + std::min(std::max(qx, qy), 0.0) - corner;
}

// The panel: warm stripes fading to violet, a soft outer edge, a round hole.
Rgba Panel(const Placement& at, int x, int y) {
    const double px = at.X(x + 0.5), py = at.Y(y + 0.5);
    const double edge = std::clamp(-RoundedBox(px, py) / 16.0, 0.0, 1.0);
    int outsideHole = 0;
    for (int sy = 0; sy < kSamples; ++sy) {
        for (int sx = 0; sx < kSamples; ++sx) {
            const double dx = at.X(x + (sx + 0.5) / kSamples) - 300;
            const double dy = at.Y(y + (sy + 0.5) / kSamples) - 175;
            outsideHole += dx * dx + dy * dy > 22 * 22;
        }
    }
    const double t = (py - 60) / 185;
    const double stripe = 0.85 + 0.15 * std::cos(py / 6.0);
    return Rgba{stripe * (1 - 0.45 * t), stripe * (0.55 - 0.35 * t), stripe * (0.1 + 0.75 * t),
                edge * outsideHole / (kSamples * kSamples)};
}

// Straight-alpha "over".
Rgba Over(const Rgba& top, const Rgba& bottom) {
    const double a = top.a + bottom.a * (1 - top.a);
    if (a <= 0) return {0, 0, 0, 0};
    const auto mix = [&](double t, double b) { return (t * top.a + b * bottom.a * (1 - top.a)) / a; };
    return {mix(top.r, bottom.r), mix(top.g, bottom.g), mix(top.b, bottom.b), a};
}

double Smoothstep(double edge0, double edge1, double x) {
    const double t = std::clamp((x - edge0) / (edge1 - edge0), 0.0, 1.0);
    return t * t * (3 - 2 * t);
}

// The photo's outline: a wavy ellipse; coverage fades over its outer 7 units.
double PhotoCoverage(double x, double y) {
    const double dx = (x - 200) / 1.3, dy = y - 150;
    const double angle = std::atan2(dy, dx);
    const double radius = 108 + 9 * std::sin(3 * angle) + 6 * std::sin(7 * angle + 1) +
                          3 * std::sin(13 * angle + 2);
    return 1 - Smoothstep(radius - 7, radius, std::hypot(dx, dy));
}

// A sphere lit from the upper left: diffuse and specular light over its
// colour, with the ambient level keeping its shadowed side off black.
struct Sphere {
    double cx, cy, radius;
    Rgba colour;

    Rgba Lit(double x, double y) const {
        const double nx = (x - cx) / radius, ny = (y - cy) / radius;
        const double d2 = nx * nx + ny * ny;
        const double nz = std::sqrt(std::max(0.0, 1 - d2));
        const double lx = -0.5, ly = -0.6, lz = 0.62;  // about unit length
        const double diffuse = std::max(0.0, nx * lx + ny * ly + nz * lz);
        const double specular = std::pow(std::max(0.0, 2 * nz * (nx * lx + ny * ly + nz * lz) - lz), 24);
        const double light = 0.22 + 0.7 * diffuse;
        const double cover = 1 - Smoothstep(radius - 1.2, radius + 0.2, std::sqrt(d2) * radius);
        return {colour.r * light + 0.8 * specular, colour.g * light + 0.8 * specular,
                colour.b * light + 0.8 * specular, cover};
    }
};

// Deterministic grain in -1..1 per design position.
double Grain(int x, int y) {
    uint32_t h = static_cast<uint32_t>(x) * 374761393u + static_cast<uint32_t>(y) * 668265263u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return ((h ^ (h >> 16)) & 0xFFFF) / 32767.5 - 1;
}

Rgba PhotoPixel(double x, double y, int px, int py) {
    const double t = std::clamp((y - 40) / 220, 0.0, 1.0);
    Rgba sky{0.30 + 0.45 * t, 0.42 + 0.25 * t, 0.62 - 0.22 * t, 1};
    // Soft elliptical shadows on the ground below each sphere.
    const double shade = 0.45 * (1 - Smoothstep(0, 1, std::hypot((x - 175) / 70, (y - 222) / 16))) +
                         0.35 * (1 - Smoothstep(0, 1, std::hypot((x - 268) / 42, (y - 214) / 10)));
    sky = {sky.r * (1 - shade), sky.g * (1 - shade), sky.b * (1 - shade), 1};
    const Sphere big{165, 150, 62, {0.85, 0.45, 0.2, 1}};
    const Sphere small{262, 178, 34, {0.3, 0.62, 0.4, 1}};
    Rgba c = Over(small.Lit(x, y), Over(big.Lit(x, y), sky));
    const double grain = 0.018 * Grain(px, py);
    return {c.r + grain, c.g + grain, c.b + grain, PhotoCoverage(x, y)};
}

uint8_t Byte(double v) { return static_cast<uint8_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255)); }

}  // namespace

ourhost::Image SampleLayer(int width, int height) {
    const double scale = std::min(width / kDesignWidth, height / kDesignHeight);
    const Placement at{scale, (width - kDesignWidth * scale) / 2, (height - kDesignHeight * scale) / 2};
    ourhost::Image layer(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Rgba c = Over(Panel(at, x, y), Disc(at, x, y));
            layer.Set(x, y, c.a > 0 ? ourhost::Pixel{Byte(c.a), Byte(c.r), Byte(c.g), Byte(c.b)}
                                    : ourhost::Pixel{0, 0, 0, 0});
        }
    }
    return layer;
}

ourhost::Image PhotoSample(int width, int height) {
    const double scale = std::min(width / kDesignWidth, height / kDesignHeight);
    const Placement at{scale, (width - kDesignWidth * scale) / 2, (height - kDesignHeight * scale) / 2};
    ourhost::Image layer(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Rgba c = PhotoPixel(at.X(x + 0.5), at.Y(y + 0.5), x, y);
            const uint8_t alpha = Byte(c.a);
            layer.Set(x, y, alpha > 0 ? ourhost::Pixel{alpha, Byte(c.r), Byte(c.g), Byte(c.b)}
                                      : ourhost::Pixel{0, 0, 0, 0});
        }
    }
    return layer;
}

}  // namespace zoka_site
