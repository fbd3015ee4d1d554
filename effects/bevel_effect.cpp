#include "effects/bevel_effect.h"

#include <algorithm>

#include "base/result_codes.h"
#include "raster/numeric.h"

namespace zoka {

void BevelEffect::OutputRect(PixelRect& result, const PixelRect& input, const void* block,
                             double scale) {
    result = input;
    if (EffectIndex() != kOuterBevelIndex) return;
    const auto& p = *static_cast<const BevelParams*>(block);
    OutsetRect(result, std::max(1, TruncToInt32(p.width / scale)));
}

int BevelEffect::RenderBand(RenderContext&, const PixelRect&) { return kNotSupported; }

void BevelEffect::ReadBevelRows(HostParamDef** params, BevelParams& block,
                                bool withDarkenDepths) const {
    block.width = ParamFixed(params, 0);
    block.shadowDepth = ParamFixed(params, 1);
    block.smoothness = ParamFixed(params, 2);
    block.bevelShape = ParamInt(params, 3);
    block.highlightBrightness = ParamFixed(params, 4);
    block.highlightSharpness = ParamFixed(params, 5);
    block.direction = ParamDirection(params, 6);
    block.inclination = ParamFixed(params, 7);
    if (withDarkenDepths) block.darkenDepths = ParamFixed(params, 8);
}

}  // namespace zoka
