// The plume kernel of Fire and Smoke.
#include "effects/plume.h"

#include <algorithm>
#include <cstdint>

#include "base/module_memory.h"
#include "base/result_codes.h"
#include "host/render_driver.h"
#include "host/time_integration.h"
#include "noise/noise_field.h"
#include "noise/random.h"
#include "raster/blur.h"
#include "raster/byte_division.h"
#include "raster/sampler.h"

namespace zoka {

namespace {

constexpr double kUnit = 0.00392156862745098;  // 1/255 as the kernel uses it

// The plume's height in rendered rows; it cools by one over that height.
int32_t PlumeRows(int16_t wispHeight, double divisor) {
    return std::max(5, wispHeight / WholeDivisor(divisor));
}

// The channels the plume colours: all but alpha when alpha is left to it.
int32_t BlendedChannels(const RenderContext& context) {
    return context.source->channels - (context.excludeAlpha != 0 ? 1 : 0);
}

// ---- Frame preparation ---------------------------------------------------------

// The origins depend on the seed alone, drawn in this order.
void DrawOrigins(int16_t seed, PlumeFrame& frame) {
    RandomGenerator rng;
    rng.Seed(seed);
    frame.fine.originX = rng.Uniform(0, 100);
    frame.fine.originY = rng.Uniform(0, 100);
    frame.coarse.originX = rng.Uniform(100, 200);
    frame.coarse.originY = rng.Uniform(100, 200);
    frame.third.originX = rng.Uniform(200, 300);
    frame.third.originY = rng.Uniform(200, 300);
}

// One cell of the fine noise spans a wisp; one of the coarse noises five
// wisp widths, square.
void SetSteps(const PlumeSettings& s, double divisor, PlumeFrame& frame) {
    frame.fine.stepX = SafeReciprocal(s.wispWidth / divisor);
    frame.fine.stepY = SafeReciprocal(s.wispHeight / divisor);
    const int32_t coarseSize = PlumeCoarseSize(s.wispWidth, divisor);
    frame.coarse.stepX = frame.coarse.stepY = SafeReciprocal(coarseSize);
    frame.third.stepX = frame.third.stepY = frame.coarse.stepX;
    if (s.kind == PlumeKind::kSmoke) {
        frame.roughness = 0.2 + 0.005 * s.breakupRoughness;
        frame.octaves = SmokeOctaves(coarseSize);
    }
}

// One entry per column the bands may cover (the subject grown by the reach,
// and the output area as well, which lies inside it unless the host handed
// over a smaller output image than frame setup asked for), then the ramp.
int AllocateTables(const RenderContext& context, int32_t reach, PlumeFrame& frame) {
    const PixelRect& subject = *context.subjectArea;
    const PixelRect& output = *context.outputArea;
    int64_t left = int64_t{subject.left} - reach;
    int64_t right = int64_t{subject.right} + reach;
    if (!IsEmpty(output)) {
        left = std::min<int64_t>(left, output.left);
        right = std::max<int64_t>(right, output.right);
    }
    const int64_t count = right - left;
    constexpr uint64_t kMaxColumns = (kMaxBlockBytes - kPlumeRampBytes) / sizeof(PlumeColumn);
    if (static_cast<uint64_t>(count) > kMaxColumns) return kOutOfMemory;
    const size_t columnBytes = sizeof(PlumeColumn) * static_cast<size_t>(count);
    if (HostAllocChecked(frame.columnState, columnBytes + kPlumeRampBytes) != kOk) {
        return kOutOfMemory;
    }
    frame.colorRamp = reinterpret_cast<uint8_t*>(frame.columnState) + columnBytes;
    frame.firstColumn = static_cast<int32_t>(left);
    frame.columnCount = static_cast<int32_t>(count);
    for (int32_t i = 0; i < frame.columnCount; ++i) {
        frame.columnState[i] = PlumeColumn{0, context.destArea->bottom};
    }
    return kOk;
}

uint8_t TruncLevel(double v) { return static_cast<uint8_t>(std::clamp(v, 0.0, 255.0)); }

double Squared(double v) { return v * v; }

// Black through red and orange to yellow and white.
void NaturalRampEntry(int32_t i, uint8_t* entry) {
    const double b = i * 0.00392156862745098;
    entry[0] = b >= 0.8 ? 255 : 255 - TruncLevel(Squared((0.8 - b) * 1.25) * 255);
    entry[1] = b >= 0.5 ? 255 - TruncLevel(Squared(1 - b) * 2 * 255)
                        : TruncLevel(Squared(b) * 2 * 255);
    entry[2] = b >= 0.8 ? TruncLevel(Squared((b - 0.8) * 5.000000000000001) * 255) : 0;
    entry[3] = 255;
}

}  // namespace

int32_t PlumeCoarseSize(int16_t wispWidth, double divisor) {
    const auto size = static_cast<int16_t>(wispWidth * 5);
    return size / WholeDivisor(divisor);
}

int32_t SmokeOctaves(int32_t coarseSize) { return std::max(1, HighestBit(coarseSize) - 1); }

void FillColorRamp(const PlumeSettings& s, int32_t blendedChannels, uint8_t* ramp) {
    const int32_t inner[4] = {s.innerColor.red, s.innerColor.green, s.innerColor.blue, 255};
    const int32_t outer[4] = {s.outerColor.red, s.outerColor.green, s.outerColor.blue, 255};
    for (int32_t i = 0; i < 256; ++i) {
        uint8_t* entry = ramp + 4 * i;
        if (s.naturalRamp) {
            NaturalRampEntry(i, entry);
            continue;
        }
        for (int32_t j = 0; j < 4; ++j) {
            entry[j] = j < blendedChannels
                           ? static_cast<uint8_t>((inner[j] * i + outer[j] * (255 - i)) / 255)
                           : 255;
        }
    }
}

int PreparePlume(const RenderContext& context, const PlumeSettings& settings, int32_t speedIndex,
                 PlumeFrame& frame) {
    ReleasePlume(frame);
    const double k = context.divisor;
    DrawOrigins(settings.randomSeed, frame);
    SetSteps(settings, k, frame);
    int result = AllocateTables(context, PlumeReach(settings.edgeSoftness, k), frame);
    if (result != kOk) return result;
    FillColorRamp(settings, BlendedChannels(context), frame.colorRamp);
    double distance = 0;
    result = IntegrateRate(context.input, context.output, speedIndex, distance);
    if (result != kOk) {
        ReleasePlume(frame);
        return result;
    }
    frame.rise = distance / PlumeRows(settings.wispHeight, k);
    return kOk;
}

void ReleasePlume(PlumeFrame& frame) {
    if (frame.columnState != nullptr) HostFree(frame.columnState);
    frame.columnState = nullptr;
    frame.colorRamp = nullptr;
    frame.columnCount = 0;
}

// ---- Band rendering ------------------------------------------------------------

namespace {

// A noise pattern's sampling position over a band: x runs along a row from
// the row's start, y climbs a row at a time; both advance by addition.
struct PatternWalk {
    double rowStartX;
    double y;
    double stepX;
    double stepY;

    // The band's bottom-left pixel lies dx columns right of the selection's
    // left edge and dy rows above its bottom.
    PatternWalk(const NoiseTrack& track, double dx, double dy)
        : rowStartX(dx * track.stepX + track.originX),
          y(dy * track.stepY + track.originY),
          stepX(track.stepX),
          stepY(track.stepY) {}
};

// Carries each column's heat from the rows already seen below the band up to
// its bottom, cooling as it climbs and refreshed by the blurred shape.
void CarryHeatInto(const PixelRect& band, const Raster& blurred, double decay,
                   const PlumeFrame& frame) {
    const PixelRect& g = blurred.bounds;
    for (int32_t x = band.left; x < band.right; ++x) {
        PlumeColumn& column = frame.Column(x);
        column.lastRow = std::min(column.lastRow, g.bottom);
        int32_t j = column.lastRow;
        for (; j > std::max(g.top, band.bottom); --j) {
            column.heat -= decay;
            column.heat = std::max(column.heat, blurred.Row(j - 1)[x - g.left] * kUnit);
        }
        column.heat -= (j - band.bottom) * decay;
        column.lastRow = band.bottom;
    }
}

// The per-row work buffers of a band, one block of module memory: the
// patterns' positions along a row (the same for every row of the band, as
// they start each row afresh and advance by addition), each column's heat
// (carried from row to row), each pixel's softened shape, the noise sums (of
// four rows, Smoke's sample by sample, the rows side by side) and the sample
// points of the row; and the shape's bytes along a row.
struct RowBuffers {
    static constexpr int32_t kArrays = 10;
    static constexpr int32_t kWidths = kArrays + 6;
    ModuleBuffer<double> block;
    double* fineX = nullptr;
    double* coarseX = nullptr;
    double* thirdX = nullptr;
    double* heat = nullptr;
    double* shape = nullptr;
    double* sumX = nullptr;  // Smoke's sideways push, Fire's coarse noise
    double* sumY = nullptr;  // Smoke's vertical push (four rows)
    double* pointX = nullptr;
    double* pointY = nullptr;
    double* noise = nullptr;
    ModuleBuffer<uint8_t> shapeBytes;

    int Allocate(int32_t width) {
        const uint64_t values = uint64_t{kWidths} * static_cast<uint64_t>(std::max(0, width));
        if (values > kMaxBlockBytes / sizeof(double)) return kOutOfMemory;
        const auto w = static_cast<size_t>(std::max(0, width));
        if (block.Allocate(kWidths * w) != kOk || shapeBytes.Allocate(w + 1) != kOk) {
            return kOutOfMemory;
        }
        double** arrays[kArrays] = {&fineX, &coarseX, &thirdX, &heat,   &shape,
                                    &sumX,  &sumY,    &pointX, &pointY, &noise};
        const size_t widths[kArrays] = {1, 1, 1, 1, 1, 4, 4, 1, 1, 1};
        double* next = block.get();
        for (int32_t i = 0; i < kArrays; ++i) {
            *arrays[i] = next;
            next += widths[i] * w;
        }
        return kOk;
    }
};

// Paints the band's rows from the bottom up, a row at a time: first every
// column's heat, then the noise of the whole row, then the pixels.
class BandPainter {
public:
    BandPainter(const RenderContext& context, const PlumeSettings& settings,
                const PlumeFrame& frame, const NoiseField& field, const Raster* blurred,
                const PixelRect& band, double decay, const RowBuffers& rows)
        : context_(context),
          settings_(settings),
          frame_(frame),
          field_(field),
          blurred_(blurred),
          band_(band),
          decay_(decay),
          blended_(BlendedChannels(context)),
          width_(band.Width()),
          rows_(rows),
          fine_(frame.fine, Dx(context, band), Dy(context, band)),
          coarse_(frame.coarse, Dx(context, band), Dy(context, band)),
          third_(frame.third, Dx(context, band), Dy(context, band)) {}

    // 0, 1 when cancelled at the start of a row, or 8. The columns' heat
    // is kept along the rows and handed back to the column table at the end,
    // also when cancelled.
    int PaintRows() {
        Positions(fine_, rows_.fineX);
        Positions(coarse_, rows_.coarseX);
        Positions(third_, rows_.thirdX);
        if (settings_.kind == PlumeKind::kSmoke && PlanOctaves() != kOk) return kOutOfMemory;
        if (PlanShape() != kOk) return kOutOfMemory;
        for (int32_t i = 0; i < width_; ++i) rows_.heat[i] = frame_.Column(band_.left + i).heat;
        const int result = PaintEachRow();
        for (int32_t i = 0; i < width_; ++i) frame_.Column(band_.left + i).heat = rows_.heat[i];
        return result;
    }

private:
    static double Dx(const RenderContext& context, const PixelRect& band) {
        return band.left - context.selectionBounds->left;
    }
    static double Dy(const RenderContext& context, const PixelRect& band) {
        return context.selectionBounds->bottom - band.bottom;
    }

    // The pattern's x along a row, pixel by pixel.
    void Positions(const PatternWalk& walk, double* xs) const {
        double x = walk.rowStartX;
        for (int32_t i = 0; i < width_; ++i, x += walk.stepX) xs[i] = x;
    }

    int PaintEachRow() {
        for (int32_t y = band_.bottom - 1; y >= band_.top; --y) {
            if (context_.abort(nullptr) != 0) return kCancelled;
            CarryHeatUp(y);
            if (settings_.kind == PlumeKind::kFlame) {
                FlameNoise();
            } else {
                SmokeNoise((band_.bottom - 1 - y) % 4);
            }
            PaintRow(y);
            fine_.y += fine_.stepY;
            coarse_.y += coarse_.stepY;
            third_.y += third_.stepY;
        }
        return kOk;
    }

    // The columns of the band the softened shape covers, [shapeLeft_,
    // shapeRight_) from the band's left, and where they sample it.
    int PlanShape() {
        if (blurred_ == nullptr) return kOk;
        const PixelRect& g = blurred_->bounds;
        shapeLeft_ = std::clamp(g.left - band_.left, 0, width_);
        shapeRight_ = std::clamp(g.right - band_.left, shapeLeft_, width_);
        double* xs = rows_.pointX;  // free until the rows start
        for (int32_t i = shapeLeft_; i < shapeRight_; ++i) {
            xs[i] = (band_.left + i) - context_.maskOffsetX;
        }
        return shapeRows_.Plan(*blurred_, xs + shapeLeft_, shapeRight_ - shapeLeft_);
    }

    // The softened shape along row y as bytes, 0 where it does not reach.
    void ShapeRow(int32_t y) {
        uint8_t* bytes = rows_.shapeBytes.get();
        std::fill(bytes, bytes + width_, uint8_t{0});
        if (blurred_ == nullptr || y < blurred_->bounds.top || y >= blurred_->bounds.bottom) return;
        shapeRows_.Sample(y - context_.maskOffsetY, bytes + shapeLeft_);
    }

    // Each column cools by a row and is refreshed by the shape at row y.
    void CarryHeatUp(int32_t y) {
        ShapeRow(y);
        const uint8_t* bytes = rows_.shapeBytes.get();
        double* heat = rows_.heat;
        double* shape = rows_.shape;
        for (int32_t i = 0; i < width_; ++i) {
            const double e = bytes[i] * kUnit;
            heat[i] = std::max(heat[i] - decay_, e);
            shape[i] = e;
        }
    }

    // The flame pattern, pushed sideways by the coarse noise where it is cool.
    void FlameNoise() {
        const double rise = frame_.rise;
        field_.NoiseAlongRow(coarse_.y - rise, rows_.coarseX, width_, rows_.sumX);
        for (int32_t i = 0; i < width_; ++i) {
            rows_.pointX[i] =
                rows_.fineX[i] + (1 - rows_.heat[i]) * settings_.displacement * rows_.sumX[i];
        }
        field_.NoiseAlongRow(fine_.y - rise, rows_.pointX, width_, rows_.noise);
    }

    // Where each octave of the two pushes samples along a row, the same for
    // every row of the band.
    int PlanOctaves() {
        double f = 1;
        for (int32_t octave = 0; octave < octaveCount_; ++octave) {
            if (octaves_[0][octave].Plan(field_, rows_.coarseX, f, width_) != kOk ||
                octaves_[1][octave].Plan(field_, rows_.thirdX, f, width_) != kOk) {
                return kOutOfMemory;
            }
            f *= 2;
        }
        return kOk;
    }

    // The two fractal sums of this row and the three above it (their y
    // positions reached by the same additions as the rows'), the rows side by
    // side; rows above the band are formed but never read.
    void SmokeSums() {
        const double rise = frame_.rise;
        std::fill(rows_.sumX, rows_.sumX + 4 * width_, 0.0);
        std::fill(rows_.sumY, rows_.sumY + 4 * width_, 0.0);
        double coarseY[4], thirdY[4];
        coarseY[0] = coarse_.y;
        thirdY[0] = third_.y;
        for (int32_t k = 1; k < 4; ++k) {
            coarseY[k] = coarseY[k - 1] + coarse_.stepY;
            thirdY[k] = thirdY[k - 1] + third_.stepY;
        }
        double a = 1, f = 1;
        for (int32_t octave = 0; octave < octaveCount_; ++octave) {
            double ys[4];
            for (int32_t k = 0; k < 4; ++k) ys[k] = f * coarseY[k] - rise;
            field_.AddNoiseAlongFourRows(ys, octaves_[0][octave], a, rows_.sumX);
            for (int32_t k = 0; k < 4; ++k) ys[k] = f * thirdY[k] - rise;
            field_.AddNoiseAlongFourRows(ys, octaves_[1][octave], a, rows_.sumY);
            a *= frame_.roughness;
            f *= 2;
        }
    }

    // The wisp pattern, pushed sideways and up by two fractal sums; the row
    // is the lane-th of its group of four.
    void SmokeNoise(int32_t lane) {
        if (lane == 0) SmokeSums();
        const double rise = frame_.rise;
        const double* sumX = rows_.sumX + lane;
        const double* sumY = rows_.sumY + lane;
        for (int32_t i = 0; i < width_; ++i) {
            const double d = (1 - rows_.heat[i]) * settings_.displacement;
            rows_.pointX[i] = rows_.fineX[i] + d * sumX[4 * i];
            rows_.pointY[i] = fine_.y + d * sumY[4 * i] - rise;
        }
        field_.NoiseAtPoints(rows_.pointX, rows_.pointY, width_, rows_.noise);
    }

    void PaintRow(int32_t y) {
        const uint8_t* s = context_.source->Pixel(band_.left, y);
        uint8_t* d = context_.destination->Pixel(band_.left, y);
        const int32_t sourceStep = context_.source->PixelBytes();
        const int32_t destinationStep = context_.destination->PixelBytes();
        const double insideMasking = settings_.insideMasking;
        for (int32_t i = 0; i < width_; ++i, s += sourceStep, d += destinationStep) {
            const double p = rows_.heat[i] * std::min(rows_.noise[i] + 0.5, 1.0);
            const double t = 1 - p * (1 - insideMasking * rows_.shape[i]);
            const int q = TruncLevel((1 - t * t) * 255);
            Composite(s, frame_.colorRamp + 4 * TruncLevel(p * 255), q, d);
        }
    }

    // The plume colour k at opacity q over the source pixel s. With alpha
    // left to the plume, the colours mix by their coverage, and a pixel that
    // neither covers keeps the colour it has. Every numerator is at most
    // 255 * 255 and every divisor at most 255.
    void Composite(const uint8_t* s, const uint8_t* k, int q, uint8_t* d) const {
        if (context_.excludeAlpha == 0) {
            for (int32_t j = 0; j < blended_; ++j) {
                d[j] = static_cast<uint8_t>((s[j] * (255 - q) + k[j] * q) / 255);
            }
            return;
        }
        const int r = s[blended_] * (255 - q) / 255;
        const int total = r + q;
        d[blended_] = static_cast<uint8_t>(total);
        if (total == 0) return;
        for (int32_t j = 0; j < blended_; ++j) {
            d[j] = static_cast<uint8_t>(DivideByByte(s[j] * r + k[j] * q, total));
        }
    }

    const RenderContext& context_;
    const PlumeSettings& settings_;
    const PlumeFrame& frame_;
    const NoiseField& field_;
    const Raster* blurred_;
    const PixelRect& band_;
    const double decay_;
    const int32_t blended_;
    const int32_t width_;
    const RowBuffers& rows_;
    PatternWalk fine_;
    PatternWalk coarse_;
    PatternWalk third_;
    BilinearClampedRows shapeRows_;
    int32_t shapeLeft_ = 0;
    int32_t shapeRight_ = 0;
    // Smoke's octaves planned for the sideways and the vertical push: a
    // coarse size of at most 2^15 gives at most 14.
    static constexpr int32_t kPlannedOctaves = 16;
    const int32_t octaveCount_ = std::min(frame_.octaves, kPlannedOctaves);
    NoiseColumns octaves_[2][kPlannedOctaves];
};

}  // namespace

int RenderPlumeBand(const RenderContext& context, const PlumeSettings& settings,
                    PlumeFrame& frame, const PixelRect& band) {
    NoiseField field;
    int result = field.Init(1.5, 0, settings.randomSeed, 0);
    if (result != kOk) return result;
    const double decay = SafeReciprocal(PlumeRows(settings.wispHeight, context.divisor));
    ScopedRaster blurred;
    if (context.mask != nullptr && !IsEmpty(context.mask->bounds)) {
        const int32_t reach = PlumeReach(settings.edgeSoftness, context.divisor);
        PixelRect grown;
        GrowWithin(band, *context.mask, reach, grown);
        result = BlurMaskRegion(*context.mask, grown, reach, context.abort, blurred,
                                EngineRunner(context.input));
        if (result != kOk) return result;
        CarryHeatInto(band, *blurred, decay, frame);
    }
    RowBuffers rows;
    if (rows.Allocate(band.Width()) != kOk) return kOutOfMemory;
    result = BandPainter(context, settings, frame, field, blurred.get(), band, decay, rows)
                 .PaintRows();
    if (result != kOk) return result;
    for (int32_t x = band.left; x < band.right; ++x) frame.Column(x).lastRow = band.top;
    return kOk;
}

}  // namespace zoka
