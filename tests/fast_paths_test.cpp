// The shortcuts taken for speed, each against the straightforward code it
// stands in for: whole-position mask reads, the blend's full and empty
// weights, word-wise alpha extraction, Glass's unrefracted reads, HSB
// Noise's hue wrap, Antimatter's colour cache and our host's optional fill
// of new handles.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "base/result_codes.h"
#include "effects/hsv.h"
#include "ourhost/host.h"
#include "raster/pixel_ops.h"
#include "raster/raster.h"
#include "raster/sampler.h"
#include "tests/support/module_memory_scope.h"
#include "tests/support/module_under_test.h"

namespace zoka {
namespace {

using ourhost::Image;
using ourhost::Pixel;
using zoka_test::ModuleMemoryScope;

struct OwnedRaster {
    OwnedRaster(PixelRect rect, int32_t channels) {
        EXPECT_EQ(CreateRaster(rect, channels, 1, raster), kOk);
    }
    ~OwnedRaster() { DestroyRaster(raster); }
    Raster& operator*() { return *raster; }
    Raster* operator->() { return raster; }
    Raster* raster = nullptr;
};

void FillRandom(Raster& raster, std::mt19937& rng) {
    const auto bytes = static_cast<size_t>(raster.bounds.Width() * raster.PixelBytes());
    for (int32_t y = raster.bounds.top; y < raster.bounds.bottom; ++y) {
        for (size_t i = 0; i < bytes; ++i) raster.Row(y)[i] = static_cast<uint8_t>(rng());
    }
}

TEST(FastPaths, WholePositionReadsEqualTheBilinearSampleEverywhere) {
    ModuleMemoryScope memory;
    std::mt19937 rng(7);
    for (const PixelRect rect : {PixelRect{0, 0, 1, 1}, PixelRect{0, 0, 1, 5}, PixelRect{0, 0, 5, 1},
                                 PixelRect{2, -3, 4, -1}, PixelRect{-2, 5, 5, 12}, PixelRect{0, 0, 0, 0}}) {
        OwnedRaster mask(rect, 1);
        FillRandom(*mask, rng);
        for (int32_t y = rect.top - 3; y < rect.bottom + 3; ++y) {
            for (int32_t x = rect.left - 3; x < rect.right + 3; ++x) {
                ASSERT_EQ(SampleClampedAtPixel(*mask, x, y), SampleBilinearClamped(*mask, x, y))
                    << "at " << x << ", " << y;
            }
        }
    }
}

TEST(FastPaths, BlendGivesTheWeightedMixForEveryMaskValue) {
    ModuleMemoryScope memory;
    std::mt19937 rng(11);
    const PixelRect rect{0, 0, 16, 256};
    OwnedRaster source(rect, 4), destination(rect, 4), mask(rect, 1);
    FillRandom(*source, rng);
    FillRandom(*destination, rng);
    for (int32_t y = 0; y < 16; ++y) {
        for (int32_t x = 0; x < 256; ++x) *mask->Pixel(x, y) = static_cast<uint8_t>(x);
    }
    OwnedRaster before(rect, 4);
    CopyRasterOverlap(*destination, *before);
    BlendByMask(*source, *destination, *mask);
    for (int32_t y = 0; y < 16; ++y) {
        for (int32_t x = 0; x < 256; ++x) {
            const uint32_t w = x > 127 ? x + 1 : x;
            for (int c = 0; c < 4; ++c) {
                const uint32_t mixed =
                    ((256 - w) * source->Pixel(x, y)[c] + w * before->Pixel(x, y)[c]) >> 8;
                ASSERT_EQ(destination->Pixel(x, y)[c], mixed) << x << ", " << y << " channel " << c;
            }
        }
    }
}

TEST(FastPaths, AlphaAndSelectionExtractionTakeTheirByteOfEveryPixel) {
    ModuleMemoryScope memory;
    std::mt19937 rng(13);
    OwnedRaster work(PixelRect{-1, 3, 9, 40}, 4);
    FillRandom(*work, rng);
    const PixelRect rect{-4, 0, 12, 45};  // beyond the source on every side
    for (const int byte : {3, 0}) {
        Raster* mask = nullptr;
        ASSERT_EQ(byte == 3 ? ExtractAlpha(rect, *work, mask) : ExtractSelection(rect, *work, mask), kOk);
        for (int32_t y = rect.top; y < rect.bottom; ++y) {
            for (int32_t x = rect.left; x < rect.right; ++x) {
                const int expected = work->Contains(x, y) ? work->Pixel(x, y)[byte] : 0;
                ASSERT_EQ(*mask->Pixel(x, y), expected) << x << ", " << y;
            }
        }
        DestroyRaster(mask);
    }
}

// Glass reads flat glass straight from the pixel: the extrapolating cell at a
// whole position, anywhere in the bounds, blends to the pixel's own value.
TEST(FastPaths, ExtrapolatingCellsAtWholePositionsGiveThePixelItself) {
    ModuleMemoryScope memory;
    std::mt19937 rng(19);
    for (const PixelRect rect : {PixelRect{0, 0, 1, 1}, PixelRect{0, 0, 1, 6}, PixelRect{0, 0, 6, 1},
                                 PixelRect{-2, 3, 5, 11}}) {
        OwnedRaster source(rect, 4);
        FillRandom(*source, rng);
        for (int32_t y = rect.top; y < rect.bottom; ++y) {
            for (int32_t x = rect.left; x < rect.right; ++x) {
                const ExtrapolatingCell cell = ExtrapolatingCellAt(rect, x, y);
                const double fx = cell.fx, fy = cell.fy;
                for (int k = 0; k < 4; ++k) {
                    const double blended =
                        source->Pixel(cell.x0, cell.y0)[k] * (1 - fx) * (1 - fy) +
                        source->Pixel(cell.x1, cell.y0)[k] * fx * (1 - fy) +
                        source->Pixel(cell.x0, cell.y1)[k] * (1 - fx) * fy +
                        source->Pixel(cell.x1, cell.y1)[k] * fx * fy;
                    ASSERT_EQ(blended, static_cast<double>(source->Pixel(x, y)[k])) << x << ", " << y;
                }
            }
        }
    }
}

double WrappedByFmod(double h) {
    double hue = std::fmod(h, 1.0);
    if (h < 0) hue += 1;
    return hue;
}

// HSB Noise's hue wrap: bit for bit fmod's, around every boundary and over
// the range the noise reaches.
TEST(FastPaths, HueWrapEqualsFmodBitForBit) {
    std::vector<double> values = {0.0, -0.0, 1.0, -1.0, 2.0, -2.0, 0.5, 1.5, -0.5, 7.25, -7.25,
                                  std::numeric_limits<double>::quiet_NaN(),
                                  std::numeric_limits<double>::infinity(),
                                  -std::numeric_limits<double>::infinity(),
                                  std::numeric_limits<double>::denorm_min(),
                                  -std::numeric_limits<double>::denorm_min()};
    for (const double edge : {0.0, 1.0, -1.0, 2.0, -2.0}) {
        double up = edge, down = edge;
        for (int i = 0; i < 64; ++i) {
            up = std::nextafter(up, 10.0);
            down = std::nextafter(down, -10.0);
            values.push_back(up);
            values.push_back(down);
        }
    }
    std::mt19937_64 rng(23);
    std::uniform_real_distribution<double> range(-3.0, 3.0);
    for (int i = 0; i < 1000000; ++i) values.push_back(range(rng));
    for (const double h : values) {
        const double expected = WrappedByFmod(h), got = WrapToTurn(h);
        if (std::isnan(expected)) {
            ASSERT_TRUE(std::isnan(got)) << h;
            continue;
        }
        ASSERT_EQ(std::bit_cast<uint64_t>(got), std::bit_cast<uint64_t>(expected)) << h;
    }
}

Image Render(zoka_test::AppliedEffect& effect, const Image& layer) {
    const auto frame = effect.instance.RenderFrame(layer, {});
    EXPECT_EQ(frame.code, kHostNoError);
    return frame.image;
}

// Far more colours than the cache has slots, so they collide and replace
// each other; every pixel must still be what it gives alone.
TEST(FastPaths, AntimatterGivesEachColourWhatItGivesAlone) {
    std::mt19937 rng(17);
    Image layer(256, 192);
    for (int32_t y = 0; y < layer.Height(); ++y) {
        for (int32_t x = 0; x < layer.Width(); ++x) {
            const uint32_t v = rng();
            // Repeated colours along the way, so cached entries are hit.
            const uint32_t colour = x % 3 == 0 ? v % 64 : v;
            layer.Set(x, y, Pixel{255, static_cast<uint8_t>(colour), static_cast<uint8_t>(colour >> 8),
                                  static_cast<uint8_t>(colour >> 16)});
        }
    }
    zoka_test::AppliedEffect antimatter("Antimatter");
    antimatter.Set("Amount", "37");
    const Image whole = Render(antimatter, layer);
    for (int i = 0; i < 300; ++i) {
        const int32_t x = static_cast<int32_t>(rng() % 256), y = static_cast<int32_t>(rng() % 192);
        const Image alone = Render(antimatter, Image(1, 1, layer.At(x, y)));
        ASSERT_EQ(whole.At(x, y), alone.At(0, 0)) << x << ", " << y;
    }
}

TEST(FastPaths, OurHostFillsNewHandlesUnlessToldNotTo) {
    ourhost::Host host;
    HostHandle filled = host.NewHandle(64);
    ASSERT_NE(filled, nullptr);
    const auto* bytes = static_cast<const uint8_t*>(host.LockHandle(filled));
    for (int i = 0; i < 64; ++i) ASSERT_EQ(bytes[i], 0xA5);
    host.SetFillsFreshHandles(false);
    HostHandle plain = host.NewHandle(64);
    ASSERT_NE(plain, nullptr);
    EXPECT_NE(host.LockHandle(plain), nullptr);
    EXPECT_EQ(host.LiveBytes(), 128u);
    host.UnlockHandle(filled);
    host.UnlockHandle(plain);
    host.DisposeHandle(filled);
    host.DisposeHandle(plain);
    EXPECT_EQ(host.LiveHandles(), 0u);
}

}  // namespace
}  // namespace zoka
