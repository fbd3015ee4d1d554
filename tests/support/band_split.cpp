#include "tests/support/band_split.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "base/module_memory.h"
#include "base/result_codes.h"
#include "host/effect.h"
#include "host/effect_factory.h"
#include "host/render_context.h"
#include "raster/raster.h"

namespace zoka_test {

namespace {

using zoka::PixelRect;
using zoka::Raster;

// The layer in work order (R, G, B, A) over (0, 0)..(width, height).
void LoadWorkPixels(const ourhost::Image& layer, Raster& raster) {
    for (int32_t y = 0; y < layer.Height(); ++y) {
        uint8_t* d = raster.Row(y);
        for (int32_t x = 0; x < layer.Width(); ++x, d += 4) {
            const ourhost::Pixel p = layer.At(x, y);
            d[0] = p.r;
            d[1] = p.g;
            d[2] = p.b;
            d[3] = p.a;
        }
    }
}

std::vector<uint8_t> Bytes(const Raster& raster) {
    std::vector<uint8_t> bytes;
    for (int32_t y = raster.bounds.top; y < raster.bounds.bottom; ++y) {
        const uint8_t* row = raster.Row(y);
        bytes.insert(bytes.end(), row, row + raster.bounds.Width() * 4);
    }
    return bytes;
}

int NeverAbort(const void*) { return 0; }

// One render of the kernel: PrepareRender, then the bands in order.
class KernelRender {
public:
    KernelRender(int effectIndex, ourhost::EffectInstance& instance, const ourhost::Image& layer)
        : instance_(instance), area_{0, 0, layer.Height(), layer.Width()} {
        for (const auto& slot : instance.Params()) defs_.push_back(slot.def);
        for (auto& def : defs_) list_.push_back(&def);
        effect_ = zoka::CreateEffect(effectIndex, &instance.Input());
        EXPECT_NE(effect_, nullptr);
        EXPECT_EQ(zoka::CreateRaster(area_, 4, 1, source_), zoka::kOk);
        EXPECT_EQ(zoka::CreateRaster(area_, 4, 1, destination_), zoka::kOk);
        EXPECT_EQ(zoka::CreateRaster(area_, 1, 1, mask_), zoka::kOk);
        LoadWorkPixels(layer, *source_);
        LoadWorkPixels(layer, *destination_);
        for (int32_t y = 0; y < layer.Height(); ++y) {
            for (int32_t x = 0; x < layer.Width(); ++x) mask_->Row(y)[x] = layer.At(x, y).a;
        }
        block_ = effect_->ReadParams(list_.data());
        bounds_ = zoka::RealRect{0, 0, double(area_.bottom), double(area_.right)};
    }
    ~KernelRender() {
        effect_->ReleaseParamBlock(block_);
        zoka::HostFree(block_);
        zoka::DestroyRaster(source_);
        zoka::DestroyRaster(destination_);
        zoka::DestroyRaster(mask_);
        zoka::DestroyEffect(effect_);
    }

    int Run(int32_t stripWidth, int32_t stripHeight) {
        zoka::RenderContext context{&instance_.Input(), &instance_.Output(), list_.data(),
                                    &area_, &area_, &area_, &bounds_, &area_, 0, 0,
                                    source_, destination_, mask_, block_, NeverAbort, 1,
                                    zoka::ResolutionDivisor(&instance_.Input())};
        int result = effect_->PrepareRender(context);
        for (int32_t left = 0; left < area_.right && result == 0; left += stripWidth) {
            for (int32_t top = 0; top < area_.bottom && result == 0; top += stripHeight) {
                const PixelRect band{top, left, std::min(top + stripHeight, area_.bottom),
                                     std::min(left + stripWidth, area_.right)};
                result = effect_->RenderBand(context, band);
            }
        }
        return result;
    }
    std::vector<uint8_t> Output() const { return Bytes(*destination_); }

private:
    ourhost::EffectInstance& instance_;
    PixelRect area_;
    zoka::RealRect bounds_{};
    std::vector<HostParamDef> defs_;
    std::vector<HostParamDef*> list_;
    zoka::Effect* effect_ = nullptr;
    Raster* source_ = nullptr;
    Raster* destination_ = nullptr;
    Raster* mask_ = nullptr;
    void* block_ = nullptr;
};

}  // namespace

KernelOutputs RenderWholeAndInStrips(int effectIndex, ourhost::EffectInstance& instance,
                                     const ourhost::Image& layer, int32_t stripWidth,
                                     int32_t stripHeight) {
    HostInputRecord* const previous = zoka::CurrentInputRecord;
    zoka::CurrentInputRecord = &instance.Input();
    KernelOutputs outputs;
    {
        KernelRender whole(effectIndex, instance, layer);
        outputs.wholeResult = whole.Run(layer.Width(), layer.Height());
        outputs.whole = whole.Output();
    }
    {
        KernelRender split(effectIndex, instance, layer);
        outputs.splitResult = split.Run(stripWidth, stripHeight);
        outputs.split = split.Output();
    }
    zoka::CurrentInputRecord = previous;
    return outputs;
}

void ExpectStripsAgree(int effectIndex, ourhost::EffectInstance& instance,
                       const ourhost::Image& layer, const std::string& what, int maxDifference) {
    const std::pair<int32_t, int32_t> shapes[] = {
        {1, layer.Height()}, {layer.Width(), 1}, {7, 5}, {16, 16}};
    for (const auto& [w, h] : shapes) {
        const KernelOutputs run = RenderWholeAndInStrips(effectIndex, instance, layer, w, h);
        ASSERT_EQ(run.wholeResult, 0) << what;
        ASSERT_EQ(run.splitResult, 0) << what << ", strips " << w << "x" << h;
        ASSERT_EQ(run.whole.size(), run.split.size());
        for (size_t i = 0; i < run.whole.size(); ++i) {
            ASSERT_LE(std::abs(run.whole[i] - run.split[i]), maxDifference)
                << what << ", strips " << w << "x" << h << ", byte " << i;
        }
    }
}

}  // namespace zoka_test
