#include "host/effect.h"

#include <cmath>
#include <cstring>

#include "base/module_memory.h"
#include "base/result_codes.h"
#include "host/res_string.h"
#include "host/string_ids.h"
#include "raster/numeric.h"

namespace zoka {

namespace {

int32_t UnionWord(HostParamDef* const* params, int index, size_t offset) {
    int32_t word;
    std::memcpy(&word, params[index]->u.raw + offset, sizeof word);
    return word;
}

}  // namespace

Effect::Effect(int paramCount, int nameStringId, int descriptionStringId)
    : paramCount_(paramCount),
      nameStringId_(nameStringId),
      descriptionStringId_(descriptionStringId) {}

int Effect::NameStringId() const { return nameStringId_; }
int Effect::DescriptionStringId() const { return descriptionStringId_; }

bool Effect::SpareFlagA() const { return false; }
bool Effect::SpareFlagB() const { return true; }
bool Effect::ExpandsOutput() const { return false; }
bool Effect::MasksWithSelection() const { return true; }
bool Effect::SpareFlagC() const { return false; }
bool Effect::UsesSelectionLayer() const { return true; }
bool Effect::ReadsOtherTimes() const { return false; }
bool Effect::VariesOverTime() const { return false; }
bool Effect::KeepsHostPixelOrder() const { return false; }

void Effect::OutputRect(PixelRect& result, const PixelRect& input, const void*, double) {
    result = input;
}

void Effect::SourceRect(const PixelRect& area, PixelRect& needed, PixelRect&, const void*,
                        double) const {
    needed = area;
}

int Effect::PrepareRender(RenderContext&) { return kOk; }
void Effect::ReleaseParamBlock(void*) {}

int Effect::About(HostInputRecord* in, HostOutputRecord* out, HostParamDef**, HostLayer*) {
    const ResString name(nameStringId_, kResStringBytes);
    const ResString description(descriptionStringId_, kResStringBytes);
    ResString stage;
    if (stage_ >= 0 && stage_ <= 3) stage.Load(kStringStageDevelop - stage_);
    in->utils->formatPrint(out->message, "%s, v%d.%d(%d) %s \r\r%s", name.TextOrEmpty(),
                           majorVersion_, minorVersion_, build_, stage.TextOrEmpty(),
                           description.TextOrEmpty());
    return kOk;
}

int Effect::GlobalSetup(HostInputRecord*, HostOutputRecord* out, HostParamDef**, HostLayer*) {
    out->flags = 0;
    out->version = VersionWord();
    out->flags |= GlobalFlags();
    return kOk;
}

int Effect::FrameSetup(HostInputRecord* in, HostOutputRecord* out, HostParamDef** params,
                       HostLayer*) {
    PixelRect selection;
    bool hasSelection = false;
    if (UsesSelectionLayer()) {
        HostParamDef layerParam{};
        const int error =
            in->checkoutParam(in->effectRef, 1, in->currentTime, 0, in->timeScale, &layerParam);
        if (error == kHostErrorCancelled) return error;
        if (error != kOk) {
            EffectError(in, out, kStringCheckoutError);
            return error;
        }
        const HostLayer& layer = layerParam.u.layer.layer;
        if (layer.data != nullptr) {
            // The origin's integer parts: an arithmetic shift, so -0.5 gives -1.
            const HostPointValue& origin = params[2]->u.point;
            SetRect(selection, 0, 0, layer.height, layer.width);
            OffsetRect(selection, origin.x >> 16, origin.y >> 16);
            hasSelection = true;
        }
        in->checkinParam(in->effectRef, &layerParam);
    }

    void* block = ReadParams(params);
    if (block == nullptr) return kOutOfMemory;
    const HostLayer& inputLayer = params[0]->u.layer.layer;
    const PixelRect input{0, 0, inputLayer.height, inputLayer.width};
    PixelRect result;
    OutputRect(result, hasSelection ? selection : input, block, ResolutionDivisor(in));
    PixelRect destination;
    UnionRect(input, result, destination);
    ReleaseParamBlock(block);
    HostFree(block);

    if (!HostFrameHolds(destination)) {
        // A frame that large cannot be made: the host is told so as it is
        // told of any memory it cannot give, and its fields stay as they
        // were. An effect that keeps the input's size renders into the input
        // alone, so its frame is the input's.
        if (ExpandsOutput()) return kOutOfMemory;
        destination = input;
    }
    out->width = destination.right - destination.left;
    out->height = destination.bottom - destination.top;
    out->originV = static_cast<int16_t>(-destination.top);
    out->originH = static_cast<int16_t>(-destination.left);
    return kOk;
}

int Effect::FrameSetdown(HostInputRecord*, HostOutputRecord*, HostParamDef**, HostLayer*) {
    return kOk;
}
int Effect::SequenceSetup(HostInputRecord*, HostOutputRecord*, HostParamDef**, HostLayer*) {
    return kOk;
}
int Effect::SequenceResetup(HostInputRecord*, HostOutputRecord*, HostParamDef**, HostLayer*) {
    return kOk;
}
int Effect::SequenceSetdown(HostInputRecord*, HostOutputRecord*, HostParamDef**, HostLayer*) {
    return kOk;
}
int Effect::SpareCommand(HostInputRecord*, HostOutputRecord*, HostParamDef**, HostLayer*) {
    return kOk;
}
int Effect::HandleEvent(HostInputRecord*, HostOutputRecord*, HostParamDef**, HostLayer*, void*) {
    return kOk;
}

int Effect::HostParamIndex(int number) const {
    return number + (UsesSelectionLayer() ? 3 : 1);
}

int32_t Effect::ParamInt(HostParamDef** params, int number) const {
    return UnionWord(params, HostParamIndex(number), 0);
}

int16_t Effect::ParamInt16(HostParamDef** params, int number) const {
    return SaturateToInt16(ParamInt(params, number));
}

double Effect::ParamFixed(HostParamDef** params, int number) const {
    return UnionWord(params, HostParamIndex(number), 0) / 65536.0;
}

bool Effect::ParamBool(HostParamDef** params, int number) const {
    return UnionWord(params, HostParamIndex(number), 0) != 0;
}

double Effect::ParamDirection(HostParamDef** params, int number) const {
    const double direction = std::fmod(450.0 - ParamFixed(params, number), 360.0);
    return direction < 0 ? direction + 360.0 : direction;
}

double Effect::ParamPointX(HostParamDef** params, int number) const {
    return UnionWord(params, HostParamIndex(number), 0) / 65536.0;
}

double Effect::ParamPointY(HostParamDef** params, int number) const {
    return UnionWord(params, HostParamIndex(number), 4) / 65536.0;
}

const HostColor* Effect::ParamColor(HostParamDef** params, int number) const {
    return &params[HostParamIndex(number)]->u.color.value;
}

uint32_t Effect::VersionWord() const {
    return uint32_t(majorVersion_ & 7) << 19 | uint32_t(minorVersion_ & 15) << 15 |
           uint32_t(revision_ & 15) << 11 | uint32_t(stage_ & 3) << 9 | uint32_t(build_ & 0x1FF);
}

int32_t Effect::GlobalFlags() const {
    int32_t flags = ExpandsOutput() ? kOutFlagExpandsOutput : kOutFlagHonoursOutputExtent;
    if (ReadsOtherTimes()) flags |= kOutFlagReadsOtherTimes;
    if (VariesOverTime()) flags |= kOutFlagVariesOverTime;
    return flags;
}

int EffectError(HostInputRecord* in, HostOutputRecord* out, int id) {
    out->flags |= kOutFlagDisplayError;
    ResString text;
    if (text.Load(id, kResStringBytes)) {
        in->utils->formatPrint(out->message, "%s", text.Text());
    } else {
        in->utils->formatPrint(out->message, "Lumetta Error : %d", id);
    }
    return id;
}

bool HostFrameHolds(const PixelRect& area) {
    const int64_t width = int64_t{area.right} - area.left;
    const int64_t height = int64_t{area.bottom} - area.top;
    const auto within16 = [](int64_t v) { return v >= INT16_MIN && v <= INT16_MAX; };
    return width >= 0 && width <= kMaxFrameSide && height >= 0 && height <= kMaxFrameSide &&
           within16(-int64_t{area.top}) && within16(-int64_t{area.left});
}

double ResolutionDivisor(const HostInputRecord* in) {
    const HostRatio& factor = in->downsampleX;
    if (factor.num <= 0 || factor.den == 0) return 1.0;
    return static_cast<double>(factor.den) / factor.num;
}

int32_t WholeDivisor(double divisor) {
    const int32_t whole = TruncToInt32(divisor);
    return whole < 1 ? 1 : whole;
}

}  // namespace zoka
