// Carve: sinks the masked area into the surface as if chiselled. The kernel is the bevel family's.
#include "effects/bevel_effect.h"
#include "host/effect_factory.h"
#include "host/effect_of.h"

namespace zoka {

namespace {

class Carve final : public EffectOf<Carve, BevelParams, BevelEffect> {
public:
    static constexpr int kIndex = 1;
    static constexpr int kNameId = 22000;
    static constexpr int kDescriptionId = 22010;
    static constexpr const char* kKey = "Carve";
    static constexpr bool kBandsAgree = true;
    static constexpr const auto& kParams = kBevelParams;

    void ReadBlock(HostParamDef** params, BevelParams& block) const {
        ReadBevelRows(params, block, true);
    }
};

}  // namespace

extern const EffectMaker kCarveMaker = MakerFor<Carve>();

}  // namespace zoka
