// The lattice noise sampled many at a time must give, bit for bit, the point
// samples it stands for, wherever the samples fall: along rows, across cell
// borders, on exact integers and zeros of either sign, far out and at NaN.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "base/result_codes.h"
#include "noise/noise_field.h"
#include "tests/support/module_memory_scope.h"

namespace zoka {
namespace {

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Positions as the kernels make them: a start, then repeated additions of a
// step, with some odd values dropped in.
std::vector<double> Walk(std::mt19937_64& rng, int32_t count) {
    std::uniform_real_distribution<double> start(-50, 50), step(-0.3, 1.7);
    std::vector<double> xs(static_cast<size_t>(count));
    double x = start(rng);
    const double s = rng() % 4 == 0 ? 0.125 : step(rng);  // 0.125 lands on integers
    for (double& v : xs) {
        v = x;
        x += s;
    }
    constexpr double kOdd[] = {0.0, -0.0, 1.0, -1.0, 4096.0, -4097.5, 1e15 + 0.5, 9.1e18,
                               -1e300, std::numeric_limits<double>::infinity(),
                               std::numeric_limits<double>::quiet_NaN(), 0x1p-1074, -0x1p-1074};
    for (int i = 0; i < 6; ++i) xs[rng() % xs.size()] = kOdd[rng() % std::size(kOdd)];
    return xs;
}

class NoiseRows : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(field.Init(1.5, 0, 3, 0.7), kOk); }

    zoka_test::ModuleMemoryScope memory;
    NoiseField field;
    std::mt19937_64 rng{20261208};
};

TEST_F(NoiseRows, ARowOfSamplesIsThePointSamplesBitForBit) {
    const double ys[] = {0.25, -0.0, 0.0, 3.0, -7.75, 1e17, std::numeric_limits<double>::quiet_NaN()};
    for (int trial = 0; trial < 300; ++trial) {
        const std::vector<double> xs = Walk(rng, 97);
        const double y = trial < 7 ? ys[trial] : std::uniform_real_distribution<double>(-9, 9)(rng);
        std::vector<double> out(xs.size());
        field.NoiseAlongRow(y, xs.data(), static_cast<int32_t>(xs.size()), out.data());
        for (size_t i = 0; i < xs.size(); ++i) {
            ASSERT_TRUE(SameBits(out[i], field.Noise(xs[i], y))) << xs[i] << ", " << y;
        }
    }
}

TEST_F(NoiseRows, AddedOctaveSamplesAreTheWeightedPointSamplesBitForBit) {
    for (int trial = 0; trial < 300; ++trial) {
        const std::vector<double> xs = Walk(rng, 61);
        const double y = std::uniform_real_distribution<double>(-20, 20)(rng);
        const double factor = std::ldexp(1.0, static_cast<int>(rng() % 10));
        const double weight = std::uniform_real_distribution<double>(0, 1.5)(rng);
        std::vector<double> sums(xs.size()), expected(xs.size());
        for (size_t i = 0; i < xs.size(); ++i) sums[i] = expected[i] = static_cast<double>(i) * 0.1;
        field.AddNoiseAlongRow(y, xs.data(), factor, weight, static_cast<int32_t>(xs.size()),
                               sums.data());
        for (size_t i = 0; i < xs.size(); ++i) {
            expected[i] += weight * field.Noise(factor * xs[i], y);
            ASSERT_TRUE(SameBits(sums[i], expected[i])) << xs[i] << ", " << y << " x" << factor;
        }
    }
}

// One plan of the positions serves many rows, each as the point samples.
TEST_F(NoiseRows, PlannedOctaveSamplesAreTheWeightedPointSamplesBitForBit) {
    for (int trial = 0; trial < 100; ++trial) {
        const std::vector<double> xs = Walk(rng, 61);
        const double factor = std::ldexp(1.0, static_cast<int>(rng() % 10));
        NoiseColumns columns;
        ASSERT_EQ(columns.Plan(field, xs.data(), factor, static_cast<int32_t>(xs.size())), kOk);
        for (int row = 0; row < 3; ++row) {
            const double y = std::uniform_real_distribution<double>(-20, 20)(rng);
            const double weight = std::uniform_real_distribution<double>(0, 1.5)(rng);
            std::vector<double> sums(xs.size(), 0.25), expected(xs.size(), 0.25);
            field.AddNoiseAlongRow(y, columns, weight, sums.data());
            for (size_t i = 0; i < xs.size(); ++i) {
                expected[i] += weight * field.Noise(factor * xs[i], y);
                ASSERT_TRUE(SameBits(sums[i], expected[i])) << xs[i] << ", " << y << " x" << factor;
            }
        }
    }
}

// Four rows at once, by every kernel this processor runs: each lane is its
// row's planned samples, whether the rows share a cell or not.
TEST_F(NoiseRows, FourRowsAtOnceAreTheWeightedPointSamplesBitForBit) {
    std::vector<AddFourRowsFn> kernels = {AddFourRowsScalar};
#if defined(__x86_64__) || defined(__i386__)
    if (__builtin_cpu_supports("avx2")) kernels.push_back(AddFourRowsAvx2);
#endif
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    for (AddFourRowsFn kernel : kernels) {
        for (int trial = 0; trial < 100; ++trial) {
            const std::vector<double> xs = Walk(rng, 61);
            const double factor = std::ldexp(1.0, static_cast<int>(rng() % 10));
            NoiseColumns columns;
            ASSERT_EQ(columns.Plan(field, xs.data(), factor, static_cast<int32_t>(xs.size())), kOk);
            // Rows a small step apart (mostly in one cell), or scattered.
            double ys[4];
            ys[0] = std::uniform_real_distribution<double>(-20, 20)(rng);
            const double step = trial % 2 == 0 ? 0.01 * (trial % 17) : 3.3;
            for (int k = 1; k < 4; ++k) ys[k] = ys[k - 1] + step;
            if (trial % 25 == 3) ys[rng() % 4] = kNaN;
            if (trial % 25 == 7) ys[rng() % 4] = -0.0;
            const double weight = std::uniform_real_distribution<double>(0, 1.5)(rng);
            std::vector<double> sums(4 * xs.size()), expected(4 * xs.size());
            for (size_t i = 0; i < sums.size(); ++i) sums[i] = expected[i] = 0.01 * i;
            field.AddNoiseAlongFourRows(ys, columns, weight, sums.data(), kernel);
            for (size_t i = 0; i < xs.size(); ++i) {
                for (size_t k = 0; k < 4; ++k) {
                    expected[4 * i + k] += weight * field.Noise(factor * xs[i], ys[k]);
                    ASSERT_TRUE(SameBits(sums[4 * i + k], expected[4 * i + k]))
                        << xs[i] << ", " << ys[k] << " x" << factor;
                }
            }
        }
    }
}

// By every kernel this processor runs, with counts that leave short groups.
TEST_F(NoiseRows, ScatteredPointsAreThePointSamplesBitForBit) {
    std::vector<NoiseAtPointsFn> kernels = {NoiseAtPointsScalar};
#if defined(__x86_64__) || defined(__i386__)
    if (__builtin_cpu_supports("avx2")) kernels.push_back(NoiseAtPointsAvx2);
#endif
    for (NoiseAtPointsFn kernel : kernels) {
        for (int trial = 0; trial < 300; ++trial) {
            const auto count = static_cast<int32_t>(80 + trial % 4);
            const std::vector<double> xs = Walk(rng, count);
            std::vector<double> ys = Walk(rng, count);
            if (trial % 3 == 0) std::fill(ys.begin(), ys.begin() + 40, ys[0]);  // a row, then not
            std::vector<double> out(xs.size());
            field.NoiseAtPoints(xs.data(), ys.data(), count, out.data(), kernel);
            for (size_t i = 0; i < xs.size(); ++i) {
                ASSERT_TRUE(SameBits(out[i], field.Noise(xs[i], ys[i]))) << xs[i] << ", " << ys[i];
            }
        }
    }
}

}  // namespace
}  // namespace zoka
