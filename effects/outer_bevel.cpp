// Outer Bevel: raises the selection as a plateau with a lit slope outside its edge. The kernel is the bevel family's.
#include "effects/bevel_effect.h"
#include "host/effect_factory.h"
#include "host/effect_of.h"

namespace zoka {

namespace {

class OuterBevel final : public EffectOf<OuterBevel, BevelParams, BevelEffect> {
public:
    static constexpr int kIndex = 11;
    static constexpr int kNameId = 45000;
    static constexpr int kDescriptionId = 45001;
    static constexpr const char* kKey = "OuterBevel";
    static constexpr bool kBandsAgree = true;
    static constexpr const auto& kParams = kRaisedBevelParams;

    void ReadBlock(HostParamDef** params, BevelParams& block) const {
        ReadBevelRows(params, block, false);
    }
};

}  // namespace

extern const EffectMaker kOuterBevelMaker = MakerFor<OuterBevel>();

}  // namespace zoka
