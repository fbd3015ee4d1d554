// Swirl's smear with a sample's four channels in one register against the
// channel-at-a-time reference, on random layers, fields and grain: every byte
// must agree, Smooth or not, with or without alpha smeared as colour, for
// walks that run off the walkable cells too.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "base/result_codes.h"
#include "effects/swirl_smear.h"
#include "raster/raster.h"
#include "tests/support/module_memory_scope.h"

namespace zoka {
namespace {

// Random bytes in every channel; signed rasters get -127..127.
void Randomize(const Raster& raster, std::mt19937& rng, bool isSigned) {
    const PixelRect& b = raster.bounds;
    for (int32_t y = b.top; y < b.bottom; ++y) {
        uint8_t* p = raster.Pixel(b.left, y);
        for (int32_t i = 0; i < b.Width() * raster.PixelBytes(); ++i) {
            p[i] = isSigned ? static_cast<uint8_t>(static_cast<int8_t>(static_cast<int32_t>(rng() % 255) - 127))
                            : static_cast<uint8_t>(rng());
        }
    }
}

// A random layer over sourceRect, with random flow vectors and grain over area.
struct RandomFlow {
    ScopedRaster source, vectors, grain;

    void Make(const PixelRect& sourceRect, const PixelRect& area, std::mt19937& rng) {
        ASSERT_EQ(source.Create(sourceRect, 4, 1), kOk);
        ASSERT_EQ(vectors.Create(area, 2, 1), kOk);
        ASSERT_EQ(grain.Create(area, 1, 1), kOk);
        Randomize(*source, rng, false);
        Randomize(*vectors, rng, true);
        Randomize(*grain, rng, true);
    }

    Streamlines Lines(int32_t colours, bool smooth) const {
        return Streamlines{*source, *vectors, *grain, WalkableCells(*source, *vectors), colours, 4, smooth};
    }
};

TEST(SwirlSmear, FourChannelsAtOnceGiveTheChannelAtATimeBytes) {
    zoka_test::ModuleMemoryScope memory;
    std::mt19937 rng(1208);
    for (int trial = 0; trial < 24; ++trial) {
        const int32_t left = static_cast<int32_t>(rng() % 9) - 4;
        const PixelRect sourceRect{left, -3, left + 5 + static_cast<int32_t>(rng() % 30),
                                   20 + static_cast<int32_t>(rng() % 20)};
        PixelRect area = sourceRect;
        OutsetRect(area, static_cast<int32_t>(rng() % 4) - 1);
        RandomFlow flow;
        ASSERT_NO_FATAL_FAILURE(flow.Make(sourceRect, area, rng));
        const Streamlines s = flow.Lines(trial % 4 < 2 ? 3 : 4, trial % 2 == 0);
        const int32_t forward = 1 + static_cast<int32_t>(rng() % 30);
        const int32_t backward = trial % 3 == 0 ? 0 : forward;
        PixelRect pixels;
        IntersectRect(sourceRect, area, pixels);
        const int32_t first = pixels.left + trial % 2;
        std::vector<uint8_t> fast(4 * static_cast<size_t>(pixels.right - first));
        for (int32_t y = pixels.top; y < pixels.bottom; ++y) {
            SmearRow(s, y, first, pixels.right, forward, backward, fast.data());
            for (int32_t x = first; x < pixels.right; ++x) {
                uint8_t direct[4];
                SmearPixelDirect(s, x, y, forward, backward, direct);
                for (int j = 0; j < 4; ++j) {
                    ASSERT_EQ(fast[4 * (x - first) + j], direct[j])
                        << x << "," << y << " channel " << j << ", trial " << trial;
                }
            }
        }
    }
}

// A band smeared whole against the reference: the band reaches past the
// walkable cells on some sides, so rows and pixels near the ends walk with
// the bounds test and the rest over the packed cells, across several
// packings of rows.
TEST(SwirlSmear, BandsGiveTheChannelAtATimeBytes) {
    zoka_test::ModuleMemoryScope memory;
    std::mt19937 rng(2024);
    for (int trial = 0; trial < 8; ++trial) {
        const PixelRect sourceRect{-7, 3, 90 + static_cast<int32_t>(rng() % 40),
                                   150 + static_cast<int32_t>(rng() % 60)};
        PixelRect area = sourceRect;
        OutsetRect(area, static_cast<int32_t>(rng() % 5) - 2);
        RandomFlow flow;
        ASSERT_NO_FATAL_FAILURE(flow.Make(sourceRect, area, rng));
        ScopedRaster out;
        const Streamlines s = flow.Lines(trial % 2 == 0 ? 3 : 4, trial % 4 < 2);
        const int32_t forward = 1 + static_cast<int32_t>(rng() % 12);
        const int32_t backward = trial % 3 == 0 ? 0 : forward;
        PixelRect band;
        IntersectRect(sourceRect, area, band);
        band.left += trial % 3;
        ASSERT_EQ(out.Create(band, 4, 1), kOk);
        ASSERT_EQ(SmearBand(s, band, forward, backward, *out, [](const void*) { return 0; }), kOk);
        for (int32_t y = band.top; y < band.bottom; ++y) {
            for (int32_t x = band.left; x < band.right; ++x) {
                uint8_t direct[4];
                SmearPixelDirect(s, x, y, forward, backward, direct);
                for (int j = 0; j < 4; ++j) {
                    ASSERT_EQ(out->Pixel(x, y)[j], direct[j])
                        << x << "," << y << " channel " << j << ", trial " << trial;
                }
            }
        }
    }
}

}  // namespace
}  // namespace zoka
