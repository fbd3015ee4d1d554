// The four-row octave kernel for AVX2: a vector holds one sample on four
// rows. The column's fraction is the same on every lane; each lane has its
// own row fraction and, where the rows lie in different cells, its own corner
// terms.
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

}  // namespace zoka
