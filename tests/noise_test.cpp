// The seeded generator and the lattice noise every noisy effect draws from.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "base/result_codes.h"
#include "noise/noise_field.h"
#include "noise/random.h"
#include "raster/numeric.h"
#include "raster/raster.h"
#include "tests/support/module_memory_scope.h"

namespace zoka {
namespace {

TEST(RandomGenerator, FollowsTheMinimalStandardSequence) {
    RandomGenerator rng;
    rng.Seed(1);
    EXPECT_EQ(rng.Next(), 16807);
    EXPECT_EQ(rng.Next(), 282475249);
    EXPECT_EQ(rng.Next(), 1622650073);

    RandomGenerator fresh;
    EXPECT_DOUBLE_EQ(fresh.NextUnit(), 16807.0 / 2147483647.0);
    EXPECT_EQ(kGreyHue, RandomGenerator().NextUnit());
}

TEST(RandomGenerator, SeedZeroActsAsOne) {
    RandomGenerator zero, one;
    zero.Seed(0);
    one.Seed(1);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(zero.Next(), one.Next());
}

TEST(RandomGenerator, AgreesWithSixtyFourBitArithmeticEverywhere) {
    // Schrage's method must never overflow, also for states near the modulus.
    for (const int32_t seed : {1, 127773, 127774, 2147483646, 1043618065, 16807}) {
        RandomGenerator rng;
        rng.Seed(seed);
        int64_t reference = seed;
        for (int i = 0; i < 20000; ++i) {
            reference = reference * 16807 % 2147483647;
            ASSERT_EQ(rng.Next(), reference) << "seed " << seed << " step " << i;
        }
    }
}

// The tables Init must build from a seed, drawn in the stored order:
// 4096 shuffle draws, then the lattice.
struct ReferenceTables {
    std::vector<int32_t> permutation;
    std::vector<double> lattice;

    ReferenceTables(int32_t seed, double amplitude, double phase) {
        RandomGenerator rng;
        rng.Seed(seed);
        for (int32_t i = 0; i < 4096; ++i) permutation.push_back(i);
        for (int32_t i = 0; i < 4096; ++i) std::swap(permutation[i], permutation[rng.Next() % 4096]);
        for (int j = 0; j < 264; ++j) {
            lattice.push_back(amplitude * std::sin(rng.Uniform(-1, 1) * 3.141592654 + phase));
        }
    }
    int32_t Hash(int32_t ix, int32_t iy) const {
        return permutation[permutation[ix & 4095] ^ (iy & 4095)] & 255;
    }
};

class Noise : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(field.Init(1.0, 0, 7, 0.25), kOk); }
    // A double raster over rect, every element set to fill.
    Raster* Doubles(const PixelRect& rect, double fill) {
        Raster* raster = nullptr;
        EXPECT_EQ(CreateRaster(rect, 1, 8, raster), kOk);
        for (int32_t y = rect.top; y < rect.bottom; ++y) {
            for (int32_t x = rect.left; x < rect.right; ++x) At(*raster, x, y) = fill;
        }
        owned.push_back(raster);
        return raster;
    }
    static double& At(const Raster& raster, int32_t x, int32_t y) {
        return *reinterpret_cast<double*>(raster.Pixel(x, y));
    }
    void TearDown() override {
        for (Raster* raster : owned) DestroyRaster(raster);
    }

    zoka_test::ModuleMemoryScope memory;
    NoiseField field;
    std::vector<Raster*> owned;
};

int NeverAbort(const void*) { return 0; }

// Stops at the gStopAt-th poll.
int gPolls = 0;
int gStopAt = 0;
int StopAtPoll(const void*) { return ++gPolls >= gStopAt ? 1 : 0; }

TEST_F(Noise, AtLatticePointsIsHalfTheCornersValueTerm) {
    const ReferenceTables tables(7, 1.0, 0.25);
    for (const int32_t ix : {0, 1, 17, 4095, -3}) {
        for (const int32_t iy : {0, 2, 999, -1}) {
            EXPECT_EQ(field.Noise(ix, iy), 0.5 * tables.lattice[tables.Hash(ix, iy)])
                << ix << "," << iy;
        }
    }
}

TEST_F(Noise, IsContinuousAcrossCellBordersAndRepeatsEvery4096Cells) {
    for (const double border : {1.0, 5.0, 300.0}) {
        for (const double other : {0.3, 7.75}) {
            EXPECT_NEAR(field.Noise(border - 1e-9, other), field.Noise(border + 1e-9, other), 1e-7);
            EXPECT_NEAR(field.Noise(other, border - 1e-9), field.Noise(other, border + 1e-9), 1e-7);
        }
    }
    for (const double x : {0.25, 3.5, 100.125}) {
        EXPECT_EQ(field.Noise(x + 4096, 2.75), field.Noise(x, 2.75));
        EXPECT_EQ(field.Noise(1.5, x + 4096), field.Noise(1.5, x));
    }
}

TEST_F(Noise, NegativeCoordinatesLieInTheCellBelow) {
    // With floor, -0.5 lies in cell -1, which is cell 4095 of the period.
    EXPECT_EQ(field.Noise(-0.5, 0.25), field.Noise(4095.5, 0.25));
    EXPECT_EQ(field.Noise(0.25, -0.5), field.Noise(0.25, 4095.5));
}

TEST_F(Noise, ScalesWithTheAmplitudeAndBarelyChangesOverAFullTurnOfPhase) {
    NoiseField doubled, turned;
    ASSERT_EQ(doubled.Init(2.0, 0, 7, 0.25), kOk);
    ASSERT_EQ(turned.Init(1.0, 0, 7, 0.25 + 2 * 3.141592653589793), kOk);
    for (const double x : {0.1, 2.6, 40.3}) {
        EXPECT_EQ(doubled.Noise(x, 1.7), 2 * field.Noise(x, 1.7));
        EXPECT_NEAR(turned.Noise(x, 1.7), field.Noise(x, 1.7), 1e-8);
    }
}

TEST_F(Noise, SeedZeroBuildsTheTablesOfSeedOne) {
    NoiseField zero, one;
    ASSERT_EQ(zero.Init(1.0, 50, 0, 0), kOk);
    ASSERT_EQ(one.Init(1.0, 50, 1, 0), kOk);
    EXPECT_EQ(zero.Noise(3.3, 8.1), one.Noise(3.3, 8.1));
    EXPECT_EQ(zero.IsDot(5, 9, 0.5), one.IsDot(5, 9, 0.5));
}

TEST_F(Noise, InitWithoutMemoryFailsAndLeavesNothing) {
    memory.Host().FailAllocation(1);
    NoiseField starved;
    EXPECT_EQ(starved.Init(1.0, 0, 1, 0), kOutOfMemory);
}

TEST_F(Noise, GrainSpansThePercentOfTheSignedByteRange) {
    const PixelRect rect{0, 0, 64, 64};
    Raster* none = nullptr;
    ASSERT_EQ(field.FillGrain(none, rect), kOk);
    owned.push_back(none);
    for (int32_t y = 0; y < 64; ++y) {
        for (int32_t x = 0; x < 64; ++x) ASSERT_EQ(none->Row(y)[x], 0);
    }

    NoiseField full;
    ASSERT_EQ(full.Init(1.0, 100, 7, 0), kOk);
    Raster* grain = nullptr;
    ASSERT_EQ(full.FillGrain(grain, rect), kOk);
    owned.push_back(grain);
    int lowest = 0, highest = 0;
    for (int32_t y = 0; y < 64; ++y) {
        for (int32_t x = 0; x < 64; ++x) {
            const int g = reinterpret_cast<int8_t*>(grain->Row(y))[x];
            lowest = std::min(lowest, g);
            highest = std::max(highest, g);
        }
    }
    EXPECT_GE(lowest, -127);
    EXPECT_LT(lowest, -100);
    EXPECT_GT(highest, 100);
}

TEST_F(Noise, DotsNeverAtThresholdZeroAndAlwaysAtOne) {
    int some = 0;
    for (int32_t row = -5; row < 40; ++row) {
        for (int32_t col = -5; col < 40; ++col) {
            EXPECT_FALSE(field.IsDot(col, row, 0));
            EXPECT_TRUE(field.IsDot(col, row, 1));
            some += field.IsDot(col, row, 0.5) ? 1 : 0;
        }
    }
    EXPECT_GT(some, 0);
    EXPECT_LT(some, 45 * 45);
}

TEST_F(Noise, FillSamplesOneLatticeCellPerLumpOfFullResolutionPixels) {
    const PixelRect rect{2, 3, 6, 9};
    Raster* raster = Doubles(rect, 0);
    // Lumps of 8 pixels at half resolution: a step of 1/4 cell per pixel.
    ASSERT_EQ(field.Fill(*raster, 8, 8, 1.5, -2, NeverAbort, 2), kOk);
    for (int32_t y = rect.top; y < rect.bottom; ++y) {
        for (int32_t x = rect.left; x < rect.right; ++x) {
            EXPECT_NEAR(At(*raster, x, y), field.Noise((x + 1.5) * 0.25, (y - 2) * 0.25), 1e-12);
        }
    }
}

TEST_F(Noise, FillGivesExactlyThePointSamplesAtItsAddedUpPositions) {
    const PixelRect rect{-3, -40, 9, 31};
    Raster* raster = Doubles(rect, 0);
    const double step = 1 / 2.7;  // several samples per cell, crossing cells
    ASSERT_EQ(field.Fill(*raster, 2.7, 2.7, 0.3, 0.6, NeverAbort, 1), kOk);
    double y = (rect.top + 0.6) * step;
    for (int32_t row = rect.top; row < rect.bottom; ++row, y += step) {
        double x = (rect.left + 0.3) * step;
        for (int32_t column = rect.left; column < rect.right; ++column, x += step) {
            ASSERT_EQ(At(*raster, column, row), field.Noise(x, y)) << column << "," << row;
        }
    }
}

TEST_F(Noise, AnAbortOnTheFirstRowOfAFillWritesNothing) {
    const PixelRect rect{0, 0, 4, 4};
    Raster* raster = Doubles(rect, 123.0);
    EXPECT_EQ(field.Fill(*raster, 5, 5, [](const void*) { return 1; }, 1), kCancelled);
    for (int32_t y = 0; y < 4; ++y) {
        for (int32_t x = 0; x < 4; ++x) EXPECT_EQ(At(*raster, x, y), 123.0);
    }
}

TEST_F(Noise, AFillWithoutMemoryForItsColumnsReportsItAndWritesNothing) {
    const PixelRect rect{0, 0, 4, 4};
    Raster* raster = Doubles(rect, 123.0);
    memory.Host().FailAllocation(1);
    EXPECT_EQ(field.Fill(*raster, 5, 5, NeverAbort, 1), kOutOfMemory);
    memory.Host().FailAllocation(1);
    EXPECT_EQ(field.FillFractal(*raster, 5, 5, 0, 0, NeverAbort, 1), kOutOfMemory);
    memory.Host().FailAllocation(0);
    for (int32_t y = 0; y < 4; ++y) {
        for (int32_t x = 0; x < 4; ++x) EXPECT_EQ(At(*raster, x, y), 123.0);
    }
}

// Octave k (1..4) of a fractal or turbulent sum at pixel (x, y).
double Octave(const NoiseField& field, int k, double x, double y, double step, double ox,
              double oy) {
    const double s = step * (1 << k);
    return field.Noise(s * (x + ox) + 17.1, s * (y + oy) + 23.7) / (1 << k);
}

TEST_F(Noise, FractalSumsFiveOctavesWithTheOffsetsOnlyInTheFinerFour) {
    const PixelRect rect{0, 0, 5, 7};
    Raster* raster = Doubles(rect, 0);
    const double before = field.Noise(0.3, 0.6);
    ASSERT_EQ(field.FillFractal(*raster, 4, 4, 30, -12, NeverAbort, 1), kOk);
    for (int32_t y = 0; y < 5; ++y) {
        for (int32_t x = 0; x < 7; ++x) {
            double expected = field.Noise(x * 0.25, y * 0.25);
            for (int k = 1; k <= 4; ++k) expected += Octave(field, k, x, y, 0.25, 30, -12);
            EXPECT_NEAR(At(*raster, x, y), expected, 1e-12);
        }
    }
    EXPECT_EQ(field.Noise(0.3, 0.6), before);  // the lattice is restored
}

TEST_F(Noise, TurbulenceSumsAbsoluteOctavesAllMovedByTheOffsets) {
    const PixelRect rect{1, 1, 5, 6};
    Raster* raster = Doubles(rect, 0);
    const double before = field.Noise(2.2, 3.3);
    ASSERT_EQ(field.FillTurbulence(*raster, 2, 2, 4, 9, NeverAbort, 1), kOk);
    for (int32_t y = rect.top; y < rect.bottom; ++y) {
        for (int32_t x = rect.left; x < rect.right; ++x) {
            double expected = std::fabs(field.Noise(0.5 * (x + 4) + 17.1, 0.5 * (y + 9) + 23.7));
            for (int k = 1; k <= 4; ++k) expected += std::fabs(Octave(field, k, x, y, 0.5, 4, 9));
            EXPECT_NEAR(At(*raster, x, y), expected, 1e-12);
        }
    }
    EXPECT_EQ(field.Noise(2.2, 3.3), before);
}

TEST_F(Noise, OctaveSumsRestoreTheLatticeWhenAborted) {
    const double before = field.Noise(2.2, 3.3);
    Raster* raster = Doubles(PixelRect{0, 0, 4, 4}, 0);
    // Polls: the first octave's rows (fractal only), then four octaves of rows.
    for (gStopAt = 1; gStopAt <= 16; ++gStopAt) {
        gPolls = 0;
        EXPECT_EQ(field.FillFractal(*raster, 3, 3, 0, 0, StopAtPoll, 1), kCancelled) << gStopAt;
        EXPECT_EQ(field.Noise(2.2, 3.3), before) << gStopAt;
        gPolls = 0;
        EXPECT_EQ(field.FillTurbulence(*raster, 3, 3, 0, 0, StopAtPoll, 1), kCancelled) << gStopAt;
        EXPECT_EQ(field.Noise(2.2, 3.3), before) << gStopAt;
    }
}

TEST_F(Noise, FlowVectorsAreUnitGradientsTurnedByTheAngle) {
    const PixelRect rect{0, 0, 6, 8};
    Raster* straight = nullptr;
    Raster* turned = nullptr;
    ASSERT_EQ(field.FillFlowVectors(straight, rect, 10, 0, 3, 4), kOk);
    owned.push_back(straight);
    ASSERT_EQ(field.FillFlowVectors(turned, rect, 10, 90, 3, 4), kOk);
    owned.push_back(turned);
    for (int32_t y = 0; y < 6; ++y) {
        const auto* s = reinterpret_cast<const int8_t*>(straight->Row(y));
        const auto* t = reinterpret_cast<const int8_t*>(turned->Row(y));
        for (int32_t x = 0; x < 8; ++x, s += 2, t += 2) {
            // Rounding is by truncation, so negative parts may lose a level.
            EXPECT_NEAR(std::hypot(s[0], s[1]), 127, 2);
            // A quarter turn maps (ux, uy) to (uy, -ux).
            EXPECT_NEAR(t[0], s[1], 1);
            EXPECT_NEAR(t[1], -s[0], 1);
        }
    }
    // The x component follows the noise's slope along the row.
    const double slope = field.Noise(0.4, 0.4) - field.Noise(0.2, 0.4);
    EXPECT_EQ(reinterpret_cast<const int8_t*>(straight->Row(0))[0] > 0, slope > 0);
}

// Every vector from the point samples at the added-up positions, by the
// scalar arithmetic: odd and even widths (the vectors come two at a time
// with a last one alone), and a flat field whose zero gradients take the
// reciprocal's small-value branch.
TEST_F(Noise, FlowVectorsAreTheScalarVectorsOfThePointSamples) {
    NoiseField flat;
    ASSERT_EQ(flat.Init(0.0, 0, 5, 0), kOk);
    for (const NoiseField* f : {static_cast<const NoiseField*>(&field), static_cast<const NoiseField*>(&flat)}) {
        for (const int32_t width : {7, 8}) {
            const PixelRect rect{2, -3, 7, -3 + width};
            const double ox = 2.5, oy = -1.25, angle = 37;
            Raster* vectors = nullptr;
            ASSERT_EQ(f->FillFlowVectors(vectors, rect, 6, angle, ox, oy), kOk);
            owned.push_back(vectors);
            const double d = SafeReciprocal(6);
            const double turn = angle * 0.017453292;
            const double c = std::cos(turn), sn = std::sin(turn);
            std::vector<double> xs(static_cast<size_t>(width) + 2);
            xs[0] = (rect.left + ox) * d - d;
            xs[1] = (rect.left + ox) * d;
            for (size_t j = 2; j < xs.size(); ++j) xs[j] = xs[j - 1] + d;
            // A row's noise above is the previous row's own.
            double y = (rect.top + oy) * d, above = y - d;
            for (int32_t row = rect.top; row < rect.bottom; above = y, ++row, y += d) {
                const auto* v = reinterpret_cast<const int8_t*>(vectors->Row(row));
                for (int32_t j = 1; j <= width; ++j) {
                    const double gx = f->Noise(xs[j + 1], y) - f->Noise(xs[j - 1], y);
                    const double gy = f->Noise(xs[j], y + d) - f->Noise(xs[j], above);
                    const double m = SafeReciprocal(std::sqrt(gx * gx + gy * gy));
                    const double ux = m * gx, uy = m * gy;
                    EXPECT_EQ(v[2 * (j - 1)],
                              static_cast<int8_t>(TruncToInt32(0.5 + 127 * (c * ux + sn * uy))));
                    EXPECT_EQ(v[2 * (j - 1) + 1],
                              static_cast<int8_t>(TruncToInt32(0.5 + 127 * (c * uy - sn * ux))));
                }
            }
        }
    }
}

TEST_F(Noise, ALumpSizeOfZeroStepsByTheSafeReciprocal) {
    const PixelRect rect{0, 0, 3, 3};
    Raster* vectors = nullptr;
    ASSERT_EQ(field.FillFlowVectors(vectors, rect, 0, 30, 0, 0), kOk);
    owned.push_back(vectors);
    Raster* heights = Doubles(rect, 0);
    field.AddNoiseBelow(*heights, 1.0, 0, 60, 0, 0);
    // Element (1, 1) lies at (-1e7, -1e7) lattice units.
    EXPECT_DOUBLE_EQ(At(*heights, 1, 1), std::min(field.Noise(-1e7, -1e7), 1.0));
}

TEST_F(Noise, FlowVectorsWithoutMemoryLeaveNothing) {
    for (uint64_t n = 1; n <= 6; ++n) {
        memory.Host().FailAllocation(n);
        Raster* vectors = nullptr;
        EXPECT_EQ(field.FillFlowVectors(vectors, PixelRect{0, 0, 4, 4}, 5, 0, 0, 0), kOutOfMemory);
        EXPECT_EQ(vectors, nullptr);
    }
    memory.Host().FailAllocation(0);
    EXPECT_EQ(memory.Host().LiveHandles(), 1u);  // the field's permutation
}

TEST_F(Noise, NoiseIsAddedOnlyBelowTheInteriorLevelAndCappedAtTheCeiling) {
    const PixelRect rect{0, 0, 8, 8};
    Raster* heights = Doubles(rect, 0);
    At(*heights, 2, 2) = 0.5;
    field.AddNoiseBelow(*heights, 0.05, 2, 100, 1, 1);
    EXPECT_EQ(At(*heights, 2, 2), 0.5);
    bool changed = false;
    for (int32_t y = 0; y < 8; ++y) {
        for (int32_t x = 0; x < 8; ++x) {
            if (x == 2 && y == 2) continue;
            const double expected = std::min(100 * 0.016666666666666666 * 0.05 *
                                                 field.Noise((x + 1) * 0.5, (y + 1) * 0.5),
                                             0.05);
            EXPECT_NEAR(At(*heights, x, y), expected, 1e-15);
            changed = changed || At(*heights, x, y) != 0;
        }
    }
    EXPECT_TRUE(changed);
}

// Wider than one strip of columns, with a step that does not divide evenly:
// every element is exactly the point sample at its added-up position.
TEST_F(Noise, AddedNoiseIsExactlyThePointSamplesAcrossColumnStrips) {
    const PixelRect rect{-2, -7, 5, 600};
    Raster* heights = Doubles(rect, 0);
    At(*heights, 300, 1) = 0.5;  // above the interior level: left alone
    const double ceiling = 3.0, d = 1.0 / 7, a = 45 * 0.016666666666666666 * ceiling;
    field.AddNoiseBelow(*heights, ceiling, 7, 45, 0.3, 0.6);
    double y = (rect.top + 0.6) * d;
    for (int32_t row = rect.top; row < rect.bottom; ++row, y += d) {
        double x = (rect.left + 0.3) * d;
        for (int32_t column = rect.left; column < rect.right; ++column, x += d) {
            const double expected =
                column == 300 && row == 1 ? 0.5 : std::min(0 + a * field.Noise(x, y), ceiling);
            ASSERT_EQ(At(*heights, column, row), expected) << column << "," << row;
        }
    }
}

}  // namespace
}  // namespace zoka
