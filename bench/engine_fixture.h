// The blur engine outside any render: a raster of the benchmark layer in
// module memory, refilled before each timed blur.
#pragma once

#include <cstring>

#include "base/result_codes.h"
#include "bench/layers.h"
#include "raster/blur.h"
#include "tests/support/module_memory_scope.h"

namespace zoka_bench {

class EngineRaster {
public:
    explicit EngineRaster(const std::vector<uint8_t>& pixels = BenchRgba()) : pixels_(pixels) {
        zoka::CreateRaster(zoka::PixelRect{0, 0, kHeight, kWidth}, 4, 1, raster_);
        Refill();
    }
    ~EngineRaster() { zoka::DestroyRaster(raster_); }
    EngineRaster(const EngineRaster&) = delete;
    EngineRaster& operator=(const EngineRaster&) = delete;

    void Refill() {
        for (int y = 0; y < kHeight; ++y) {
            std::memcpy(raster_->Row(y), &pixels_[static_cast<size_t>(y) * kWidth * 4], kWidth * 4);
        }
    }
    int Blur(double radius) { return zoka::BlurRaster(*raster_, radius, &NeverStop); }

private:
    static int NeverStop(const void*) { return 0; }
    const std::vector<uint8_t>& pixels_;
    zoka_test::ModuleMemoryScope memory_;
    zoka::Raster* raster_ = nullptr;
};

}  // namespace zoka_bench
