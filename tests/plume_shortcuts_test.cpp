// The plume's cheaper paths must give exactly what the direct forms give: the
// shape sampled a row at a time against the sample per point, and the
// composite's division by multiplication against the integer division.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "base/result_codes.h"
#include "raster/byte_division.h"
#include "raster/raster.h"
#include "raster/sampler.h"
#include "tests/support/module_memory_scope.h"

namespace zoka {
namespace {

TEST(ByteDivision, EveryProductOfBytesByEveryByteIsTheIntegerQuotient) {
    for (uint32_t d = 1; d < 256; ++d) {
        for (uint32_t n = 0; n < 65536; ++n) {
            if (DivideByByte(n, d) != n / d) FAIL() << n << " / " << d;
        }
    }
}

struct OwnedRaster {
    explicit OwnedRaster(PixelRect rect) { EXPECT_EQ(CreateRaster(rect, 1, 1, raster), kOk); }
    ~OwnedRaster() { DestroyRaster(raster); }
    Raster* raster = nullptr;
};

// Row sampling against point sampling over rasters of several shapes, at
// whole and fractional positions, inside, outside and at NaN.
TEST(BilinearClampedRows, EachSampleIsThePointSample) {
    zoka_test::ModuleMemoryScope memory;
    std::mt19937 rng(7);
    const PixelRect shapes[] = {{3, -4, 20, 30}, {0, 0, 1, 9}, {5, 5, 12, 6}, {2, 2, 3, 3},
                                {0, 0, 0, 0}};
    const double offsets[] = {0.0, 0.25, -0.5, 0.999};
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    for (const PixelRect& b : shapes) {
        OwnedRaster mask(b);
        for (int32_t y = b.top; y < b.bottom; ++y) {
            for (int32_t x = b.left; x < b.right; ++x) {
                *mask.raster->Pixel(x, y) = static_cast<uint8_t>(rng());
            }
        }
        for (double ox : offsets) {
            std::vector<double> xs;
            for (int32_t x = b.left - 3; x < b.right + 3; ++x) xs.push_back(x - ox);
            xs.push_back(kNaN);
            BilinearClampedRows rows;
            ASSERT_EQ(rows.Plan(*mask.raster, xs.data(), static_cast<int32_t>(xs.size())), kOk);
            std::vector<uint8_t> out(xs.size());
            for (double oy : offsets) {
                for (int32_t y = b.top - 2; y <= b.bottom + 2; ++y) {
                    const double sy = y == b.bottom + 2 ? kNaN : y - oy;
                    rows.Sample(sy, out.data());
                    for (size_t i = 0; i < xs.size(); ++i) {
                        ASSERT_EQ(out[i], SampleBilinearClamped(*mask.raster, xs[i], sy))
                            << xs[i] << ", " << sy;
                    }
                }
            }
        }
    }
}

}  // namespace
}  // namespace zoka
