// Star: draws a filled star with a radial colour ramp over the layer.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "base/module_memory.h"
#include "base/result_codes.h"
#include "host/effect_factory.h"
#include "host/effect_of.h"
#include "host/render_context.h"
#include "host/render_driver.h"
#include "noise/rgb_color.h"
#include "raster/numeric.h"

namespace zoka {

namespace {

constexpr ParamDecl kStarParams[] = {
    Slider(37001, 3, 50, 3, 50, 5, "Sides"),
    FixedSlider(37002, 0, 95, 0, 95, 50, "Indentation"),
    FixedSlider(37003, 20, 200, 20, 200, 100, "Scale"),
    Point(37008, 0x320000, 0x320000, "Position"),
    FixedSlider(24003, 0, 100, 0, 100, 100, "Opacity"),
    Angle(37006, 0, "Orientation"),
    Color(26007, {255, 255, 0, 0}, "InnerColor"),
    Color(26008, {255, 0, 0, 255}, "OuterColor"),
    Checkbox(41001, 27005, true, "Antialias"),
    Checkbox(41001, 37007, false, "EraseImage"),
};

struct StarParams {
    int16_t sides = 5;
    double indentation = 50;
    double scale = 100;
    double positionX = 0;  // layer pixels
    double positionY = 0;
    double opacity = 100;
    double orientation = 0;  // degrees
    RgbColor innerColor = RgbColor::Bytes(255, 0, 0);
    RgbColor outerColor = RgbColor::Bytes(0, 0, 255);
    bool smooth = true;
    bool eraseImage = false;
};

class Star final : public EffectOf<Star, StarParams> {
public:
    static constexpr int kIndex = 12;
    static constexpr int kNameId = 37000;
    static constexpr int kDescriptionId = 37009;
    static constexpr const char* kKey = "Star";
    static constexpr bool kBandsAgree = true;
    static constexpr bool kSharesRows = true;
    static constexpr const auto& kParams = kStarParams;

    bool SpareFlagA() const override { return true; }
    bool UsesSelectionLayer() const override { return false; }

    void ReadBlock(HostParamDef** params, StarParams& block) const {
        block.sides = ParamInt16(params, 0);
        block.indentation = ParamFixed(params, 1);
        block.scale = ParamFixed(params, 2);
        block.positionX = ParamPointX(params, 3);
        block.positionY = ParamPointY(params, 3);
        block.opacity = ParamFixed(params, 4);
        block.orientation = ParamDirection(params, 5) + 90;
        block.innerColor = FromParamPixel(ParamColor(params, 6));
        block.outerColor = FromParamPixel(ParamColor(params, 7));
        block.smooth = ParamBool(params, 8);
        block.eraseImage = ParamBool(params, 9);
    }

    int RenderBand(RenderContext& context, const PixelRect& band) override;
};

// ---- Kernel ------------------------------------------------------------------

// The angle constants of the star's construction, with the digits it uses.
constexpr double kDegToRad = 0.017453292;
constexpr double kTwoPi = 6.283185307;
constexpr double kHalfPi = 1.570796327;
constexpr double kPi = 3.141592654;
// Transparent white: what an erased pixel and the star's erased background are.
constexpr uint8_t kErased[4] = {255, 255, 255, 0};
// Farther than any pixel lies from the outline.
constexpr double kFarAway = 1.0000000200408773e+20;

struct Vec2 {
    double x, y;
};

Vec2 UnitVector(double x, double y) {
    const double length = std::sqrt(x * x + y * y);
    return Vec2{x / length, y / length};
}

double Dot(const Vec2& a, double x, double y) { return a.x * x + a.y * y; }

// One side of the star: the inner vertex between two outer points, and the
// outward normals of the two edges that meet there.
struct StarSide {
    Vec2 inner;
    Vec2 normalA;  // of the edge toward the side's first outer point
    Vec2 normalB;  // of the edge toward its second
};

// The outer radius: 5/12 of the subject's shorter side at 100 %; half a
// pixel more when smoothed, so the softened edge keeps the star's size.
double OuterRadius(const StarParams& p, const PixelRect& subject) {
    const int32_t shorter = std::min(subject.Width(), subject.Height());
    double radius = shorter * 0.3333333333333333 * p.scale * 0.0125;
    if (p.smooth) radius = radius + 0.5;
    return radius;
}

// With no indentation the inner vertices lie on the sides of the regular
// polygon (at R cos(pi / N)); the indentation pulls them toward the centre.
double InnerRadius(const StarParams& p, double outerRadius) {
    const double n = p.sides;
    const double k = 1 - p.indentation * 0.009523809523809525;
    return std::sin((n - 2) / (2 * n) * kPi) * outerRadius * k;
}

// With y growing downward, orientation 180 puts the first point straight
// above the centre; the points follow clockwise as the host angle grows.
void BuildSides(const StarParams& p, double outerRadius, double innerRadius, StarSide* sides) {
    const int32_t n = p.sides;
    const double o = p.orientation * kDegToRad;
    for (int32_t i = 0; i < n; ++i) {
        const double a0 = i * kTwoPi / n + kHalfPi - o;
        const double a1 = (i + 1) * kTwoPi / n + kHalfPi - o;
        const double m = (a0 + a1) / 2;
        const Vec2 p0{outerRadius * std::cos(a0), outerRadius * std::sin(a0)};
        const Vec2 p1{outerRadius * std::cos(a1), outerRadius * std::sin(a1)};
        const Vec2 inner{innerRadius * std::cos(m), innerRadius * std::sin(m)};
        sides[i].inner = inner;
        sides[i].normalA = UnitVector(-(p0.y - inner.y), p0.x - inner.x);
        sides[i].normalB = UnitVector(p1.y - inner.y, -(p1.x - inner.x));
    }
}

// Whether (px, py), relative to the centre, lies inside the star: outside
// means beyond both edges at some inner vertex. Inside, distance receives
// how far the point lies within the outline.
bool InsideStar(const StarSide* sides, int32_t n, double px, double py, double& distance) {
    double dmin = kFarAway;
    for (int32_t j = 0; j < n; ++j) {
        const double dx = px - sides[j].inner.x;
        const double dy = py - sides[j].inner.y;
        const double p = Dot(sides[j].normalA, dx, dy);
        const double q = Dot(sides[j].normalB, dx, dy);
        if (p > 0 && q > 0) return false;
        double d;
        if (p >= 0) {
            d = -q;
        } else if (q >= 0) {
            d = -p;
        } else {
            d = std::max(-p, -q);
        }
        dmin = std::min(dmin, d);
    }
    distance = dmin;
    return true;
}

// What every pixel of the band shares.
struct StarPaint {
    const StarSide* sides;
    int32_t sideCount;
    int32_t channels;
    int32_t opacity;         // 0..255
    double normaliser;       // the centre's distance from the outline's lines
    uint8_t inner[4] = {};   // the colour at the centre
    uint8_t outer[4] = {};   // the colour at the outline
    bool smooth;
};

// The ramp from the Inner Color at the centre to the Outer Color at the
// outline, as the star's straight alpha over the background B (in integers:
// the background keeps what the star leaves of its alpha).
void PaintInside(const StarPaint& paint, double distance, const uint8_t* background,
                 uint8_t* destination) {
    int32_t a = paint.opacity;
    if (paint.smooth && distance < 1) {
        a = (a * std::clamp(TruncToInt32(distance * 256), 0, 256)) >> 8;
    }
    // Toward 1 at the centre; a star turned inside out by values no user can
    // set (a negative scale or an indentation past the centre) gives no
    // ratio below 0, nor NaN.
    const double ratio = distance / paint.normaliser;
    const double t = ratio > 1 ? 1 : ratio >= 0 ? ratio : 0;
    const int32_t b = background[3] * (255 - a) / 255;
    const int32_t total = a + b;
    if (total == 0) {
        destination[3] = 0;
        return;
    }
    for (int32_t k = 0; k < paint.channels; ++k) {
        const int32_t colour = TruncToInt32(paint.inner[k] * t + paint.outer[k] * (1 - t));
        destination[k] = static_cast<uint8_t>((background[k] * b + colour * a) / total);
    }
    destination[3] = static_cast<uint8_t>(total);
}

int PaintRows(const RenderContext& context, const PixelRect& band, const StarParams& p,
              const StarPaint& paint) {
    for (int32_t y = band.top; y < band.bottom; ++y) {
        if (context.abort(nullptr) != 0) return kCancelled;
        const uint8_t* s = context.source->Pixel(band.left, y);
        uint8_t* d = context.destination->Pixel(band.left, y);
        const double py = y - p.positionY;
        for (int32_t x = band.left; x < band.right; ++x, s += 4, d += 4) {
            double distance = 0;
            if (InsideStar(paint.sides, paint.sideCount, x - p.positionX, py, distance)) {
                PaintInside(paint, distance, p.eraseImage ? kErased : s, d);
            } else if (p.eraseImage) {
                std::copy(kErased, kErased + 4, d);
            }
        }
    }
    return kOk;
}

int Star::RenderBand(RenderContext& context, const PixelRect& band) {
    const auto& p = *static_cast<const StarParams*>(context.params);
    if (context.abort(nullptr) != 0) return kCancelled;
    // A star of no sides (a count no user can set) is not drawn: the band
    // keeps the layer.
    if (p.sides < 1) return kOk;
    StarPaint paint{};
    paint.channels = context.source->channels - (context.excludeAlpha != 0 ? 1 : 0);
    p.innerColor.ToBytes(paint.inner);
    p.outerColor.ToBytes(paint.outer);
    paint.opacity = std::clamp(TruncToInt32(p.opacity * 2.5500000000000003), 0, 255);
    paint.smooth = p.smooth;

    const double outerRadius = OuterRadius(p, *context.subjectArea);
    const double innerRadius = InnerRadius(p, outerRadius);
    ModuleBuffer<StarSide> sides;
    const int result = sides.Allocate(static_cast<size_t>(p.sides));
    if (result != kOk) return result;
    BuildSides(p, outerRadius, innerRadius, sides.get());
    paint.sides = sides.get();
    paint.sideCount = p.sides;
    paint.normaliser = Dot(sides[0].normalA, sides[0].inner.x, sides[0].inner.y);
    return ShareBandRows(context, band, [&](int32_t top, int32_t bottom) {
        return PaintRows(context, PixelRect{top, band.left, bottom, band.right}, p, paint);
    });
}

}  // namespace

extern const EffectMaker kStarMaker = MakerFor<Star>();

}  // namespace zoka
