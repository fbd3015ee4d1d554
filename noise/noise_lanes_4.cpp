// The noise kernels for AVX2. In the four-row octave kernel a vector holds
// one sample on four rows: the column's fraction is the same on every lane;
// each lane has its own row fraction and, where the rows lie in different
// cells, its own corner terms. The point kernel takes four points at a time,
// each lane with its own cell.
#include <immintrin.h>

#include <limits>

#include "noise/noise_lanes.h"

namespace zoka {

namespace {

typedef double V __attribute__((vector_size(32)));

inline V Splat(double v) { return V{v, v, v, v}; }
inline V Load(const double* p) {
    V v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
}
inline void Store(double* p, V v) { __builtin_memcpy(p, &v, sizeof v); }

// A corner's half value term, x gradient and y term (the y gradient times
// the lane's y offset), on each lane.
struct CornerTerms {
    V value, gradient, yTerm;
};

// The corner of hash row `ys` (y0 or y1) and column hash `column`, with the
// y offsets dys. When every lane has the same row hash the lanes share the
// lattice entry.
inline CornerTerms Corner(const PlannedNoise& plan, int32_t column, const int32_t* ys,
                          bool sameRow, V dys) {
    const int32_t* p = plan.permutation;
    if (sameRow) {
        const double* l = plan.lattice + (p[column ^ ys[0]] & 255);
        return CornerTerms{Splat(0.5 * l[0]), Splat(l[1]), Splat(l[2]) * dys};
    }
    const double* l0 = plan.lattice + (p[column ^ ys[0]] & 255);
    const double* l1 = plan.lattice + (p[column ^ ys[1]] & 255);
    const double* l2 = plan.lattice + (p[column ^ ys[2]] & 255);
    const double* l3 = plan.lattice + (p[column ^ ys[3]] & 255);
    return CornerTerms{V{0.5 * l0[0], 0.5 * l1[0], 0.5 * l2[0], 0.5 * l3[0]},
                       V{l0[1], l1[1], l2[1], l3[1]}, V{l0[2], l1[2], l2[2], l3[2]} * dys};
}

}  // namespace

void AddFourRowsAvx2(const PlannedNoise& plan, const FourNoiseRows& rows, double weight,
                     double* sums) {
    const V fy = Load(rows.fy), sy = Load(rows.sy);
    const V fy1 = fy - 1.0, sy1 = 1.0 - sy;
    const V w = Splat(weight);
    const bool sameRow = rows.y0[0] == rows.y0[1] && rows.y0[0] == rows.y0[2] &&
                         rows.y0[0] == rows.y0[3];
    int32_t i = 0;
    for (int32_t r = 0; r < plan.runCount; ++r) {
        const NoiseRun& run = plan.runs[r];
        const CornerTerms c00 = Corner(plan, run.a, rows.y0, sameRow, fy);
        const CornerTerms c10 = Corner(plan, run.b, rows.y0, sameRow, fy);
        const CornerTerms c01 = Corner(plan, run.a, rows.y1, sameRow, fy1);
        const CornerTerms c11 = Corner(plan, run.b, rows.y1, sameRow, fy1);
        for (; i < run.end; ++i) {
            const V fx = Splat(plan.fractions[2 * i]), sx = Splat(plan.fractions[2 * i + 1]);
            const V fx1 = fx - 1.0, sx1 = 1.0 - sx;
            const V n00 = (c00.value + c00.gradient * fx) + c00.yTerm;
            const V n10 = (c10.value + c10.gradient * fx1) + c10.yTerm;
            const V n01 = (c01.value + c01.gradient * fx) + c01.yTerm;
            const V n11 = (c11.value + c11.gradient * fx1) + c11.yTerm;
            const V noise = sx1 * sy1 * n00 + sx * sy1 * n10 + sx1 * sy * n01 + sx * sy * n11;
            Store(sums + 4 * i, Load(sums + 4 * i) + w * noise);
        }
    }
}

namespace {

constexpr int32_t kMask = 4095;

// The lattice entries of a cell's four corners.
struct CellCorners {
    const double* h00;
    const double* h10;
    const double* h01;
    const double* h11;
};

CellCorners CornersOf(const int32_t* p, const double* lattice, double floorX, double floorY) {
    const int64_t ix = NoiseFloorIndex(floorX), iy = NoiseFloorIndex(floorY);
    const auto y0 = static_cast<int32_t>(iy & kMask);
    const auto y1 = static_cast<int32_t>((iy + 1) & kMask);
    const int32_t a = p[ix & kMask];
    const int32_t b = p[(ix + 1) & kMask];
    return CellCorners{lattice + (p[a ^ y0] & 255), lattice + (p[b ^ y0] & 255),
                       lattice + (p[a ^ y1] & 255), lattice + (p[b ^ y1] & 255)};
}

// One corner's half value term and gradient terms, on each lane.
struct PointCorner {
    V value, gradientX, gradientY;
};

inline PointCorner SplatCorner(const double* l) {
    return PointCorner{Splat(0.5 * l[0]), Splat(l[1]), Splat(l[2])};
}

inline PointCorner LaneCorner(const double* const* l) {
    return PointCorner{V{0.5 * l[0][0], 0.5 * l[1][0], 0.5 * l[2][0], 0.5 * l[3][0]},
                       V{l[0][1], l[1][1], l[2][1], l[3][1]}, V{l[0][2], l[1][2], l[2][2], l[3][2]}};
}

// The four corners of the lanes' cells.
struct PointCell {
    PointCorner c00, c10, c01, c11;
};

PointCell SplatCell(const CellCorners& c) {
    return PointCell{SplatCorner(c.h00), SplatCorner(c.h10), SplatCorner(c.h01),
                     SplatCorner(c.h11)};
}

PointCell LaneCell(const CellCorners* c) {
    const double* h00[4] = {c[0].h00, c[1].h00, c[2].h00, c[3].h00};
    const double* h10[4] = {c[0].h10, c[1].h10, c[2].h10, c[3].h10};
    const double* h01[4] = {c[0].h01, c[1].h01, c[2].h01, c[3].h01};
    const double* h11[4] = {c[0].h11, c[1].h11, c[2].h11, c[3].h11};
    return PointCell{LaneCorner(h00), LaneCorner(h10), LaneCorner(h01), LaneCorner(h11)};
}

// A corner at offset (dx, dy): half its value term plus its gradient terms.
inline V CornerAt(const PointCorner& c, V dx, V dy) {
    return c.value + c.gradientX * dx + c.gradientY * dy;
}

inline V Floor(V v) {
    return reinterpret_cast<V>(_mm256_floor_pd(reinterpret_cast<__m256d>(v)));
}

// Whether every lane's floors are the cell's (NaN never is).
inline bool AllInCell(V floorX, V floorY, double cellX, double cellY) {
    const __m256d inX = _mm256_cmp_pd(reinterpret_cast<__m256d>(floorX),
                                      reinterpret_cast<__m256d>(Splat(cellX)), _CMP_EQ_OQ);
    const __m256d inY = _mm256_cmp_pd(reinterpret_cast<__m256d>(floorY),
                                      reinterpret_cast<__m256d>(Splat(cellY)), _CMP_EQ_OQ);
    return _mm256_movemask_pd(_mm256_and_pd(inX, inY)) == 0xF;
}

}  // namespace

// Successive points mostly share a cell: its corners are kept, as splats,
// and a group of four whose lanes all lie in it uses them; otherwise each
// lane finds its own. Short groups repeat their last point.
void NoiseAtPointsAvx2(const int32_t* p, const double* lattice, const double* xs,
                       const double* ys, int32_t count, double* out) {
    double cellX = std::numeric_limits<double>::quiet_NaN(), cellY = cellX;
    CellCorners cached{};
    PointCell splat{};
    for (int32_t i = 0; i < count; i += 4) {
        const int32_t n = count - i < 4 ? count - i : 4;
        double px[4], py[4];
        for (int32_t k = 0; n < 4 && k < 4; ++k) {
            px[k] = xs[i + (k < n ? k : n - 1)];
            py[k] = ys[i + (k < n ? k : n - 1)];
        }
        const V x = Load(n == 4 ? xs + i : px), y = Load(n == 4 ? ys + i : py);
        const V floorX = Floor(x), floorY = Floor(y);
        const PointCell* cell = &splat;
        PointCell lanes;
        if (!AllInCell(floorX, floorY, cellX, cellY)) {
            double fx[4], fy[4];
            Store(fx, floorX);
            Store(fy, floorY);
            CellCorners corners[4];
            for (int32_t k = 0; k < 4; ++k) {
                if (!(fx[k] == cellX && fy[k] == cellY)) {
                    cellX = fx[k];
                    cellY = fy[k];
                    cached = CornersOf(p, lattice, cellX, cellY);
                }
                corners[k] = cached;
            }
            splat = SplatCell(cached);
            lanes = LaneCell(corners);
            cell = &lanes;
        }
        const V fx = x - floorX, fy = y - floorY;
        const V sx = fx * fx * (3 - 2 * fx), sy = fy * fy * (3 - 2 * fy);
        const V fx1 = fx - 1.0, fy1 = fy - 1.0;
        const V c00 = CornerAt(cell->c00, fx, fy);
        const V c10 = CornerAt(cell->c10, fx1, fy);
        const V c01 = CornerAt(cell->c01, fx, fy1);
        const V c11 = CornerAt(cell->c11, fx1, fy1);
        const V sx1 = 1.0 - sx, sy1 = 1.0 - sy;
        const V noise = sx1 * sy1 * c00 + sx * sy1 * c10 + sx1 * sy * c01 + sx * sy * c11;
        if (n == 4) {
            Store(out + i, noise);
            continue;
        }
        double result[4];
        Store(result, noise);
        for (int32_t k = 0; k < n; ++k) out[i + k] = result[k];
    }
}

}  // namespace zoka
