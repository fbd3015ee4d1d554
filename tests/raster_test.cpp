// Rectangles, rasters, samplers and blends of the raster core.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "base/result_codes.h"
#include "raster/numeric.h"
#include "raster/pixel_ops.h"
#include "raster/raster.h"
#include "raster/sampler.h"
#include "tests/support/module_memory_scope.h"

namespace zoka {
namespace {

using zoka_test::ModuleMemoryScope;

// A raster owned by the test, destroyed with it.
struct OwnedRaster {
    OwnedRaster(PixelRect rect, int32_t channels, int32_t channelBytes = 1) {
        EXPECT_EQ(CreateRaster(rect, channels, channelBytes, raster), kOk);
    }
    ~OwnedRaster() { DestroyRaster(raster); }
    Raster& operator*() { return *raster; }
    Raster* operator->() { return raster; }
    Raster* raster = nullptr;
};

void FillMask(Raster& mask, uint8_t value) {
    for (int32_t y = mask.bounds.top; y < mask.bounds.bottom; ++y) {
        std::memset(mask.Row(y), value, static_cast<size_t>(mask.bounds.Width()));
    }
}

TEST(Rect, IntersectionOfDisjointRectanglesIsAllZero) {
    PixelRect out{1, 1, 1, 1};
    IntersectRect(PixelRect{0, 0, 10, 10}, PixelRect{20, 20, 30, 30}, out);
    EXPECT_EQ(out, (PixelRect{0, 0, 0, 0}));
    IntersectRect(PixelRect{0, 0, 10, 10}, PixelRect{5, 10, 8, 20}, out);  // touching edges
    EXPECT_EQ(out, (PixelRect{0, 0, 0, 0}));
}

TEST(Rect, IntersectionMayWriteIntoAnOperand) {
    PixelRect a{0, 0, 10, 10};
    IntersectRect(a, PixelRect{5, -5, 20, 5}, a);
    EXPECT_EQ(a, (PixelRect{5, 0, 10, 5}));
}

TEST(Rect, UnionWithAnEmptyOperandReturnsTheOtherUnchanged) {
    PixelRect out;
    const PixelRect far_empty{1000, 1000, 1000, 2000};
    UnionRect(far_empty, PixelRect{0, 0, 5, 5}, out);
    EXPECT_EQ(out, (PixelRect{0, 0, 5, 5}));
    UnionRect(PixelRect{0, 0, 5, 5}, far_empty, out);
    EXPECT_EQ(out, (PixelRect{0, 0, 5, 5}));
    UnionRect(PixelRect{0, 0, 5, 5}, PixelRect{-2, 3, 4, 9}, out);
    EXPECT_EQ(out, (PixelRect{-2, 0, 5, 9}));
}

TEST(Rect, OffsetAndOutsetMoveTheRightSides) {
    PixelRect r{0, 0, 10, 20};
    OffsetRect(r, 3, -4);
    EXPECT_EQ(r, (PixelRect{-4, 3, 6, 23}));
    OutsetRect(r, 1, 2);
    EXPECT_EQ(r, (PixelRect{-6, 2, 8, 24}));
    OutsetRect(r, -1);
    EXPECT_EQ(r, (PixelRect{-5, 3, 7, 23}));
}

TEST(Rect, ExtremeOffsetsSaturateInsteadOfOverflowing) {
    PixelRect r{0, -10, 10, 10};
    OutsetRect(r, std::numeric_limits<int32_t>::max());
    EXPECT_EQ(r.left, std::numeric_limits<int32_t>::min());
    EXPECT_EQ(r.right, std::numeric_limits<int32_t>::max());
}

TEST(Rect, GrowWithinClipsTheGrowthButNeverShrinks) {
    ModuleMemoryScope memory;
    OwnedRaster raster(PixelRect{0, 0, 100, 100}, 1);
    PixelRect out;
    GrowWithin(PixelRect{10, 10, 20, 20}, *raster, 5, out);
    EXPECT_EQ(out, (PixelRect{5, 5, 25, 25}));
    GrowWithin(PixelRect{2, 95, 20, 120}, *raster, 5, out);  // band reaching past the raster
    EXPECT_EQ(out, (PixelRect{0, 90, 25, 120}));
}

TEST(RasterLifeCycle, RowTableAddressesByAbsoluteRowAndColumn) {
    ModuleMemoryScope memory;
    OwnedRaster r(PixelRect{-3, 5, 2, 9}, 4);
    EXPECT_EQ(RowStride(*r), 16);
    r->Pixel(8, 1)[3] = 77;
    EXPECT_EQ(r->Row(1)[3 * 4 + 3], 77);
    EXPECT_EQ(r->Row(-2) + RowStride(*r), r->Row(-1));
}

TEST(RasterLifeCycle, NoRowsMeansNoPixelBlock) {
    ModuleMemoryScope memory;
    Raster* r = nullptr;
    ASSERT_EQ(CreateRaster(PixelRect{4, 0, 4, 10}, 4, 1, r), kOk);
    EXPECT_EQ(memory.Host().LiveHandles(), 2u);  // header and row table only
    EXPECT_EQ(RowStride(*r), 0);
    DestroyRaster(r);
    EXPECT_EQ(memory.Host().LiveHandles(), 0u);
}

TEST(RasterLifeCycle, EveryFailedAllocationLeavesNothingBehind) {
    ModuleMemoryScope memory;
    for (uint64_t fail = 1; fail <= 3; ++fail) {
        memory.Host().FailAllocation(fail);
        Raster* r = reinterpret_cast<Raster*>(1);
        EXPECT_EQ(CreateRaster(PixelRect{0, 0, 8, 8}, 1, 8, r), kOutOfMemory);
        EXPECT_EQ(r, nullptr);
        EXPECT_EQ(memory.Host().LiveHandles(), 0u) << "failing allocation " << fail;
    }
    EXPECT_TRUE(memory.Host().Faults().empty());
}

TEST(RasterLifeCycle, ASizeBeyondTheHostsHandlesIsOutOfMemory) {
    ModuleMemoryScope memory;
    Raster* r = nullptr;
    EXPECT_EQ(CreateRaster(PixelRect{0, 0, 100000, 100000}, 4, 8, r), kOutOfMemory);
    EXPECT_EQ(r, nullptr);
    EXPECT_EQ(memory.Host().LiveHandles(), 0u);
}

TEST(RasterView, AttachingAnEmptyRectangleLeavesTheViewAsItWas) {
    ModuleMemoryScope memory;
    uint8_t pixels[4 * 4 * 4] = {};
    Raster view;
    InitRasterView(view, 4, 1);
    ASSERT_EQ(AttachRasterView(view, PixelRect{0, 0, 4, 4}, pixels, 16), kOk);
    uint8_t** table = view.rowTable;
    EXPECT_EQ(AttachRasterView(view, PixelRect{2, 2, 2, 9}, nullptr, 0), kOk);
    EXPECT_EQ(view.rowTable, table);
    EXPECT_EQ(view.bounds, (PixelRect{0, 0, 4, 4}));
    ReleaseRasterView(view);
    EXPECT_EQ(memory.Host().LiveHandles(), 0u);
}

TEST(RasterView, ReattachingWithTheSameRowCountReusesTheTable) {
    ModuleMemoryScope memory;
    uint8_t pixels[4 * 8 * 4] = {};
    Raster view;
    InitRasterView(view, 4, 1);
    ASSERT_EQ(AttachRasterView(view, PixelRect{0, 0, 4, 4}, pixels, 32), kOk);
    const uint64_t made = memory.Host().HandlesMade();
    ASSERT_EQ(AttachRasterView(view, PixelRect{10, 10, 14, 12}, pixels + 16, 32), kOk);
    EXPECT_EQ(memory.Host().HandlesMade(), made);
    EXPECT_EQ(view.Pixel(10, 11), pixels + 16 + 32);
    ReleaseRasterView(view);
}

TEST(RasterView, ShiftRelabelsWithoutMovingPixels) {
    ModuleMemoryScope memory;
    uint8_t pixels[3 * 3 * 4] = {};
    Raster view;
    InitRasterView(view, 4, 1);
    ASSERT_EQ(AttachRasterView(view, PixelRect{0, 0, 3, 3}, pixels, 12), kOk);
    uint8_t* before = view.Pixel(1, 2);
    ShiftRasterView(view, 10, -5);
    EXPECT_EQ(view.Pixel(11, -3), before);
    EXPECT_EQ(view.bounds, (PixelRect{-5, 10, -2, 13}));
    ReleaseRasterView(view);
}

TEST(PixelOrder, HostToWorkAndBackRestoresEveryByte) {
    ModuleMemoryScope memory;
    OwnedRaster r(PixelRect{0, 0, 2, 2}, 4);
    const uint8_t host[16] = {10, 20, 30, 40, 1, 2, 3, 4, 255, 0, 128, 7, 9, 8, 7, 6};
    for (int y = 0; y < 2; ++y) std::memcpy(r->Row(y), host + y * 8, 8);
    HostToWorkOrder(*r);
    EXPECT_EQ(r->Pixel(0, 0)[0], 20);  // red first
    EXPECT_EQ(r->Pixel(0, 0)[3], 10);  // alpha last
    WorkToHostOrder(*r);
    for (int y = 0; y < 2; ++y) EXPECT_EQ(std::memcmp(r->Row(y), host + y * 8, 8), 0);
}

TEST(PixelOps, ExtractAlphaIsZeroAroundTheSource) {
    ModuleMemoryScope memory;
    OwnedRaster work(PixelRect{0, 0, 2, 2}, 4);
    for (int y = 0; y < 2; ++y) std::memset(work->Row(y), 200, 8);
    Raster* mask = nullptr;
    ASSERT_EQ(ExtractAlpha(PixelRect{-1, -1, 3, 3}, *work, mask), kOk);
    EXPECT_EQ(*mask->Pixel(-1, -1), 0);
    EXPECT_EQ(*mask->Pixel(0, 0), 200);
    EXPECT_EQ(*mask->Pixel(1, 1), 200);
    EXPECT_EQ(*mask->Pixel(2, 1), 0);
    DestroyRaster(mask);
}

TEST(PixelOps, ExtractSelectionTakesTheFirstByte) {
    ModuleMemoryScope memory;
    uint8_t host[4] = {9, 1, 2, 3};
    Raster view;
    InitRasterView(view, 4, 1);
    ASSERT_EQ(AttachRasterView(view, PixelRect{0, 0, 1, 1}, host, 4), kOk);
    Raster* mask = nullptr;
    ASSERT_EQ(ExtractSelection(PixelRect{0, 0, 1, 1}, view, mask), kOk);
    EXPECT_EQ(*mask->Pixel(0, 0), 9);
    DestroyRaster(mask);
    ReleaseRasterView(view);
}

TEST(PixelOps, CropToContentFindsTheSmallestRectangle) {
    ModuleMemoryScope memory;
    OwnedRaster mask(PixelRect{0, 0, 10, 10}, 1);
    FillMask(*mask, 0);
    Raster* crop = nullptr;
    ASSERT_EQ(CropToContent(*mask, crop), kOk);
    EXPECT_TRUE(IsEmpty(crop->bounds));
    DestroyRaster(crop);

    *mask->Pixel(3, 2) = 5;
    *mask->Pixel(6, 7) = 9;
    ASSERT_EQ(CropToContent(*mask, crop), kOk);
    EXPECT_EQ(crop->bounds, (PixelRect{2, 3, 8, 7}));
    EXPECT_EQ(*crop->Pixel(6, 7), 9);
    DestroyRaster(crop);
    EXPECT_EQ(memory.Host().LiveHandles(), 3u);  // only the test's own mask
}

// Content in the first and last byte of a row, on either side of a word's
// edge and alone in a short row, on a raster whose origin is not (0, 0).
TEST(PixelOps, CropToContentFindsContentAtEveryColumn) {
    ModuleMemoryScope memory;
    for (const int32_t width : {1, 7, 8, 9, 17, 33}) {
        for (int32_t a = 0; a < width; ++a) {
            for (const int32_t b : {a, width - 1, (a + width) / 2}) {
                OwnedRaster mask(PixelRect{-3, 5, 4, 5 + width}, 1);
                FillMask(*mask, 0);
                *mask->Pixel(5 + a, -1) = 1;
                *mask->Pixel(5 + b, 2) = 200;
                Raster* crop = nullptr;
                ASSERT_EQ(CropToContent(*mask, crop), kOk);
                EXPECT_EQ(crop->bounds, (PixelRect{-1, 5 + std::min(a, b), 3, 6 + std::max(a, b)}))
                    << "width " << width << ", columns " << a << " and " << b;
                EXPECT_EQ(*crop->Pixel(5 + b, 2), 200);
                DestroyRaster(crop);
            }
        }
    }
}

TEST(PixelOps, FillRectPixelsIsClippedToTheRaster) {
    ModuleMemoryScope memory;
    OwnedRaster r(PixelRect{0, 0, 4, 4}, 4);
    const uint8_t zero[4] = {0, 0, 0, 0};
    const uint8_t red[4] = {255, 0, 0, 255};
    FillRectPixels(*r, r->bounds, zero);
    FillRectPixels(*r, PixelRect{-100, 2, 100, 100}, red);  // reaches far outside
    EXPECT_EQ(r->Pixel(1, 0)[0], 0);
    EXPECT_EQ(r->Pixel(2, 0)[0], 255);
    EXPECT_EQ(r->Pixel(3, 3)[3], 255);
}

TEST(Sampler, PixelOrZeroOutsideTheBounds) {
    ModuleMemoryScope memory;
    OwnedRaster mask(PixelRect{0, 0, 2, 2}, 1);
    FillMask(*mask, 7);
    EXPECT_EQ(PixelOrZero(*mask, 1, 1), 7);
    EXPECT_EQ(PixelOrZero(*mask, 2, 1), 0);
    EXPECT_EQ(PixelOrZero(*mask, -1, 0), 0);
}

TEST(Sampler, ClampedBeyondTheLastColumnReadsThePenultimateOne) {
    ModuleMemoryScope memory;
    OwnedRaster mask(PixelRect{0, 0, 3, 4}, 1);
    for (int x = 0; x < 4; ++x) {
        for (int y = 0; y < 3; ++y) *mask->Pixel(x, y) = static_cast<uint8_t>(10 * x + y);
    }
    EXPECT_EQ(SampleBilinearClamped(*mask, 9.7, 1), SampleBilinearClamped(*mask, 2, 1));
    EXPECT_EQ(SampleBilinearClamped(*mask, 9.7, 1), 21);
    EXPECT_EQ(SampleBilinearClamped(*mask, -3, -3), 0);
    EXPECT_EQ(SampleBilinearClamped(*mask, 0.5, 0), 5);  // halfway between 0 and 10
}

TEST(Sampler, ClampedIsSafeOnRastersOfOneRowOrColumn) {
    ModuleMemoryScope memory;
    OwnedRaster column(PixelRect{0, 0, 3, 1}, 1);
    *column->Pixel(0, 0) = 10;
    *column->Pixel(0, 1) = 20;
    *column->Pixel(0, 2) = 30;
    EXPECT_EQ(SampleBilinearClamped(*column, 5.0, 0.5), 15);
    EXPECT_EQ(SampleBilinearClamped(*column, -5.0, 7.0), 20);
    OwnedRaster row(PixelRect{0, 0, 1, 2}, 1);
    *row->Pixel(0, 0) = 100;
    *row->Pixel(1, 0) = 200;
    EXPECT_EQ(SampleBilinearClamped(*row, 0.25, 3.0), 100);  // x clamps to right - 2
    OwnedRaster empty(PixelRect{0, 0, 0, 0}, 1);
    EXPECT_EQ(SampleBilinearClamped(*empty, 0, 0), 0);
}

TEST(Sampler, ClampedTreatsNaNAsTheEdge) {
    ModuleMemoryScope memory;
    OwnedRaster mask(PixelRect{0, 0, 2, 2}, 1);
    FillMask(*mask, 40);
    EXPECT_EQ(SampleBilinearClamped(*mask, std::nan(""), std::nan("")), 40);
}

TEST(Sampler, ZeroSamplerHalvesTheEdgePixelHalfAPixelOutside) {
    ModuleMemoryScope memory;
    OwnedRaster mask(PixelRect{0, 3, 2, 6}, 1);
    FillMask(*mask, 201);
    EXPECT_EQ(SampleBilinearZero(*mask, 2.5, 1), 100);
    EXPECT_EQ(SampleBilinearZero(*mask, 1e9, 1), 0);
    EXPECT_EQ(SampleBilinearZero(*mask, -1e300, std::nan("")), 0);
}

TEST(Sampler, ResampleShiftedMovesTheMaskAndGrowsItByOne) {
    ModuleMemoryScope memory;
    OwnedRaster mask(PixelRect{0, 5, 1, 6}, 1);
    FillMask(*mask, 200);
    Raster* moved = nullptr;
    ASSERT_EQ(ResampleShifted(PixelRect{0, 5, 1, 6}, *mask, 0.5, 0, moved), kOk);
    EXPECT_EQ(moved->bounds, (PixelRect{-1, 4, 2, 7}));
    EXPECT_EQ(*moved->Pixel(5, 0), 100);
    EXPECT_EQ(*moved->Pixel(6, 0), 100);
    EXPECT_EQ(*moved->Pixel(4, 0), 0);
    DestroyRaster(moved);
}

TEST(Sampler, ResampleShiftedWithoutOffsetIsTheZeroSamplerAtEachPixel) {
    ModuleMemoryScope memory;
    OwnedRaster mask(PixelRect{2, 3, 9, 11}, 1);
    for (int32_t y = 2; y < 9; ++y) {
        for (int32_t x = 3; x < 11; ++x) *mask->Pixel(x, y) = static_cast<uint8_t>(37 * x + 11 * y * y);
    }
    for (const PixelRect rect : {PixelRect{0, 0, 12, 14}, PixelRect{4, 5, 6, 9}, PixelRect{20, 20, 22, 25}}) {
        Raster* copy = nullptr;
        ASSERT_EQ(ResampleShifted(rect, *mask, 0, 0, copy), kOk);
        for (int32_t y = copy->bounds.top; y < copy->bounds.bottom; ++y) {
            for (int32_t x = copy->bounds.left; x < copy->bounds.right; ++x) {
                EXPECT_EQ(*copy->Pixel(x, y), SampleBilinearZero(*mask, x, y)) << x << "," << y;
            }
        }
        DestroyRaster(copy);
    }
}

class Blend : public ::testing::Test {
protected:
    void Mix(uint8_t maskValue, uint8_t source, uint8_t result, uint8_t& out) {
        OwnedRaster src(PixelRect{0, 0, 1, 1}, 4);
        OwnedRaster dst(PixelRect{0, 0, 1, 1}, 4);
        OwnedRaster mask(PixelRect{0, 0, 1, 1}, 1);
        std::memset(src->Row(0), source, 4);
        std::memset(dst->Row(0), result, 4);
        *mask->Pixel(0, 0) = maskValue;
        BlendByMask(*src, *dst, *mask);
        out = dst->Row(0)[0];
    }
    ModuleMemoryScope memory;
};

TEST_F(Blend, FullMaskKeepsTheResultAndZeroRestoresTheInput) {
    uint8_t out = 0;
    Mix(255, 17, 203, out);
    EXPECT_EQ(out, 203);
    Mix(0, 17, 203, out);
    EXPECT_EQ(out, 17);
}

TEST_F(Blend, HalfMaskWeighsTheResultBy129) {
    uint8_t out = 0;
    Mix(128, 100, 200, out);
    EXPECT_EQ(out, (127 * 100 + 129 * 200) >> 8);
}

TEST_F(Blend, ShiftedSamplesTheMaskAtTheOffset) {
    OwnedRaster src(PixelRect{0, 0, 1, 3}, 4);
    OwnedRaster dst(PixelRect{0, 0, 1, 3}, 4);
    OwnedRaster mask(PixelRect{0, 0, 1, 3}, 1);
    for (int x = 0; x < 3; ++x) {
        std::memset(src->Pixel(x, 0), 0, 4);
        std::memset(dst->Pixel(x, 0), 255, 4);
        *mask->Pixel(x, 0) = x == 0 ? 0 : 255;
    }
    BlendByMaskShifted(*src, *dst, *mask, 0.5, 0);  // x = 1 samples the mask at 0.5: 127
    EXPECT_EQ(dst->Pixel(1, 0)[0], (127 * 255) >> 8);
}

TEST(Numeric, SafeReciprocal) {
    EXPECT_EQ(SafeReciprocal(0), -1e7);
    EXPECT_EQ(SafeReciprocal(1e-8), 1e7);
    EXPECT_EQ(SafeReciprocal(-1e-8), -1e7);
    EXPECT_EQ(SafeReciprocal(4), 0.25);
}

TEST(Numeric, HighestBit) {
    EXPECT_EQ(HighestBit(0), 0);
    EXPECT_EQ(HighestBit(-5), 0);
    EXPECT_EQ(HighestBit(1), 0);
    EXPECT_EQ(HighestBit(100), 6);
    EXPECT_EQ(HighestBit(std::numeric_limits<int32_t>::max()), 30);
}

TEST(Numeric, TruncationIsDefinedForEveryDouble) {
    EXPECT_EQ(TruncToInt32(-2.7), -2);
    EXPECT_EQ(TruncToInt32(std::nan("")), 0);
    EXPECT_EQ(TruncToInt32(1e300), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(TruncToInt32(-1e300), std::numeric_limits<int32_t>::min());
}

// A value beyond 16 bits stays beyond: wrapping would turn a reach of 40000
// pixels into a negative one, and 65556 into 20.
TEST(Numeric, SixteenBitFieldsSaturate) {
    EXPECT_EQ(TruncToInt16(70000.9), INT16_MAX);
    EXPECT_EQ(TruncToInt16(32768.0), INT16_MAX);
    EXPECT_EQ(TruncToInt16(-32768.9), INT16_MIN);
    EXPECT_EQ(TruncToInt16(-1e300), INT16_MIN);
    EXPECT_EQ(TruncToInt16(std::nan("")), 0);
    EXPECT_EQ(TruncToInt16(-123.9), -123);
    EXPECT_EQ(SaturateToInt16(65556), INT16_MAX);
    EXPECT_EQ(SaturateToInt16(INT32_MIN), INT16_MIN);
    EXPECT_EQ(SaturateToInt16(-32768), -32768);
}

}  // namespace
}  // namespace zoka
