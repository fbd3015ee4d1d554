// Noise sampled many at a time. Every sample is exactly Noise at its point:
// the same floors, hashes (written out here so they inline), fractions,
// corner terms and blend in the same order; only the corner hashes are
// reused while successive samples share a cell.
#include <cmath>
#include <limits>

#include "base/result_codes.h"
#include "noise/noise_field.h"

namespace zoka {

namespace {

constexpr int32_t kMask = NoiseField::kPeriod - 1;

double Smoothed(double f) { return f * f * (3 - 2 * f); }

// A corner at offset (dx, dy) from the sample: half its value term plus its
// gradient terms.
double Corner(const double* l, double dx, double dy) { return 0.5 * l[0] + l[1] * dx + l[2] * dy; }

// The terms of one cell of a row: per corner, half the value term, the x
// gradient and the y gradient term (the same products the point formula
// forms), and the row's smoothed y fraction.
struct CellTerms {
    double cellX;
    double cellEnd;  // cellX + 1
    double v00, g00, t00;
    double v10, g10, t10;
    double v01, g01, t01;
    double v11, g11, t11;
    double sy;
};

// The noise at x within the cell: the point formula with the cell's terms.
inline double InCell(const CellTerms& c, double x) {
    const double fx = x - c.cellX, sy = c.sy;
    const double sx = Smoothed(fx);
    const double c00 = (c.v00 + c.g00 * fx) + c.t00;
    const double c10 = (c.v10 + c.g10 * (fx - 1)) + c.t10;
    const double c01 = (c.v01 + c.g01 * fx) + c.t01;
    const double c11 = (c.v11 + c.g11 * (fx - 1)) + c.t11;
    return (1 - sx) * (1 - sy) * c00 + sx * (1 - sy) * c10 + (1 - sx) * sy * c01 + sx * sy * c11;
}

// Whether x lies in the cell: cellX <= x < cellX + 1, which for a whole
// cellX is floor(x) == cellX. Any doubt, and NaN, leads to the floor; so does
// a zero, whose fraction takes its sign from the floor.
inline bool Inside(const CellTerms& c, double x) {
    return x >= c.cellX && x < c.cellEnd && x != 0;
}

// The samples of a run that shares one cell: no branch, so the compiler
// works several of them side by side, each exactly as alone.
void SetRun(const CellTerms& c, const double* xs, int32_t count, double* out) {
    for (int32_t i = 0; i < count; ++i) out[i] = InCell(c, xs[i]);
}

void AddRun(const CellTerms& c, const double* xs, double factor, double weight, int32_t count,
            double* sums) {
    for (int32_t i = 0; i < count; ++i) sums[i] += weight * InCell(c, factor * xs[i]);
}

}  // namespace

// Samples along a row of constant y, in runs of successive samples that
// share a cell; a cell's terms are formed when the samples enter it.
class NoiseField::RowRun {
public:
    RowRun(const NoiseField& field, double y) : field_(field) {
        const double floorY = std::floor(y);
        const int64_t iy = NoiseFloorIndex(floorY);
        fy_ = y - floorY;
        terms_.sy = Smoothed(fy_);
        y0_ = static_cast<int32_t>(iy & kMask);
        y1_ = static_cast<int32_t>((iy + 1) & kMask);
    }

    // The terms of the cell holding x.
    const CellTerms& Enter(double x) {
        const double floorX = std::floor(x);
        terms_.cellX = floorX;
        terms_.cellEnd = floorX + 1;
        const int64_t ix = NoiseFloorIndex(floorX);
        const int32_t* p = field_.permutation_.get();
        const int32_t a = p[ix & kMask];
        const int32_t b = p[(ix + 1) & kMask];
        const double* h00 = &field_.lattice_[p[a ^ y0_] & 255];
        const double* h10 = &field_.lattice_[p[b ^ y0_] & 255];
        const double* h01 = &field_.lattice_[p[a ^ y1_] & 255];
        const double* h11 = &field_.lattice_[p[b ^ y1_] & 255];
        CellTerms& c = terms_;
        c.v00 = 0.5 * h00[0], c.g00 = h00[1], c.t00 = h00[2] * fy_;
        c.v10 = 0.5 * h10[0], c.g10 = h10[1], c.t10 = h10[2] * fy_;
        c.v01 = 0.5 * h01[0], c.g01 = h01[1], c.t01 = h01[2] * (fy_ - 1);
        c.v11 = 0.5 * h11[0], c.g11 = h11[1], c.t11 = h11[2] * (fy_ - 1);
        return terms_;
    }

private:
    const NoiseField& field_;
    double fy_;
    int32_t y0_, y1_;
    CellTerms terms_{};
};

void NoiseField::NoiseAlongRow(double y, const double* xs, int32_t count, double* out) const {
    RowRun row(*this, y);
    for (int32_t i = 0; i < count;) {
        const CellTerms& c = row.Enter(xs[i]);
        int32_t end = i + 1;
        while (end < count && Inside(c, xs[end])) ++end;
        SetRun(c, xs + i, end - i, out + i);
        i = end;
    }
}

void NoiseField::AddNoiseAlongRow(double y, const double* xs, double factor, double weight,
                                  int32_t count, double* sums) const {
    RowRun row(*this, y);
    for (int32_t i = 0; i < count;) {
        const CellTerms& c = row.Enter(factor * xs[i]);
        int32_t end = i + 1;
        while (end < count && Inside(c, factor * xs[end])) ++end;
        AddRun(c, xs + i, factor, weight, end - i, sums + i);
        i = end;
    }
}

// The runs are cut where AddNoiseAlongRow cuts them, so every sample is
// formed from the same cell.
int NoiseColumns::Plan(const NoiseField& field, const double* xs, double factor, int32_t count) {
    runCount_ = 0;
    const auto n = static_cast<size_t>(count > 0 ? count : 0);
    if (runs_.Allocate(n + 1) != kOk || fractions_.Allocate(2 * n + 1) != kOk) {
        return kOutOfMemory;
    }
    const int32_t* p = field.permutation_.get();
    for (int32_t i = 0; i < count;) {
        const double floorX = std::floor(factor * xs[i]);
        const double cellEnd = floorX + 1;
        int32_t end = i + 1;
        while (end < count) {
            const double x = factor * xs[end];
            if (!(x >= floorX && x < cellEnd && x != 0)) break;
            ++end;
        }
        const int64_t ix = NoiseFloorIndex(floorX);
        runs_[static_cast<size_t>(runCount_++)] =
            Run{end, p[ix & kMask], p[(ix + 1) & kMask], floorX};
        for (; i < end; ++i) {
            const double fx = factor * xs[i] - floorX;
            fractions_[2 * static_cast<size_t>(i)] = fx;
            fractions_[2 * static_cast<size_t>(i) + 1] = Smoothed(fx);
        }
    }
    return kOk;
}

namespace {

// A row's lattice indices, fraction and smoothed fraction, for lane k.
void SetNoiseRow(double y, int32_t k, FourNoiseRows& rows) {
    const double floorY = std::floor(y);
    const int64_t iy = NoiseFloorIndex(floorY);
    rows.fy[k] = y - floorY;
    rows.sy[k] = Smoothed(rows.fy[k]);
    rows.y0[k] = static_cast<int32_t>(iy & kMask);
    rows.y1[k] = static_cast<int32_t>((iy + 1) & kMask);
}

// sums[stride * i] += weight * the noise of sample i on lane k's row.
void AddPlannedRow(const PlannedNoise& plan, const FourNoiseRows& rows, int32_t k, double weight,
                   double* sums, int32_t stride) {
    const double fy = rows.fy[k], sy = rows.sy[k];
    const int32_t y0 = rows.y0[k], y1 = rows.y1[k];
    const int32_t* p = plan.permutation;
    const double* lattice = plan.lattice;
    const double* fractions = plan.fractions;
    int32_t i = 0;
    for (int32_t r = 0; r < plan.runCount; ++r) {
        const NoiseRun& run = plan.runs[r];
        const double* h00 = &lattice[p[run.a ^ y0] & 255];
        const double* h10 = &lattice[p[run.b ^ y0] & 255];
        const double* h01 = &lattice[p[run.a ^ y1] & 255];
        const double* h11 = &lattice[p[run.b ^ y1] & 255];
        const double v00 = 0.5 * h00[0], g00 = h00[1], t00 = h00[2] * fy;
        const double v10 = 0.5 * h10[0], g10 = h10[1], t10 = h10[2] * fy;
        const double v01 = 0.5 * h01[0], g01 = h01[1], t01 = h01[2] * (fy - 1);
        const double v11 = 0.5 * h11[0], g11 = h11[1], t11 = h11[2] * (fy - 1);
        for (; i < run.end; ++i) {
            const double fx = fractions[2 * i], sx = fractions[2 * i + 1];
            const double c00 = (v00 + g00 * fx) + t00;
            const double c10 = (v10 + g10 * (fx - 1)) + t10;
            const double c01 = (v01 + g01 * fx) + t01;
            const double c11 = (v11 + g11 * (fx - 1)) + t11;
            sums[stride * i] += weight * ((1 - sx) * (1 - sy) * c00 + sx * (1 - sy) * c10 +
                                          (1 - sx) * sy * c01 + sx * sy * c11);
        }
    }
}

}  // namespace

void AddFourRowsScalar(const PlannedNoise& plan, const FourNoiseRows& rows, double weight,
                       double* sums) {
    for (int32_t k = 0; k < 4; ++k) AddPlannedRow(plan, rows, k, weight, sums + k, 4);
}

AddFourRowsFn WidestFourRows() {
#if defined(__x86_64__) || defined(__i386__)
    if (__builtin_cpu_supports("avx2")) return AddFourRowsAvx2;
#endif
    return AddFourRowsScalar;
}

void NoiseField::AddNoiseAlongRow(double y, const NoiseColumns& columns, double weight,
                                  double* sums) const {
    FourNoiseRows rows;
    SetNoiseRow(y, 0, rows);
    const PlannedNoise plan{permutation_.get(), lattice_, columns.runs_.get(), columns.runCount_,
                            columns.fractions_.get()};
    AddPlannedRow(plan, rows, 0, weight, sums, 1);
}

void NoiseField::AddNoiseAlongFourRows(const double* ys, const NoiseColumns& columns,
                                       double weight, double* sums, AddFourRowsFn kernel) const {
    FourNoiseRows rows;
    for (int32_t k = 0; k < 4; ++k) SetNoiseRow(ys[k], k, rows);
    const PlannedNoise plan{permutation_.get(), lattice_, columns.runs_.get(), columns.runCount_,
                            columns.fractions_.get()};
    (kernel != nullptr ? kernel : WidestFourRows())(plan, rows, weight, sums);
}

void NoiseField::NoiseAtPoints(const double* xs, const double* ys, int32_t count, double* out,
                               NoiseAtPointsFn kernel) const {
    (kernel != nullptr ? kernel : WidestNoiseAtPoints())(permutation_.get(), lattice_, xs, ys,
                                                          count, out);
}

NoiseAtPointsFn WidestNoiseAtPoints() {
#if defined(__x86_64__) || defined(__i386__)
    if (__builtin_cpu_supports("avx2")) return NoiseAtPointsAvx2;
#endif
    return NoiseAtPointsScalar;
}

void NoiseAtPointsScalar(const int32_t* p, const double* lattice, const double* xs,
                         const double* ys, int32_t count, double* out) {
    constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
    double cellX = kNone, cellY = kNone;
    const double* h00 = nullptr;
    const double* h10 = nullptr;
    const double* h01 = nullptr;
    const double* h11 = nullptr;
    for (int32_t i = 0; i < count; ++i) {
        const double x = xs[i], y = ys[i];
        const double floorX = std::floor(x), floorY = std::floor(y);
        if (!(floorX == cellX && floorY == cellY)) {
            cellX = floorX;
            cellY = floorY;
            const int64_t ix = NoiseFloorIndex(floorX), iy = NoiseFloorIndex(floorY);
            const auto y0 = static_cast<int32_t>(iy & kMask);
            const auto y1 = static_cast<int32_t>((iy + 1) & kMask);
            const int32_t a = p[ix & kMask];
            const int32_t b = p[(ix + 1) & kMask];
            h00 = &lattice[p[a ^ y0] & 255];
            h10 = &lattice[p[b ^ y0] & 255];
            h01 = &lattice[p[a ^ y1] & 255];
            h11 = &lattice[p[b ^ y1] & 255];
        }
        const double fx = x - floorX, fy = y - floorY;
        const double sx = Smoothed(fx), sy = Smoothed(fy);
        const double c00 = Corner(h00, fx, fy);
        const double c10 = Corner(h10, fx - 1, fy);
        const double c01 = Corner(h01, fx, fy - 1);
        const double c11 = Corner(h11, fx - 1, fy - 1);
        out[i] = (1 - sx) * (1 - sy) * c00 + sx * (1 - sy) * c10 + (1 - sx) * sy * c01 +
                 sx * sy * c11;
    }
}

}  // namespace zoka
