// Inner Bevel: raises the masked area with a lit bevel along its edge. The kernel is the bevel family's.
#include "effects/bevel_effect.h"
#include "host/effect_factory.h"
#include "host/effect_of.h"

namespace zoka {

namespace {

class InnerBevel final : public EffectOf<InnerBevel, BevelParams, BevelEffect> {
public:
    static constexpr int kIndex = 9;
    static constexpr int kNameId = 31000;
    static constexpr int kDescriptionId = 31001;
    static constexpr const char* kKey = "InnerBevel";
    static constexpr bool kBandsAgree = true;
    static constexpr const auto& kParams = kRaisedBevelParams;

    void ReadBlock(HostParamDef** params, BevelParams& block) const {
        ReadBevelRows(params, block, false);
    }
};

}  // namespace

extern const EffectMaker kInnerBevelMaker = MakerFor<InnerBevel>();

}  // namespace zoka
