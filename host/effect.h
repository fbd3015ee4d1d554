// The abstract class of every effect. One object is built per host call by
// CreateEffect, asked one operation, and released without any destructor of
// its own running, so an effect object owns nothing that needs freeing.
//
// The 33 virtual operations are declared in their slot order.
#pragma once

#include <cstdint>

#include "interface/host_records.h"
#include "raster/rect.h"

namespace zoka {

struct RenderContext;

// A fixed ASCII key for an effect or one of its parameters.
struct KeyText {
    char text[32] = {};
};

class Effect {
public:
    // Slot 0 to 3: identity.
    virtual int EffectIndex() const = 0;
    virtual int NameStringId() const;
    virtual int DescriptionStringId() const;
    virtual int ParamBlockSize() const = 0;

    // Slots 4 to 12: how the framework treats the effect.
    virtual bool SpareFlagA() const;
    virtual bool SpareFlagB() const;
    virtual bool ExpandsOutput() const;
    virtual bool MasksWithSelection() const;
    virtual bool SpareFlagC() const;
    virtual bool UsesSelectionLayer() const;
    virtual bool ReadsOtherTimes() const;
    virtual bool VariesOverTime() const;
    virtual bool KeepsHostPixelOrder() const;

    // Slots 13 to 19: parameter block, areas and rendering. `scale` is the
    // resolution divisor (2 at half resolution).
    virtual void InitParamBlock(void* block) const = 0;
    virtual void OutputRect(PixelRect& result, const PixelRect& input, const void* block,
                            double scale);
    virtual void SourceRect(const PixelRect& area, PixelRect& needed, PixelRect& second,
                            const void* block, double scale) const;
    virtual int PrepareRender(RenderContext& context);
    virtual int Render(HostInputRecord* in, HostOutputRecord* out, HostParamDef** params,
                       HostLayer* image);
    virtual int RenderBand(RenderContext& context, const PixelRect& band) = 0;
    virtual void ReleaseParamBlock(void* block);

    // Slots 20 to 29: host commands.
    virtual int About(HostInputRecord* in, HostOutputRecord* out, HostParamDef** params,
                      HostLayer* image);
    virtual int GlobalSetup(HostInputRecord* in, HostOutputRecord* out, HostParamDef** params,
                            HostLayer* image);
    virtual int ParamsSetup(HostInputRecord* in, HostOutputRecord* out, HostParamDef** params,
                            HostLayer* image, int countSoFar) = 0;
    virtual int FrameSetup(HostInputRecord* in, HostOutputRecord* out, HostParamDef** params,
                           HostLayer* image);
    virtual int FrameSetdown(HostInputRecord* in, HostOutputRecord* out, HostParamDef** params,
                             HostLayer* image);
    virtual int SequenceSetup(HostInputRecord* in, HostOutputRecord* out, HostParamDef** params,
                              HostLayer* image);
    virtual int SequenceResetup(HostInputRecord* in, HostOutputRecord* out, HostParamDef** params,
                                HostLayer* image);
    virtual int SequenceSetdown(HostInputRecord* in, HostOutputRecord* out, HostParamDef** params,
                                HostLayer* image);
    virtual int SpareCommand(HostInputRecord* in, HostOutputRecord* out, HostParamDef** params,
                             HostLayer* image);
    virtual int HandleEvent(HostInputRecord* in, HostOutputRecord* out, HostParamDef** params,
                            HostLayer* image, void* extra);

    // Slots 30 to 32: parameters.
    // A new parameter block read from the parameter list, or null when no
    // memory could be had.
    virtual void* ReadParams(HostParamDef** params) = 0;
    // Leaves key unchanged for a parameter without a key.
    virtual void ParamKey(int number, KeyText& key) const = 0;
    virtual void EffectKey(KeyText& key) const = 0;

    // Parameter readers: the value of the effect's parameter `number`.
    int HostParamIndex(int number) const;
    int32_t ParamInt(HostParamDef** params, int number) const;
    // ParamInt for a 16-bit block field: saturates at the field's range.
    int16_t ParamInt16(HostParamDef** params, int number) const;
    double ParamFixed(HostParamDef** params, int number) const;
    bool ParamBool(HostParamDef** params, int number) const;
    double ParamDirection(HostParamDef** params, int number) const;
    double ParamPointX(HostParamDef** params, int number) const;
    double ParamPointY(HostParamDef** params, int number) const;
    const HostColor* ParamColor(HostParamDef** params, int number) const;

    // The number of the effect's own parameters.
    int32_t ParamCount() const { return paramCount_; }

    // Whether splitting the output area into bands changes no pixel: only
    // then does the driver render several bands, each on a thread of its own.
    bool BandsAgree() const { return bandsAgree_; }
    // Whether the kernel shares its band's rows among the threads itself
    // (ShareBandRows), so that the driver gives it one band: a short kernel
    // that streams through the layer runs faster over whole rows than over
    // strips a few cache lines wide, each row of which starts on a new page.
    bool SharesRows() const { return sharesRows_; }

    // The version word: major, minor, revision, stage and build packed.
    uint32_t VersionWord() const;
    // The flag word GlobalSetup reports and the PiPL declares.
    int32_t GlobalFlags() const;

protected:
    Effect(int paramCount, int nameStringId, int descriptionStringId);
    void DeclareBandsAgree(bool agree) { bandsAgree_ = agree; }
    void DeclareSharesRows(bool shares) { sharesRows_ = shares; }

private:
    int32_t paramCount_;
    int32_t nameStringId_;
    int32_t descriptionStringId_;
    int32_t majorVersion_ = 3;
    int32_t minorVersion_ = 1;
    int32_t revision_ = 0;
    int32_t stage_ = 3;  // 0 develop, 1 alpha, 2 beta, 3 release
    int32_t build_ = 38;
    bool bandsAgree_ = false;
    bool sharesRows_ = false;
};

// Reports a framework error: sets the display flag, prints string `id` (or
// "Lumetta Error : <id>" when it cannot be had) into the message buffer, and
// returns id.
int EffectError(HostInputRecord* in, HostOutputRecord* out, int id);

// The largest side of a frame a host makes: it places layers with 16-bit
// coordinates.
inline constexpr int32_t kMaxFrameSide = 32767;

// Whether a host can make a frame over area (input pixel (0, 0) at (0, 0)):
// each side 0 to kMaxFrameSide pixels, and the input's place in it (the
// origin, -top and -left) within 16 bits.
bool HostFrameHolds(const PixelRect& area);

// The resolution divisor: the horizontal downsample denominator over its
// numerator. A factor the host never sends (numerator or denominator not
// positive) counts as full resolution.
double ResolutionDivisor(const HostInputRecord* in);

// The divisor's integer part for effects that scale by whole pixels; at least
// 1, so a divisor below 1 (never sent by the host) cannot divide by zero.
int32_t WholeDivisor(double divisor);

}  // namespace zoka
