// Antimatter: inverts the brightness of the layer while keeping each pixel's
// hue; darker results also lose saturation.
#include "host/effect_factory.h"
#include "host/effect_of.h"
#include "host/result_codes.h"

namespace zoka {

namespace {

constexpr ParamDecl kAntimatterParams[] = {
    FixedSlider(21001, 0, 100, 0, 100, 100, "Amount", true),
};

struct AntimatterParams {
    double amount;  // percent
};

class Antimatter final : public EffectOf<Antimatter, AntimatterParams> {
public:
    static constexpr int kIndex = 0;
    static constexpr int kNameId = 21000;
    static constexpr int kDescriptionId = 21002;
    static constexpr const char* kKey = "Antimatter";
    static constexpr const auto& kParams = kAntimatterParams;

    bool SpareFlagB() const override { return false; }

    void ReadBlock(HostParamDef** params, AntimatterParams& block) const {
        block.amount = ParamFixed(params, 0);
    }

    int RenderBand(RenderContext&, const PixelRect&) override { return kNotSupported; }
};

}  // namespace

extern const EffectMaker kAntimatterMaker = MakerFor<Antimatter>();

}  // namespace zoka
