// Squint's row-summing kernel against the pixel-by-pixel reference, on random
// layers, rings and bands, bands that reach past the layer on every side
// included: every byte must agree, the untouched colour of a pixel whose ring
// is transparent too.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "base/result_codes.h"
#include "effects/squint.h"
#include "raster/raster.h"
#include "tests/support/module_memory_scope.h"

namespace zoka {
namespace {

int NeverAbort(const void*) { return 0; }

// Stops at the second poll.
int gPolls = 0;
int StopAtSecondPoll(const void*) { return ++gPolls >= 2 ? 1 : 0; }

struct OwnedRaster {
    explicit OwnedRaster(const PixelRect& rect) { EXPECT_EQ(CreateRaster(rect, 4, 1, raster), kOk); }
    ~OwnedRaster() { DestroyRaster(raster); }
    OwnedRaster(const OwnedRaster&) = delete;
    OwnedRaster& operator=(const OwnedRaster&) = delete;
    // Random bytes, alpha zero over about a third of the pixels.
    void Randomize(std::mt19937& rng) {
        const PixelRect& b = raster->bounds;
        for (int32_t y = b.top; y < b.bottom; ++y) {
            for (int32_t x = b.left; x < b.right; ++x) {
                uint8_t* p = raster->Pixel(x, y);
                for (int c = 0; c < 4; ++c) p[c] = static_cast<uint8_t>(rng());
                if (rng() % 3 == 0) p[3] = 0;
            }
        }
    }
    std::vector<uint8_t> Bytes() const {
        std::vector<uint8_t> bytes;
        const PixelRect& b = raster->bounds;
        for (int32_t y = b.top; y < b.bottom; ++y) {
            const uint8_t* row = raster->Pixel(b.left, y);
            bytes.insert(bytes.end(), row, row + 4 * b.Width());
        }
        return bytes;
    }
    Raster* raster = nullptr;
};

class SquintBandTest : public ::testing::Test {
protected:
    zoka_test::ModuleMemoryScope memory;
    std::mt19937 rng{1208};
};

TEST_F(SquintBandTest, RowSumsGiveThePixelByPixelMeansExactly) {
    for (int trial = 0; trial < 60; ++trial) {
        const int32_t left = static_cast<int32_t>(rng() % 21) - 10;
        const int32_t top = static_cast<int32_t>(rng() % 21) - 10;
        const PixelRect sourceRect{left, top, left + 1 + static_cast<int32_t>(rng() % 40),
                                   top + 1 + static_cast<int32_t>(rng() % 90)};
        OwnedRaster source(sourceRect);
        source.Randomize(rng);
        // Radii up to wider than the layer, so rings mirror and clamp.
        const double radius = 0.7 + (rng() % 400) * 0.05;
        const int32_t count = SquintRingSize(radius);
        std::vector<int32_t> ring(2 * static_cast<size_t>(count));
        BuildSquintRing(radius, count, ring.data());
        PixelRect band = sourceRect;
        OutsetRect(band, static_cast<int32_t>(rng() % 12));
        band.left += std::min(band.Width() - 1, static_cast<int32_t>(rng() % 5));
        band.bottom -= std::min(band.Height() - 1, static_cast<int32_t>(rng() % 5));
        OwnedRaster fast(band), direct(band);
        fast.Randomize(rng);
        std::vector<uint8_t> before = fast.Bytes();
        for (int32_t y = band.top; y < band.bottom; ++y) {
            std::memcpy(direct.raster->Pixel(band.left, y), fast.raster->Pixel(band.left, y),
                        4 * static_cast<size_t>(band.Width()));
        }
        ASSERT_EQ(SquintBand(*source.raster, ring.data(), count, band, *fast.raster, NeverAbort), kOk);
        ASSERT_EQ(SquintBandDirect(*source.raster, ring.data(), count, band, *direct.raster,
                                   NeverAbort),
                  kOk);
        ASSERT_EQ(fast.Bytes(), direct.Bytes()) << "radius " << radius << ", trial " << trial;
        ASSERT_NE(fast.Bytes(), before);
    }
}

TEST_F(SquintBandTest, AnAbortAtTheSecondRowLeavesTheRowsBelowUntouched) {
    const PixelRect rect{0, 0, 30, 20};
    OwnedRaster source(rect), destination(rect);
    source.Randomize(rng);
    destination.Randomize(rng);
    const std::vector<uint8_t> before = destination.Bytes();
    int32_t ring[2 * 31];
    BuildSquintRing(5, 31, ring);
    gPolls = 0;
    ASSERT_EQ(SquintBand(*source.raster, ring, 31, rect, *destination.raster, StopAtSecondPoll),
              kCancelled);
    const std::vector<uint8_t> after = destination.Bytes();
    const size_t row = 4 * 30;
    EXPECT_NE(std::vector<uint8_t>(after.begin(), after.begin() + row),
              std::vector<uint8_t>(before.begin(), before.begin() + row));
    EXPECT_EQ(std::vector<uint8_t>(after.begin() + row, after.end()),
              std::vector<uint8_t>(before.begin() + row, before.end()));
}

}  // namespace
}  // namespace zoka
