// Smooth gradient-plus-value lattice noise with a period of 4096 cells, built
// from a seeded generator: the same seed always gives the same tables. A
// phase turns every lattice value along its own sine, which animates the
// noise; its sampling operations fill rasters of doubles.
#pragma once

#include <cstdint>
#include <limits>

#include "base/module_memory.h"
#include "noise/noise_lanes.h"
#include "raster/abort_check.h"
#include "raster/raster.h"

namespace zoka {

class NoiseField;

// Where samples at factor * xs[i] fall among the lattice's cells, and their
// fractions there: the same along every row, so kernels that sample many
// rows at the same x positions find them once.
class NoiseColumns {
public:
    // 0, or 8 without memory.
    int Plan(const NoiseField& field, const double* xs, double factor, int32_t count);

private:
    friend class NoiseField;
    // Samples from the previous run's end to end share the cell at cellX,
    // whose column hashes are a and b.
    using Run = NoiseRun;
    ModuleBuffer<Run> runs_;
    ModuleBuffer<double> fractions_;  // per sample: its fraction, then its smoothed fraction
    int32_t runCount_ = 0;
};

class NoiseField {
public:
    static constexpr int32_t kTable = 264;
    static constexpr int32_t kPeriod = 4096;

    NoiseField() = default;
    NoiseField(const NoiseField&) = delete;
    NoiseField& operator=(const NoiseField&) = delete;

    // Builds the tables: the permutation, the lattice (amplitude sin(u pi +
    // phase), u uniform in -1..1), the grain (within +-percent * 127 / 100)
    // and the dot levels, in that drawing order. 0, or 8 without memory.
    int Init(double amplitude, int16_t percent, int32_t seed, double phase);

    // The noise at (x, y) in lattice units.
    double Noise(double x, double y) const;

    // The sample positions of the fills below are running sums, one step per
    // element. By default a sum starts at the raster's corner; from here on it
    // starts at (left, top), at or above-left of every raster filled, so that
    // the parts of an area split into rasters get the positions the whole
    // area gets, to the last bit.
    void SumPositionsFrom(int32_t left, int32_t top);

    // Each element of raster (doubles) becomes the noise at its position: a
    // lump of w x h pixels at full resolution spans one cell; scale is the
    // resolution divisor; the offsets move the pattern. 0, 1 when
    // abortCheck stops it at the start of a row, or 8 without memory.
    int Fill(const Raster& raster, double w, double h, double ox, double oy, AbortCheck abortCheck,
             double scale) const;
    int Fill(const Raster& raster, double w, double h, AbortCheck abortCheck, double scale) const;
    // Five octaves, each at twice the frequency and half the amplitude; the
    // first ignores the offsets.
    int FillFractal(const Raster& raster, double w, double h, double ox, double oy,
                    AbortCheck abortCheck, double scale);
    // Five octaves of absolute values, all moved by the offsets.
    int FillTurbulence(const Raster& raster, double w, double h, double ox, double oy,
                       AbortCheck abortCheck, double scale);
    // A unit vector per pixel (two signed bytes, times 127): the noise's
    // gradient turned by angle degrees. Creates out; 0 or 8.
    int FillFlowVectors(Raster*& out, const PixelRect& rect, int16_t lumpSize, double angle,
                        double ox, double oy) const;
    // Every element below 0.01 gains percent / 60 of the ceiling times the
    // noise, at most up to the ceiling.
    void AddNoiseBelow(const Raster& raster, double ceiling, int16_t lumpSize, int16_t percent,
                       double ox, double oy) const;
    bool IsDot(int32_t column, int32_t row, double threshold) const;
    // Creates out (one signed byte per pixel) holding the grain; 0 or 8.
    int FillGrain(Raster*& out, const PixelRect& rect) const;

    // Many samples at once, each exactly Noise at its point (noise_rows.cpp):
    // a cell's corner hashes are found once while successive samples stay in
    // it, so kernels that walk along rows pay for them once per cell.
    // out[i] = Noise(xs[i], y).
    void NoiseAlongRow(double y, const double* xs, int32_t count, double* out) const;
    // sums[i] += weight * Noise(factor * xs[i], y).
    void AddNoiseAlongRow(double y, const double* xs, double factor, double weight,
                          int32_t count, double* sums) const;
    // sums[i] += weight * Noise(factor * xs[i], y), with the positions
    // planned.
    void AddNoiseAlongRow(double y, const NoiseColumns& columns, double weight,
                          double* sums) const;
    // The same for four rows at once, by the kernel given (the widest the
    // processor runs unless a test picks one): sums[4 i + k] += weight *
    // Noise(factor * xs[i], ys[k]).
    void AddNoiseAlongFourRows(const double* ys, const NoiseColumns& columns, double weight,
                               double* sums, AddFourRowsFn kernel = nullptr) const;
    // out[i] = Noise(xs[i], ys[i]), by the kernel given or the widest.
    void NoiseAtPoints(const double* xs, const double* ys, int32_t count, double* out,
                       NoiseAtPointsFn kernel = nullptr) const;

private:
    friend class NoiseColumns;
    // Noise along a row of constant y: the row's weights are found once, and
    // a cell's corner hashes only when x enters it; each sample is exactly
    // Noise (x, y).
    class Row {
    public:
        Row(const NoiseField& field, double y);
        double At(double x);
        // At(x) from the parts of x that do not depend on the row: its floor,
        // its fraction and the fraction's smoothstep.
        double AtColumn(double floorX, double fx, double sx);

    private:
        void Enter(double floorX);

        const NoiseField& field_;
        double fy_, sy_;
        int32_t y0_, y1_;
        double cellX_ = std::numeric_limits<double>::quiet_NaN();
        const double* h00_ = nullptr;
        const double* h10_ = nullptr;
        const double* h01_ = nullptr;
        const double* h11_ = nullptr;
    };

    // Noise along a row, a cell's terms formed once (noise_rows.cpp).
    class RowRun;
    // Where each column of a fill samples: the same along every row.
    struct Column {
        double floorX, fx, sx;
    };
    static Column ColumnAt(double x);

    int32_t Hash(int32_t a, int32_t b) const;
    // Adds four octaves above the one already in the raster, the lattice
    // halved for each; absolute values when `absolute`.
    int AddOctaves(const Raster& raster, double w, double h, double ox, double oy,
                   AbortCheck abortCheck, double scale, bool absolute);

    // The corner the position sums start from: SumPositionsFrom's, or else
    // the raster's own.
    int32_t SumLeft(const PixelRect& b) const { return sumsFromOrigin_ ? sumLeft_ : b.left; }
    int32_t SumTop(const PixelRect& b) const { return sumsFromOrigin_ ? sumTop_ : b.top; }

    bool sumsFromOrigin_ = false;
    int32_t sumLeft_ = 0;
    int32_t sumTop_ = 0;
    double lattice_[kTable] = {};
    double latticeSaved_[kTable] = {};
    int8_t grain_[kTable] = {};
    ModuleBuffer<int32_t> permutation_;
    double dotLevel_[kTable] = {};
};

}  // namespace zoka
