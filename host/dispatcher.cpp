#include "host/dispatcher.h"

#include "base/module_memory.h"
#include "base/result_codes.h"
#include "host/effect.h"
#include "host/effect_factory.h"
#include "host/params.h"
#include "host/string_ids.h"
#include "platform/platform.h"

namespace zoka {

namespace {

// The host shows the unchanged layer together with the error report.
void CopyInputToOutput(HostInputRecord* in, HostParamDef** params, HostLayer* image) {
    in->utils->copyImage(in->effectRef, &params[0]->u.layer.layer, image, nullptr, nullptr);
}

}  // namespace

HostError DispatchCommand(int32_t command, HostInputRecord* in, HostOutputRecord* out,
                          HostParamDef** params, HostLayer* image, void* extra, int effectIndex) {
    CurrentInputRecord = in;
    Effect* effect = CreateEffect(effectIndex, in);
    if (effect == nullptr) {
        // A render that cannot start still leaves the layer in the output.
        if (command == kCmdRender) CopyInputToOutput(in, params, image);
        return ReportResult(in, out, EffectError(in, out, kStringCreateError));
    }
    const int result = RunCommand(*effect, command, in, out, params, image, extra);
    DestroyEffect(effect);
    return ReportResult(in, out, result);
}

int RunCommand(Effect& effect, int32_t command, HostInputRecord* in, HostOutputRecord* out,
               HostParamDef** params, HostLayer* image, void* extra) {
    switch (static_cast<uint32_t>(command)) {
        case kCmdAbout:
            return effect.About(in, out, params, image);
        case kCmdGlobalSetup:
            return effect.GlobalSetup(in, out, params, image);
        case kCmdGlobalSetdown:
            in->utils->disposeHandle(in->globalData);
            return kOk;
        case kCmdParamsSetup:
            return SetupAllParams(effect, in, out, params, image);
        case kCmdSequenceSetup:
            return effect.SequenceSetup(in, out, params, image);
        case kCmdSequenceResetup:
            return effect.SequenceResetup(in, out, params, image);
        case kCmdSequenceSetdown:
            return effect.SequenceSetdown(in, out, params, image);
        case kCmdFrameSetup:
            return effect.FrameSetup(in, out, params, image);
        case kCmdRender: {
            const int result = effect.Render(in, out, params, image);
            if (result != kOk) CopyInputToOutput(in, params, image);
            return result;
        }
        case kCmdFrameSetdown:
            return effect.FrameSetdown(in, out, params, image);
        case kCmdEvent:
            return effect.HandleEvent(in, out, params, image, extra);
        default:
            return kOk;
    }
}

int ReportResult(HostInputRecord* in, HostOutputRecord* out, int code) {
    if (code == kOk || code == kHostErrorCancelled) return code;
    out->flags |= kOutFlagDisplayError;
    if (code < kHostErrorBase) ReportSystemError(in, out, code);
    return code;
}

void ReportSystemError(HostInputRecord* in, HostOutputRecord* out, int code) {
    char* text = platform::AllocSystemMessage(static_cast<uint32_t>(code));
    if (text == nullptr) return;
    in->utils->formatPrint(out->message, "%s", text);
    platform::FreeSystemMessage(text);
}

}  // namespace zoka
