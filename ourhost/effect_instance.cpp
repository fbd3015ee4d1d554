#include "ourhost/effect_instance.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <numeric>

#include "ourhost/host.h"

namespace ourhost {

namespace {

// The host's own code for a call it refuses (an unknown parameter index).
constexpr HostError kBadCallback = kHostErrorBase + 1;
// The system's code for "not enough memory".
constexpr HostError kSystemOutOfMemory = 8;

EffectInstance* Instance(HostEffectRef ref) { return reinterpret_cast<EffectInstance*>(ref); }

// How far to move the selection layer so that the area frame setup gave for
// it on a 1x1 input, [low, high) along one axis, covers the input's pixel:
// an area reaching left of the pixel has its own left edge, one reaching
// right its own right edge, and one that does neither is the pixel.
int64_t CoveringShift(int64_t low, int64_t high) {
    if (low < 0) return -low;
    if (high > 1) return 1 - high;
    return 0;
}

HostError HOST_CALL CheckoutCallback(HostEffectRef ref, int32_t index, int32_t time,
                                     int32_t timeStep, uint32_t timeScale, HostParamDef* param) {
    return Instance(ref)->Checkout(index, time, timeStep, timeScale, param);
}
HostError HOST_CALL CheckinCallback(HostEffectRef ref, HostParamDef* param) {
    return Instance(ref)->Checkin(param);
}
// Keeping a parameter takes memory: when there is none the module hears the
// system's out-of-memory code, never an exception it was built without.
HostError HOST_CALL AddParamCallback(HostEffectRef ref, int32_t index, HostParamDef* param) {
    try {
        return Instance(ref)->AddParam(index, param);
    } catch (const std::bad_alloc&) {
        return kSystemOutOfMemory;
    }
}
HostError HOST_CALL AbortCallback(HostEffectRef ref) { return Instance(ref)->Abort(); }
HostError HOST_CALL ProgressCallback(HostEffectRef, int32_t, int32_t) { return kHostNoError; }

int32_t Lerp(int32_t a, int32_t b, double f) {
    return static_cast<int32_t>(std::lround(a + (double(b) - a) * f));
}

// The value between two keyframes: numbers, points and colours move
// linearly; checkboxes, popups and layers hold until the next key.
HostParamValue Interpolate(int32_t kind, const HostParamValue& a, const HostParamValue& b,
                           double f) {
    HostParamValue v = a;
    switch (kind) {
        case kParamSlider:
        case kParamFixedSlider:
        case kParamAngle:
            v.slider.value = Lerp(a.slider.value, b.slider.value, f);
            break;
        case kParamPoint:
            v.point.x = Lerp(a.point.x, b.point.x, f);
            v.point.y = Lerp(a.point.y, b.point.y, f);
            break;
        case kParamColor:
            v.color.value.alpha = uint8_t(Lerp(a.color.value.alpha, b.color.value.alpha, f));
            v.color.value.red = uint8_t(Lerp(a.color.value.red, b.color.value.red, f));
            v.color.value.green = uint8_t(Lerp(a.color.value.green, b.color.value.green, f));
            v.color.value.blue = uint8_t(Lerp(a.color.value.blue, b.color.value.blue, f));
            break;
        default:
            break;
    }
    return v;
}

HostParamValue ValueOverTime(const ParamSlot& slot, double seconds) {
    const auto after = slot.keys.lower_bound(seconds);
    if (after == slot.keys.begin()) return after->second;
    if (after == slot.keys.end()) return std::prev(after)->second;
    const auto before = std::prev(after);
    const double f = (seconds - before->first) / (after->first - before->first);
    return Interpolate(slot.def.kind, before->second, after->second, f);
}

// A time in ticks, saturated at the ends of the 32-bit time record.
int32_t TicksOf(double seconds, uint32_t timeScale) {
    if (std::isnan(seconds)) return 0;
    const double ticks = std::round(seconds * timeScale);
    if (ticks <= INT32_MIN) return INT32_MIN;
    if (ticks >= INT32_MAX) return INT32_MAX;
    return static_cast<int32_t>(ticks);
}

std::string Number(double v) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.10g", v);
    return buffer;
}

}  // namespace

FrameRate RateOf(double fps) {
    fps = std::isnan(fps) ? 30 : std::clamp(fps, kMinFps, kMaxFps);
    const double ntsc = fps * 1001.0 / 1000.0;
    if (std::fabs(ntsc - std::round(ntsc)) < 0.01 && std::fabs(fps - std::round(fps)) > 0.01) {
        return FrameRate{static_cast<uint32_t>(std::lround(ntsc) * 1000), 1001};
    }
    int64_t scale = std::llround(fps * 1000);
    int64_t ticks = 1000;
    const int64_t common = std::gcd(scale, ticks);
    scale /= common;
    ticks /= common;
    return FrameRate{static_cast<uint32_t>(std::max<int64_t>(1, scale)), static_cast<int32_t>(ticks)};
}

std::string TimeRefusal(double seconds, double fps) {
    if (!(fps >= kMinFps && fps <= kMaxFps)) {
        return "the frame rate must be from " + Number(kMinFps) + " to " + Number(kMaxFps) +
               " frames per second";
    }
    if (!(std::fabs(seconds) * fps <= kMaxFrameNumber)) {
        return "the time must be within " + Number(kMaxFrameNumber) + " frames of 0 (" +
               Number(kMaxFrameNumber / fps) + " seconds at " + Number(fps) + " frames per second)";
    }
    return {};
}

HostFixed FixedFromDouble(double value) {
    if (std::isnan(value)) return 0;
    const double scaled = std::round(value * 65536.0);
    if (scaled <= INT32_MIN) return INT32_MIN;
    if (scaled >= INT32_MAX) return INT32_MAX;
    return static_cast<HostFixed>(scaled);
}

EffectInstance::EffectInstance(Host& host, EffectEntryPoint entry) : host_(host), entry_(entry) {
    in_.checkoutParam = CheckoutCallback;
    in_.checkinParam = CheckinCallback;
    in_.addParam = AddParamCallback;
    in_.abortQuery = AbortCallback;
    in_.progress = ProgressCallback;
    in_.utils = host.Utilities();
    in_.effectRef = reinterpret_cast<HostEffectRef>(this);
    PrepareTime(FrameOptions{});
    ParamSlot input;
    input.def.kind = kParamLayer;
    std::strcpy(input.def.name, "Input");
    params_.push_back(input);
    PrepareParams(HostLayer{}, 0);
}

HostError EffectInstance::Call(int32_t command, HostLayer* output, void* extra) {
    host_.SetCallingOutput(&out_);
    // The offer holds for this call on this thread alone.
    const ZokaOfferWorkersFn offer = host_.OfferFunction();
    const ZokaWorkerOffer* workers = host_.WorkerOffer();
    if (workers != nullptr) offer(workers);
    const HostError result = entry_(command, &in_, &out_, paramList_.data(), output, extra);
    if (workers != nullptr) offer(nullptr);
    host_.SetCallingOutput(nullptr);
    if (outstanding_.exchange(0) != 0) host_.Fault("a parameter was checked out and never checked in");
    return result;
}

HostError EffectInstance::CallClean(int32_t command, HostLayer* output, void* extra) {
    out_.flags = 0;
    out_.message[0] = '\0';
    return Call(command, output, extra);
}

HostError EffectInstance::About(std::string& text) {
    const HostError result = CallClean(kCmdAbout);
    text = out_.message;
    return result;
}

HostError EffectInstance::GlobalSetup() {
    const HostError result = CallClean(kCmdGlobalSetup);
    version_ = out_.version;
    globalFlags_ = out_.flags;
    return result;
}

HostError EffectInstance::SetupParams() {
    params_.resize(1);
    out_.paramCount = 0;
    const HostError result = CallClean(kCmdParamsSetup);
    if (result == kHostNoError && out_.paramCount != static_cast<int32_t>(params_.size())) {
        host_.Fault("the parameter count differs from the parameters added");
    }
    PrepareParams(HostLayer{}, 0);
    return result;
}

HostError EffectInstance::SequenceSetup() { return CallClean(kCmdSequenceSetup); }
HostError EffectInstance::SequenceResetup() { return CallClean(kCmdSequenceResetup); }
HostError EffectInstance::SequenceSetdown() { return CallClean(kCmdSequenceSetdown); }
HostError EffectInstance::FrameSetdown() { return CallClean(kCmdFrameSetdown); }
HostError EffectInstance::GlobalSetdown() { return CallClean(kCmdGlobalSetdown); }
HostError EffectInstance::Event(void* extra) { return CallClean(kCmdEvent, nullptr, extra); }

HostError EffectInstance::FrameSetup(const Image& input, const FrameOptions& options) {
    PrepareTime(options);
    PrepareParams(input.Layer(), options.time);
    return CallClean(kCmdFrameSetup);
}

HostError EffectInstance::Render(const Image& input, Image& output, const FrameOptions& options) {
    PrepareTime(options);
    PrepareParams(input.Layer(), options.time);
    HostLayer outputLayer = output.Layer();
    if (!motion_) return CallClean(kCmdRender, &outputLayer);
    return motion_->Lent(params_, downsample_, [&] { return CallClean(kCmdRender, &outputLayer); });
}

void EffectInstance::CarryMotion(ZokaLendMotionCarryFn lend) {
    motion_ = lend != nullptr ? std::make_unique<MotionCarry>(lend) : nullptr;
}

const Image& EffectInstance::Draft(const Image& input, const FrameOptions& options, Image& shrunk) {
    const int32_t n = std::max(1, options.downsample);
    if (selection_) {
        draftSelection_ = n > 1 ? selection_->Shrunk(n) : Image();
        selectionLayer_ = n > 1 ? draftSelection_.Layer() : selection_->Layer();
    }
    // At full size, or drafted already, the input itself is the draft: no
    // copy of it.
    if (n == 1 || options.inputIsDraft) return input;
    shrunk = input.Shrunk(n);
    return shrunk;
}

std::vector<FrameArea> EffectInstance::FrameAreas(const Image& input, FrameOptions options,
                                                  const std::vector<double>& times) {
    Image shrunk;
    const Image& draft = Draft(input, options, shrunk);
    const bool expands = (globalFlags_ & kOutFlagExpandsOutput) != 0;
    std::vector<FrameArea> areas;
    for (const double time : times) {
        options.time = time;
        FrameArea area;
        area.code = FrameSetup(draft, options);
        area.width = expands ? out_.width : draft.Width();
        area.height = expands ? out_.height : draft.Height();
        area.originX = expands ? out_.originH : 0;
        area.originY = expands ? out_.originV : 0;
        area.message = out_.message;
        if (area.code == kHostNoError && !SizeAllowed(area.width, area.height)) {
            area.code = kHostErrorFrameTooLarge;
            area.message = SizeRefusal("the output", area.width, area.height);
        }
        FrameSetdown();
        TellFrameTooLarge(draft, options, area.code, area.message);
        areas.push_back(area);
        if (area.code != kHostNoError) break;
    }
    return areas;
}

Image EffectInstance::OutputImage(int32_t width, int32_t height) const {
    // The module writes every pixel of the output it is given, whatever the
    // render's result: a host that serves renders leaves it as it comes, and
    // a testing one fills it as it fills new blocks, so that a pixel the
    // module left would show.
    if (!host_.FillsFreshHandles()) return Image::Unwritten(width, height);
    const uint8_t f = host_.FreshFill();
    return Image(width, height, Pixel{f, f, f, f});
}

FrameResult EffectInstance::RenderFrame(const Image& input, const FrameOptions& options) {
    Image shrunk;
    const Image& draft = Draft(input, options, shrunk);
    FrameResult frame;
    const HostError setup = FrameSetup(draft, options);
    frame.code = setup;
    const bool expands = (globalFlags_ & kOutFlagExpandsOutput) != 0;
    if (frame.code == kHostNoError && expands && !SizeAllowed(out_.width, out_.height)) {
        FrameSetdown();
        frame.code = kHostErrorFrameTooLarge;
        frame.message = SizeRefusal("the output", out_.width, out_.height);
        frame.displayError = true;
        return frame;
    }
    if (frame.code == kHostNoError) {
        frame.image = OutputImage(expands ? out_.width : draft.Width(), expands ? out_.height : draft.Height());
        frame.originX = expands ? out_.originH : 0;
        frame.originY = expands ? out_.originV : 0;
        frame.code = Render(draft, frame.image, options);
    }
    frame.message = out_.message;
    frame.displayError = (out_.flags & kOutFlagDisplayError) != 0;
    FrameSetdown();
    if (setup != kHostNoError && TellFrameTooLarge(draft, options, frame.code, frame.message)) {
        frame.displayError = true;
    }
    return frame;
}

bool EffectInstance::TellFrameTooLarge(const Image& draft, const FrameOptions& options, HostError& code,
                                       std::string& message) {
    if (code != kSystemOutOfMemory || (globalFlags_ & kOutFlagExpandsOutput) == 0 || !selection_ ||
        params_.size() < 3 || params_[2].def.kind != kParamPoint) {
        return false;
    }
    const auto output = OutputWithSelection(draft, options);
    // A frame our host would make: the module ran out of memory indeed.
    if (!output || SizeAllowed(output->right - output->left, output->bottom - output->top)) return false;
    code = kHostErrorFrameTooLarge;
    message = SizeRefusal("the output", output->right - output->left, output->bottom - output->top);
    return true;
}

std::optional<EffectInstance::Area> EffectInstance::OutputWithSelection(const Image& draft,
                                                                        const FrameOptions& options) {
    // The selection's origin at the frame's resolution, whole pixels as the
    // module takes them (an arithmetic shift: -0.5 is -1).
    PrepareTime(options);
    PrepareParams(draft.Layer(), options.time);
    const int64_t wholeX = current_[2].u.point.x >> 16;
    const int64_t wholeY = current_[2].u.point.y >> 16;
    Area first;
    if (!SelectionArea(options, -wholeX, -wholeY, first)) return std::nullopt;
    const int64_t moveX = CoveringShift(first.left, first.right);
    const int64_t moveY = CoveringShift(first.top, first.bottom);
    Area area;
    if (!SelectionArea(options, moveX - wholeX, moveY - wholeY, area)) return std::nullopt;
    // Back where the selection lies, with the input.
    const int64_t backX = wholeX - moveX;
    const int64_t backY = wholeY - moveY;
    return Area{std::min<int64_t>(0, area.left + backX), std::min<int64_t>(0, area.top + backY),
                std::max<int64_t>(draft.Width(), area.right + backX),
                std::max<int64_t>(draft.Height(), area.bottom + backY)};
}

bool EffectInstance::SelectionArea(const FrameOptions& options, int64_t moveX, int64_t moveY, Area& area) {
    const Image pixel(1, 1);
    PrepareTime(options);
    PrepareParams(pixel.Layer(), options.time);
    HostPointValue& origin = current_[2].u.point;
    const int64_t x = origin.x + moveX * 65536;
    const int64_t y = origin.y + moveY * 65536;
    if (x < INT32_MIN || x > INT32_MAX || y < INT32_MIN || y > INT32_MAX) return false;
    origin.x = static_cast<HostFixed>(x);
    origin.y = static_cast<HostFixed>(y);
    const HostError code = CallClean(kCmdFrameSetup);
    area = Area{-int64_t{out_.originH}, -int64_t{out_.originV}, int64_t{out_.width} - out_.originH,
                int64_t{out_.height} - out_.originV};
    FrameSetdown();
    return code == kHostNoError;
}

void EffectInstance::SetSelection(const Image& selection, double originX, double originY) {
    selection_ = selection;
    draftSelection_ = Image();
    selectionLayer_ = selection_->Layer();
    if (params_.size() > 2 && params_[2].def.kind == kParamPoint) {
        params_[2].def.u.point.x = FixedFromDouble(originX);
        params_[2].def.u.point.y = FixedFromDouble(originY);
    }
}

void EffectInstance::PrepareTime(const FrameOptions& options) {
    const FrameRate rate = RateOf(options.fps);
    in_.timeScale = rate.timeScale;
    in_.localTimeStep = rate.frameTicks;
    in_.timeStep = options.still ? 0 : rate.frameTicks;
    in_.currentTime = TicksOf(options.time, rate.timeScale);
    downsample_ = std::max(1, options.downsample);
    in_.downsampleX = HostRatio{1, static_cast<uint32_t>(downsample_)};
    in_.downsampleY = in_.downsampleX;
}

// A parameter's value at a time, as the host hands it to the module: points
// in the coordinates of the (possibly shrunk) layer, layers as the current
// input and selection, texts pointing into the slot.
HostParamDef EffectInstance::ValueAt(size_t index, double seconds) const {
    const ParamSlot& slot = params_[index];
    HostParamDef def = slot.def;
    if (!slot.keys.empty()) def.u = ValueOverTime(slot, seconds);
    switch (def.kind) {
        case kParamLayer:
            def.u.layer.layer = index == 0 ? current_[0].u.layer.layer
                                           : (selection_ ? selectionLayer_ : HostLayer{});
            break;
        case kParamPoint:
            def.u.point.x /= downsample_;
            def.u.point.y /= downsample_;
            break;
        case kParamCheckbox:
            def.u.checkbox.text = slot.checkboxText.c_str();
            break;
        case kParamPopup:
            def.u.popup.choices = slot.choices.c_str();
            break;
        default:
            break;
    }
    return def;
}

void EffectInstance::PrepareParams(const HostLayer& input, double seconds) {
    current_.resize(params_.size());
    current_[0] = params_[0].def;
    current_[0].u.layer.layer = input;
    for (size_t i = 1; i < params_.size(); ++i) current_[i] = ValueAt(i, seconds);
    paramList_.resize(current_.size());
    for (size_t i = 0; i < current_.size(); ++i) paramList_[i] = &current_[i];
}

HostError EffectInstance::Checkout(int32_t index, int32_t time, int32_t, uint32_t timeScale,
                                   HostParamDef* param) {
    const HostError injected = host_.TakeCheckoutFailure();
    if (injected != kHostNoError) return injected;
    if (index < 0 || static_cast<size_t>(index) >= params_.size()) {
        host_.Fault("checkout of an unknown parameter");
        return kBadCallback;
    }
    const double seconds = timeScale != 0 ? double(time) / timeScale : 0;
    *param = index == 0 ? current_[0] : ValueAt(static_cast<size_t>(index), seconds);
    ++outstanding_;
    return kHostNoError;
}

HostError EffectInstance::Checkin(HostParamDef*) {
    int32_t outstanding = outstanding_.load();
    do {
        if (outstanding == 0) {
            host_.Fault("checkin without a checkout");
            return kBadCallback;
        }
    } while (!outstanding_.compare_exchange_weak(outstanding, outstanding - 1));
    return kHostNoError;
}

HostError EffectInstance::AddParam(int32_t index, HostParamDef* param) {
    const HostError injected = host_.TakeAddParamFailure();
    if (injected != kHostNoError) return injected;
    if (index != kParamAppend) {
        host_.Fault("add-parameter with an index other than append");
        return kBadCallback;
    }
    ParamSlot slot;
    slot.def = *param;
    if (param->kind == kParamCheckbox && param->u.checkbox.text != nullptr) {
        slot.checkboxText = param->u.checkbox.text;
    }
    if (param->kind == kParamPopup && param->u.popup.choices != nullptr) {
        slot.choices = param->u.popup.choices;
    }
    // The texts lived only for the call; the slot holds its own copies.
    if (param->kind == kParamCheckbox) slot.def.u.checkbox.text = nullptr;
    if (param->kind == kParamPopup) slot.def.u.popup.choices = nullptr;
    // A new point starts at its default.
    if (param->kind == kParamPoint) {
        slot.def.u.point.x = param->u.point.defaultX;
        slot.def.u.point.y = param->u.point.defaultY;
    }
    params_.push_back(std::move(slot));
    return kHostNoError;
}

HostError EffectInstance::Abort() { return host_.AbortQuery(); }

}  // namespace ourhost
