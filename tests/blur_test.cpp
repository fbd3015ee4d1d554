// The blur engine: kernels, methods, the FFT, and the edges of a raster.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <complex>
#include <cstring>
#include <random>
#include <thread>
#include <tuple>
#include <vector>

#include "base/result_codes.h"
#include "raster/blur.h"
#include "raster/fft.h"
#include "raster/lanes.h"
#include "tests/support/module_memory_scope.h"

namespace zoka {
namespace {

using zoka_test::ModuleMemoryScope;

int NeverAbort(const void*) { return 0; }
int AlwaysAbort(const void*) { return 1; }

struct OwnedRaster {
    OwnedRaster(PixelRect rect, int32_t channels, int32_t channelBytes) {
        EXPECT_EQ(CreateRaster(rect, channels, channelBytes, raster), kOk);
    }
    ~OwnedRaster() { DestroyRaster(raster); }
    Raster* raster = nullptr;
};

double& At(Raster& r, int32_t x, int32_t y) { return *reinterpret_cast<double*>(r.Pixel(x, y)); }

TEST(BlurKernel, TapsAreTheCeilingOfTheRadiusButAtLeastTwo) {
    EXPECT_EQ(HalfKernelTaps(0.4), 2);
    EXPECT_EQ(HalfKernelTaps(3.2), 4);
    EXPECT_EQ(HalfKernelTaps(5), 5);
    EXPECT_EQ(HalfKernelTaps(30), 30);
}

TEST(BlurKernel, TheHalfKernelSumsToOneWithTheWeightsOfRadiusFive) {
    double w[5];
    GaussKernelHalf(5, 5, w);
    const double expected[] = {0.1943, 0.1739, 0.1246, 0.0715, 0.0328};
    for (int d = 0; d < 5; ++d) EXPECT_NEAR(w[d], expected[d], 5e-5) << d;
    EXPECT_NEAR(w[0] + 2 * (w[1] + w[2] + w[3] + w[4]), 1.0, 1e-15);
}

TEST(BlurKernel, TheCircularKernelSumsToOneOverItsLength) {
    std::vector<double> k(144);
    GaussKernelCircular(40, 144, k.data());
    double sum = 0;
    for (double v : k) sum += v;
    EXPECT_NEAR(sum, 1.0 / 144, 1e-17);
    EXPECT_EQ(k[72], 0);
    EXPECT_DOUBLE_EQ(k[5], k[139]);
}

TEST(BlurMethodChoice, TheComparisonsAreStrict) {
    EXPECT_EQ(ChooseBlurMethod(1, 0), BlurMethod::kNone);
    EXPECT_EQ(ChooseBlurMethod(1, -3), BlurMethod::kNone);
    EXPECT_EQ(ChooseBlurMethod(1, 30), BlurMethod::kTable);
    EXPECT_EQ(ChooseBlurMethod(1, 30.5), BlurMethod::kFft);
    EXPECT_EQ(ChooseBlurMethod(8, 16), BlurMethod::kDirect);
    EXPECT_EQ(ChooseBlurMethod(8, 16.01), BlurMethod::kFft);
    EXPECT_EQ(ChooseBlurMethod(8, std::nan("")), BlurMethod::kNone);
}

TEST(FftLength, TwiceTheFirstDivisorOf720720AtLeastHalfTheLine) {
    EXPECT_EQ(FftSize(140), 140);
    EXPECT_EQ(FftSize(141), 144);
    EXPECT_EQ(FftSize(1), 2);
    EXPECT_EQ(FftSize(2021), 2080);
    EXPECT_EQ(FftSize(720720), 720720);
    EXPECT_EQ(FftSize(720722), 1441440);
    EXPECT_EQ(FftSize(2000000), 1441440);
}

// Every length whose factors the algorithm takes, in every combination.
std::vector<int32_t> FactorCombinations() {
    std::vector<int32_t> lengths;
    for (int32_t two : {1, 2, 4, 8, 16}) {
        for (int32_t three : {1, 3, 9}) {
            for (int32_t others : {1, 5, 7, 11, 13, 35, 143, 5 * 7 * 11}) {
                lengths.push_back(two * three * others);
            }
        }
    }
    return lengths;
}

TEST(Fft, TheComplexTransformIsTheDiscreteFourierTransform) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> value(-1, 1);
    for (const int32_t n : FactorCombinations()) {
        if (n > 2000) continue;
        std::vector<double> z(2 * static_cast<size_t>(n));
        for (double& v : z) v = value(random);
        for (const int sign : {1, -1}) {
            std::vector<double> transformed = z;
            PfaComplexFft(sign, n, transformed.data());
            std::vector<std::complex<double>> roots(static_cast<size_t>(n));
            for (int32_t t = 0; t < n; ++t) roots[t] = std::polar(1.0, sign * 2 * M_PI * t / n);
            double worst = 0;
            for (int32_t k = 0; k < n; ++k) {
                std::complex<double> sum = 0;
                for (int32_t j = 0; j < n; ++j) {
                    sum += std::complex<double>(z[2 * j], z[2 * j + 1]) * roots[(int64_t{j} * k) % n];
                }
                worst = std::max(worst, std::abs(sum - std::complex<double>(transformed[2 * k],
                                                                              transformed[2 * k + 1])));
            }
            EXPECT_LT(worst, 1e-7 * std::sqrt(double(n))) << "length " << n << ", sign " << sign;
        }
    }
}

TEST(Fft, RealForwardThenInverseReturnsNTimesTheInput) {
    std::mt19937 random(3);
    std::uniform_real_distribution<double> value(-100, 100);
    for (const int32_t half : FactorCombinations()) {
        const int32_t n = 2 * half;
        if (n > 30000) continue;
        std::vector<double> x(static_cast<size_t>(n)), spectrum(static_cast<size_t>(n) + 2),
            back(static_cast<size_t>(n));
        for (double& v : x) v = value(random);
        RealFftForward(1, n, x.data(), spectrum.data());
        EXPECT_EQ(spectrum[1], 0);
        EXPECT_EQ(spectrum[n + 1], 0);
        RealFftInverse(-1, n, spectrum.data(), back.data());
        double worst = 0;
        for (int32_t j = 0; j < n; ++j) worst = std::max(worst, std::fabs(back[j] / n - x[j]));
        // The constants' 2 pi is stored to 8 and 10 digits: a round trip holds
        // to about 1e-9 of the values' range.
        EXPECT_LT(worst / 100, 1e-8) << "length " << n;
    }
}

TEST(Fft, RealForwardMatchesTheDiscreteTransform) {
    const int32_t n = 140;
    std::vector<double> x(n), spectrum(n + 2);
    for (int32_t j = 0; j < n; ++j) x[j] = std::sin(j * 0.37) + (j % 7);
    RealFftForward(1, n, x.data(), spectrum.data());
    for (int32_t k = 0; k <= n / 2; ++k) {
        std::complex<double> sum = 0;
        for (int32_t j = 0; j < n; ++j) sum += x[j] * std::polar(1.0, 2 * M_PI * ((j * k) % n) / n);
        EXPECT_NEAR(spectrum[2 * k], sum.real(), 1e-6) << k;
        EXPECT_NEAR(spectrum[2 * k + 1], sum.imag(), 1e-6) << k;
    }
}

TEST(Convolve, ZerosSurroundEveryLineWhateverItsLength) {
    double w[4];
    GaussKernelHalf(3.5, 4, w);
    const double in[3] = {10, 20, 30};
    double out[3];
    ConvolveSymmetric(3, 4, w, in, out);
    EXPECT_DOUBLE_EQ(out[0], w[0] * 10 + w[1] * (0 + 20) + w[2] * (0 + 30) + w[3] * (0 + 0));
    EXPECT_DOUBLE_EQ(out[1], w[0] * 20 + w[1] * (10 + 30) + w[2] * (0 + 0) + w[3] * (0 + 0));
}

TEST(Blur, AConstantRasterAtRadiusFiveKeepsItsInteriorAndFadesAtTheEdges) {
    ModuleMemoryScope memory;
    OwnedRaster r(PixelRect{0, 0, 40, 40}, 1, 1);
    for (int y = 0; y < 40; ++y) std::memset(r.raster->Row(y), 255, 40);
    ASSERT_EQ(BlurRaster(*r.raster, 5, NeverAbort), kOk);
    EXPECT_GE(*r.raster->Pixel(20, 20), 254);
    EXPECT_EQ(*r.raster->Pixel(20, 0), 152);
    EXPECT_EQ(*r.raster->Pixel(0, 0), 90);
    EXPECT_LT(*r.raster->Pixel(20, 3), 254) << "the fall-off reaches four pixels in";
    EXPECT_GE(*r.raster->Pixel(20, 4), 254);
    EXPECT_EQ(memory.Host().LiveHandles(), 3u);
}

TEST(Blur, ARasterNarrowerThanTheKernelIsBlurredAsIfSurroundedByZeros) {
    ModuleMemoryScope memory;
    OwnedRaster narrow(PixelRect{0, 0, 1, 3}, 1, 8);
    OwnedRaster wide(PixelRect{0, -20, 1, 23}, 1, 8);
    for (int x = -20; x < 23; ++x) At(*wide.raster, x, 0) = 0;
    for (int x = 0; x < 3; ++x) At(*narrow.raster, x, 0) = At(*wide.raster, x, 0) = 10.0 * (x + 1);
    ASSERT_EQ(BlurRaster(*narrow.raster, 10, NeverAbort), kOk);
    ASSERT_EQ(BlurRaster(*wide.raster, 10, NeverAbort), kOk);
    for (int x = 0; x < 3; ++x) EXPECT_DOUBLE_EQ(At(*narrow.raster, x, 0), At(*wide.raster, x, 0));
}

TEST(Blur, AnAbortAtTheFirstLineLeavesTheRasterUntouched) {
    ModuleMemoryScope memory;
    for (const double radius : {5.0, 40.0}) {
        OwnedRaster r(PixelRect{0, 0, 8, 8}, 4, 1);
        for (int y = 0; y < 8; ++y) std::memset(r.raster->Row(y), y * 20, 32);
        EXPECT_EQ(BlurRaster(*r.raster, radius, AlwaysAbort), kCancelled);
        for (int y = 0; y < 8; ++y) EXPECT_EQ(r.raster->Row(y)[13], y * 20);
    }
    EXPECT_EQ(memory.Host().LiveHandles(), 0u);
}

TEST(Blur, NoMemoryBeforeTheRowPassLeavesTheRasterUntouched) {
    ModuleMemoryScope memory;
    for (const double radius : {5.0, 12.0, 40.0}) {
        for (const int32_t bytes : {1, 8}) {
            OwnedRaster r(PixelRect{0, 0, 6, 6}, 1, bytes);
            for (int y = 0; y < 6; ++y) std::memset(r.raster->Row(y), 77, 6 * bytes);
            // The allocations made before the row pass.
            const uint64_t before = ChooseBlurMethod(bytes, radius) == BlurMethod::kDirect ? 3 : 4;
            for (uint64_t fail = 1; fail <= before; ++fail) {
                memory.Host().FailAllocation(fail);
                EXPECT_EQ(BlurRaster(*r.raster, radius, NeverAbort), kOutOfMemory);
                EXPECT_EQ(r.raster->Row(3)[3], 77);
            }
            memory.Host().FailAllocation(0);
        }
    }
    EXPECT_EQ(memory.Host().LiveHandles(), 0u);
}

// The FFT method convolves each zero-extended line circularly with its
// kernel: a direct circular convolution gives the same up to rounding.
TEST(Blur, TheFftMethodIsACircularConvolutionWithItsKernel) {
    ModuleMemoryScope memory;
    const int32_t length = 50;
    const double r = 20;
    OwnedRaster line(PixelRect{0, 0, 1, length}, 1, 8);
    std::vector<double> x(static_cast<size_t>(length));
    for (int32_t i = 0; i < length; ++i) x[i] = At(*line.raster, i, 0) = (i * 37) % 101;
    ASSERT_EQ(BlurRaster(*line.raster, r, NeverAbort), kOk);

    const int32_t n = FftSize(length + 20);
    std::vector<double> k(static_cast<size_t>(n));
    GaussKernelCircular(r, n, k.data());
    // The column pass of a one-row raster scales each sample by its own
    // kernel's centre weight.
    const int32_t columnN = FftSize(1 + 20);
    std::vector<double> columnKernel(static_cast<size_t>(columnN));
    GaussKernelCircular(r, columnN, columnKernel.data());
    for (int32_t i = 0; i < length; ++i) {
        double sum = 0;
        for (int32_t j = 0; j < length; ++j) sum += x[j] * k[((i - j) % n + n) % n] * n;
        EXPECT_NEAR(At(*line.raster, i, 0), sum * columnKernel[0] * columnN, 1e-8) << i;
    }
}

// Where both methods apply their kernels fully, they agree closely: the
// direct kernel is cut at about r pixels, the FFT kernel much further out.
TEST(Blur, TheFftAndDirectMethodsAgreeOnAShape) {
    ModuleMemoryScope memory;
    OwnedRaster direct(PixelRect{0, 0, 60, 60}, 1, 8);
    OwnedRaster viaFft(PixelRect{0, 0, 60, 60}, 1, 8);
    for (int y = 0; y < 60; ++y) {
        for (int x = 0; x < 60; ++x) {
            At(*direct.raster, x, y) = At(*viaFft.raster, x, y) =
                (x > 15 && x < 45 && y > 20 && y < 40) ? 255 : 0;
        }
    }
    ASSERT_EQ(BlurRaster(*direct.raster, 16, NeverAbort), kOk);
    ASSERT_EQ(BlurRaster(*viaFft.raster, 16.001, NeverAbort), kOk);
    double worst = 0;
    for (int y = 0; y < 60; ++y) {
        for (int x = 0; x < 60; ++x) {
            worst = std::max(worst, std::fabs(At(*direct.raster, x, y) - At(*viaFft.raster, x, y)));
        }
    }
    EXPECT_LT(worst, 6.0) << "out of 255";
}

}  // namespace
}  // namespace zoka

namespace zoka {
namespace {

// The one-lane kernels and every wider set the processor runs.
std::vector<LaneKernels> EveryLaneWidth() {
    std::vector<LaneKernels> widths{ScalarLaneKernels()};
#if defined(__x86_64__) || defined(__i386__)
    widths.push_back(LaneKernels2());
    if (__builtin_cpu_supports("avx2")) widths.push_back(LaneKernels4());
    if (__builtin_cpu_supports("avx512f")) widths.push_back(LaneKernels8());
#endif
    return widths;
}

// Every lane width the processor runs gives the one-lane kernels' bits: each
// lane keeps the scalar order of operations.
TEST(BlurLanes, EveryWidthGivesTheScalarBits) {
    const std::vector<LaneKernels> widths = EveryLaneWidth();
    std::mt19937 random(11);
    const int32_t length = 37, taps = 6, pad = taps - 1;
    double w[taps];
    GaussKernelHalf(5.3, taps, w);
    std::vector<double> table(256 * taps);
    for (int32_t d = 0; d < taps; ++d) {
        for (int32_t v = 0; v < 256; ++v) table[d * 256 + v] = v == 0 ? 0 : table[d * 256 + v - 1] + w[d];
    }
    std::vector<int32_t> flat(256, 0);
    // Lines with a flat stretch, so both table paths run.
    std::vector<double> line(length);
    for (int32_t i = 0; i < length; ++i) line[i] = i > 10 && i < 25 ? 77 : random() % 256;
    std::vector<uint8_t> reference;
    std::vector<double> directReference;
    for (const LaneKernels& lanes : widths) {
        const auto width = static_cast<size_t>(lanes.width);
        const auto tableWidth = static_cast<size_t>(kTableLanes);
        std::vector<uint8_t> bytes((length + 2 * pad) * tableWidth, 0), out(length * tableWidth);
        std::vector<double> doubles((length + 2 * pad) * width, 0.0);
        // Results are stored as whole vectors: aligned as the blur aligns them.
        struct alignas(64) Block {
            double v[8];
        };
        std::vector<Block> directBlocks(length);
        double* direct = directBlocks[0].v;
        for (int32_t i = 0; i < length; ++i) {
            for (size_t lane = 0; lane < tableWidth; ++lane) bytes[(i + pad) * tableWidth + lane] = static_cast<uint8_t>(line[i]);
            for (size_t lane = 0; lane < width; ++lane) doubles[(i + pad) * width + lane] = line[i] / 3;
        }
        // The flat table by the straightforward sum.
        for (int32_t v = 0; v < 256; ++v) {
            double sum = table[v];
            for (int32_t d = 1; d < taps; ++d) sum += table[d * 256 + v] + table[d * 256 + v];
            flat[v] = static_cast<int32_t>(sum);
        }
        int32_t scaled[taps];
        const int32_t slack = ScaleTableKernel(w, taps, scaled);
        lanes.table(TableConvolution{taps, table.data(), flat.data(), scaled, slack}, length, bytes.data(),
                    out.data());
        lanes.direct(DirectConvolution{taps, w}, length, doubles.data(), direct);
        std::vector<uint8_t> firstLane(length);
        std::vector<double> firstDirect(length);
        for (int32_t i = 0; i < length; ++i) {
            firstLane[i] = out[i * tableWidth];
            firstDirect[i] = direct[i * width];
            for (size_t lane = 1; lane < tableWidth; ++lane) EXPECT_EQ(out[i * tableWidth + lane], out[i * tableWidth]);
            for (size_t lane = 1; lane < width; ++lane) EXPECT_EQ(direct[i * width + lane], direct[i * width]);
        }
        if (reference.empty()) {
            reference = firstLane;
            directReference = firstDirect;
            // One lane is the straightforward sum itself.
            std::vector<double> plain(line.begin(), line.end());
            for (double& v : plain) v /= 3;
            std::vector<double> expected(length);
            ConvolveSymmetric(length, taps, w, plain.data(), expected.data());
            EXPECT_EQ(firstDirect, expected);
        }
        EXPECT_EQ(firstLane, reference) << lanes.width << " lanes";
        EXPECT_EQ(firstDirect, directReference) << lanes.width << " lanes";
    }
}

// The FFT method's arrangement of the transform changes the last bits only:
// every byte is within one level of the straightforward convolution with the
// same kernels, truncated after each pass.
TEST(BlurLanes, TheFftStaysWithinOneLevelOfTheStraightforwardConvolution) {
    ModuleMemoryScope memory;
    const int32_t width = 70, height = 45;
    const double r = 33;
    OwnedRaster raster(PixelRect{0, 0, height, width}, 1, 1);
    std::vector<double> plain(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const uint8_t v = static_cast<uint8_t>((x * 37 + y * 91 + (x * y) % 13) % 256);
            *raster.raster->Pixel(x, y) = v;
            plain[y * width + x] = v;
        }
    }
    ASSERT_EQ(BlurRaster(*raster.raster, r, NeverAbort), kOk);
    // Rows, then columns, each convolved directly and truncated to bytes.
    const auto pass = [&](int32_t lines, int32_t length, auto at) {
        const int32_t n = FftSize(length + 33);
        std::vector<double> k(static_cast<size_t>(n));
        GaussKernelCircular(r, n, k.data());
        for (int32_t l = 0; l < lines; ++l) {
            std::vector<double> in(static_cast<size_t>(length));
            for (int32_t i = 0; i < length; ++i) in[i] = at(l, i);
            for (int32_t i = 0; i < length; ++i) {
                double sum = 0;
                for (int32_t j = 0; j < length; ++j) sum += in[j] * k[((i - j) % n + n) % n];
                at(l, i) = std::trunc(sum * n);
            }
        }
    };
    pass(height, width, [&](int32_t l, int32_t i) -> double& { return plain[l * width + i]; });
    pass(width, height, [&](int32_t l, int32_t i) -> double& { return plain[i * width + l]; });
    int32_t worst = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            worst = std::max(worst, std::abs(*raster.raster->Pixel(x, y) - int32_t(plain[y * width + x])));
        }
    }
    EXPECT_LE(worst, 1);
}

}  // namespace
}  // namespace zoka

namespace zoka {
namespace {

// The table method's straightforward sum for one line: row v of tap d holds
// v w[d] built by additions, the taps summed in ascending order, zeros
// outside the line, truncated.
std::vector<uint8_t> TableSumOfLine(const std::vector<uint8_t>& line, double r) {
    const int32_t taps = HalfKernelTaps(r);
    std::vector<double> w(taps), table(256 * taps);
    GaussKernelHalf(r, taps, w.data());
    for (int32_t d = 0; d < taps; ++d) {
        for (int32_t v = 1; v < 256; ++v) table[d * 256 + v] = table[d * 256 + v - 1] + w[d];
    }
    const auto length = static_cast<int32_t>(line.size());
    const auto at = [&](int32_t j) { return j < 0 || j >= length ? 0 : line[j]; };
    std::vector<uint8_t> out(line.size());
    for (int32_t i = 0; i < length; ++i) {
        double a = table[at(i)];
        for (int32_t d = 1; d < taps; ++d) a = a + (table[d * 256 + at(i - d)] + table[d * 256 + at(i + d)]);
        out[i] = static_cast<uint8_t>(static_cast<int32_t>(a));
    }
    return out;
}

// Lines that put the integer shortcut near its limits, one per lane: noise,
// a flat run of each value (whose sums land on or next to an integer), a
// ramp (its exact sums are integers), steps, and lanes that are flat while
// their neighbours change.
std::vector<std::vector<uint8_t>> HardLines(int32_t length, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<std::vector<uint8_t>> lines;
    for (int32_t n = 0; n < kTableLanes; ++n) {
        const int32_t kind = n % 8;
        std::vector<uint8_t> line(length);
        const auto value = static_cast<uint8_t>(random() % 256);
        for (int32_t i = 0; i < length; ++i) {
            switch (kind) {
                case 0: line[i] = static_cast<uint8_t>(random() % 256); break;
                case 1: line[i] = 255; break;
                case 2: line[i] = value; break;
                case 3: line[i] = static_cast<uint8_t>(i % 256); break;
                case 4: line[i] = static_cast<uint8_t>(i < length / 2 ? 255 : value); break;
                case 5: line[i] = static_cast<uint8_t>((i / 7) % 2 ? 255 : 0); break;
                case 6: line[i] = static_cast<uint8_t>(255 - (i * 3) % 256); break;
                default: line[i] = static_cast<uint8_t>(i % 40 < 20 ? value : random() % 256); break;
            }
        }
        lines.push_back(line);
    }
    return lines;
}

// Every lane width, every table radius: the blur's bytes are the table sum's
// bytes, lane by lane, whatever the neighbouring lanes hold.
TEST(BlurTableShortcut, EveryLaneGivesTheTableSum) {
    const std::vector<LaneKernels> widths = EveryLaneWidth();
    const int32_t length = 301;
    for (const double r : {0.4, 1.0, 2.5, 5.0, 7.7, 12.3, 20.0, 29.2, 30.0}) {
        const int32_t taps = HalfKernelTaps(r), pad = taps - 1;
        std::vector<double> w(taps), table(256 * taps);
        GaussKernelHalf(r, taps, w.data());
        for (int32_t d = 0; d < taps; ++d) {
            for (int32_t v = 1; v < 256; ++v) table[d * 256 + v] = table[d * 256 + v - 1] + w[d];
        }
        std::vector<int32_t> flat(256);
        for (int32_t v = 0; v < 256; ++v) {
            double sum = table[v];
            for (int32_t d = 1; d < taps; ++d) sum += table[d * 256 + v] + table[d * 256 + v];
            flat[v] = static_cast<int32_t>(sum);
        }
        std::vector<int32_t> scaled(taps);
        const int32_t slack = ScaleTableKernel(w.data(), taps, scaled.data());
        ASSERT_GE(slack, 0) << r;
        const TableConvolution c{taps, table.data(), flat.data(), scaled.data(), slack};
        for (const LaneKernels& lanes : widths) {
            const auto width = static_cast<size_t>(kTableLanes);
            const auto lines = HardLines(length, static_cast<uint32_t>(r * 10) + lanes.width);
            std::vector<uint8_t> in((length + 2 * pad) * width, 0), out(length * width);
            for (size_t lane = 0; lane < width; ++lane) {
                for (int32_t i = 0; i < length; ++i) in[(i + pad) * width + lane] = lines[lane][i];
            }
            lanes.table(c, length, in.data(), out.data());
            for (size_t lane = 0; lane < width; ++lane) {
                const std::vector<uint8_t> expected = TableSumOfLine(lines[lane], r);
                std::vector<uint8_t> got(length);
                for (int32_t i = 0; i < length; ++i) got[i] = out[i * width + lane];
                EXPECT_EQ(got, expected) << "r " << r << ", line " << lane << ", " << lanes.width << " lanes";
            }
        }
    }
}

// The whole engine on pixels of four channels, whose rows and columns move
// through the lanes in blocks: every row's table sums, then every column's,
// for sizes that leave partial blocks and groups.
TEST(BlurTableShortcut, FourChannelRastersAreTheTableSumsOfRowsThenColumns) {
    ModuleMemoryScope memory;
    std::mt19937 random(5);
    for (const auto& [width, height, r] : {std::tuple{53, 41, 5.0}, std::tuple{16, 64, 2.5}, std::tuple{7, 3, 12.0}}) {
        OwnedRaster raster(PixelRect{0, 0, height, width}, 4, 1);
        std::vector<std::vector<uint8_t>> channels(4, std::vector<uint8_t>(width * height));
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = 0; x < width; ++x) {
                for (int32_t c = 0; c < 4; ++c) {
                    // Alpha opaque inside a disc, colours noisy or flat.
                    const bool inside = (x - width / 2) * (x - width / 2) + (y - height / 2) * (y - height / 2) < width * height / 5;
                    const auto v = static_cast<uint8_t>(c == 3 ? (inside ? 255 : 0) : c == 1 ? 90 : random() % 256);
                    raster.raster->Pixel(x, y)[c] = v;
                    channels[c][y * width + x] = v;
                }
            }
        }
        ASSERT_EQ(BlurRaster(*raster.raster, r, NeverAbort), kOk);
        for (int32_t c = 0; c < 4; ++c) {
            std::vector<uint8_t>& plane = channels[c];
            for (int32_t y = 0; y < height; ++y) {
                const std::vector<uint8_t> row(plane.begin() + y * width, plane.begin() + (y + 1) * width);
                const std::vector<uint8_t> blurred = TableSumOfLine(row, r);
                std::copy(blurred.begin(), blurred.end(), plane.begin() + y * width);
            }
            for (int32_t x = 0; x < width; ++x) {
                std::vector<uint8_t> column(height);
                for (int32_t y = 0; y < height; ++y) column[y] = plane[y * width + x];
                const std::vector<uint8_t> blurred = TableSumOfLine(column, r);
                for (int32_t y = 0; y < height; ++y) plane[y * width + x] = blurred[y];
            }
            for (int32_t y = 0; y < height; ++y) {
                for (int32_t x = 0; x < width; ++x) {
                    ASSERT_EQ(raster.raster->Pixel(x, y)[c], plane[y * width + x])
                        << width << "x" << height << " r " << r << " at " << x << "," << y << " channel " << c;
                }
            }
        }
    }
}


// A runner that gives every part but the first a thread of its own, as a
// host's workers would, and remembers the most parts it was handed.
class ThreadPerPart {
public:
    PartRunner Runner(int threads) { return PartRunner{threads, RunParts, this}; }
    int MostParts() const { return mostParts_.load(); }

private:
    static void RunParts(void* owner, int parts, const PartTask& task) {
        auto& self = *static_cast<ThreadPerPart*>(owner);
        if (parts > self.mostParts_.load()) self.mostParts_.store(parts);
        std::vector<std::thread> threads;
        for (int part = 1; part < parts; ++part) threads.emplace_back(task.run, task.data, part);
        task.run(task.data, 0);
        for (std::thread& thread : threads) thread.join();
    }
    std::atomic<int> mostParts_{0};
};

void FillRandom(Raster& raster, uint32_t seed) {
    std::mt19937 random(seed);
    const PixelRect& b = raster.bounds;
    for (int32_t y = b.top; y < b.bottom; ++y) {
        uint8_t* row = raster.Pixel(b.left, y);
        for (int64_t i = 0; i < int64_t{b.Width()} * raster.PixelBytes(); i += raster.channelBytes) {
            if (raster.channelBytes == 8) {
                const double v = static_cast<double>(random() % 25600) / 100;
                std::memcpy(row + i, &v, 8);
            } else {
                row[i] = static_cast<uint8_t>(random());
            }
        }
    }
}

bool SameBytes(const Raster& a, const Raster& b) {
    for (int32_t y = a.bounds.top; y < a.bounds.bottom; ++y) {
        const size_t bytes = static_cast<size_t>(a.bounds.Width()) * a.PixelBytes();
        if (std::memcmp(a.Pixel(a.bounds.left, y), b.Pixel(b.bounds.left, y), bytes) != 0) return false;
    }
    return true;
}

// Each method, on rasters big enough to be shared out and of sizes that
// leave the parts uneven, with their lines shared among threads: the bytes
// of the calling thread alone, with the same allocations and nothing left.
TEST(BlurSharedLines, TheLinesSharedAmongThreadsGiveTheBytesOfOneThread) {
    struct Case {
        int32_t width, height, channels, channelBytes;
        double radius;
    };
    const Case cases[] = {
        {517, 301, 1, 1, 5},     // the table method, one channel
        {211, 173, 4, 1, 12.5},  // the table method, whole pixels
        {401, 333, 1, 8, 8},     // the direct method
        {389, 347, 1, 1, 40},    // the FFT method over bytes
        {300, 250, 2, 8, 20},    // the FFT method over doubles
    };
    ModuleMemoryScope memory;
    for (const Case& c : cases) {
        const PixelRect rect{-7, 3, c.height - 7, c.width + 3};
        OwnedRaster alone(rect, c.channels, c.channelBytes);
        FillRandom(*alone.raster, 5);
        const uint64_t before = memory.Host().HandlesMade();
        ASSERT_EQ(BlurRaster(*alone.raster, c.radius, NeverAbort), kOk);
        const uint64_t allocations = memory.Host().HandlesMade() - before;
        for (const int threads : {2, 3, 16}) {
            OwnedRaster shared(rect, c.channels, c.channelBytes);
            FillRandom(*shared.raster, 5);
            ThreadPerPart runner;
            const uint64_t start = memory.Host().HandlesMade();
            ASSERT_EQ(BlurRaster(*shared.raster, c.radius, NeverAbort, runner.Runner(threads)), kOk);
            EXPECT_EQ(memory.Host().HandlesMade() - start, allocations);
            EXPECT_GT(runner.MostParts(), 1) << "the lines were not shared";
            EXPECT_LE(runner.MostParts(), threads);
            EXPECT_TRUE(SameBytes(*shared.raster, *alone.raster))
                << c.width << "x" << c.height << " r " << c.radius << " on " << threads << " threads";
        }
    }
    EXPECT_EQ(memory.Host().LiveHandles(), 0u);
}

// A raster too small to be worth the threads stays on the calling thread.
TEST(BlurSharedLines, ASmallRasterIsBlurredOnTheCallingThread) {
    ModuleMemoryScope memory;
    OwnedRaster r(PixelRect{0, 0, 64, 64}, 4, 1);
    FillRandom(*r.raster, 9);
    ThreadPerPart runner;
    ASSERT_EQ(BlurRaster(*r.raster, 5, NeverAbort, runner.Runner(4)), kOk);
    EXPECT_EQ(runner.MostParts(), 0);
}

// A stop asked at any poll while the lines are shared ends the blur as
// cancelled, whichever thread polled, with nothing left allocated.
TEST(BlurSharedLines, AStopAtAnyPollEndsTheSharedBlurCancelled) {
    static std::atomic<int> polls{0};
    static std::atomic<int> stopAt{0};
    const auto countedAbort = [](const void*) { return polls.fetch_add(1) + 1 >= stopAt.load() ? 1 : 0; };
    ModuleMemoryScope memory;
    OwnedRaster r(PixelRect{0, 0, 300, 480}, 1, 1);
    const size_t raster = memory.Host().LiveHandles();
    for (const double radius : {6.0, 35.0}) {
        for (const int stop : {1, 2, 150, 299, 300, 301, 479, 480, 481, 779}) {
            FillRandom(*r.raster, 3);
            polls = 0;
            stopAt = stop;
            ThreadPerPart runner;
            EXPECT_EQ(BlurRaster(*r.raster, radius, countedAbort, runner.Runner(3)), kCancelled)
                << "r " << radius << ", stop at poll " << stop;
            EXPECT_GT(runner.MostParts(), 1);
            EXPECT_EQ(memory.Host().LiveHandles(), raster);
        }
    }
}

}  // namespace
}  // namespace zoka
