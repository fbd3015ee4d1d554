// Fuzzes whole frames of every effect (Drop Shadow too, by its entry point)
// through our host, with the module linked in: layer and selection sizes and
// contents, the selection's origin, the draft factor, the frame's time,
// parameter values written straight into the host's parameter records (in and
// out of their valid ranges, as a host can store them) and injected host
// failures. After every frame:
//   - no handle is left and the host saw no fault;
//   - the result is 0, 8, 517, the module's 44000, or the code the host was
//     made to fail a checkout with;
//   - a failed render (a render still running after 10 s is cancelled, as a
//     user would) leaves the input in the output image;
//   - frame setup of an effect that expands answers a size a host can make;
//   - rendered again from memory filled with another byte, the pixels are
//     the same (nothing read that the module never wrote).
//
// The input is read front to back; missing bytes read as zero (defaults):
//   effect u8;
//   layer {width u16, height u16 (see ReadSide), pattern u8, seed u8};
//   downsample u8 (1 + b % 8);
//   flags u8 (1 selection, 2 still, 4 raw render time, 8 a second frame,
//     16 the frame again from other fresh memory);
//   [selection {width u16, height u16, pattern u8, seed u8,
//     origin x i32, origin y i32 (16.16)}];
//   time {rate u8, frame i32, [raw: time scale u32, step i32, time i32]};
//   failure {kind u8, n u16, extra u8};
//   then per parameter from host index 3 (1 without a selection layer):
//     mode u8 and its value (ReadParam).
// fuzz/make_host_seeds.py writes seeds in this layout.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "interface/host_records.h"
#include "interface/module_exports.h"
#include "ourhost/effect_instance.h"
#include "ourhost/host.h"
#include "ourhost/image.h"
#include "ourhost/module.h"
#include "tests/support/linked_exports.h"

namespace {

// Bounds that keep one input fast: layers of at most 4096 pixels a side and
// about a million pixels, output images of at most as many, and at most this
// many time steps integrated per frame.
constexpr int32_t kMaxSide = 4096;
constexpr int64_t kMaxLayerPixels = int64_t{1} << 20;
constexpr int64_t kMaxOutputPixels = int64_t{1} << 20;
// Module memory: a base and so much per pixel of the frame's images, ample
// for any render of them. Parameter values far out of their ranges ask for
// working areas far larger than the frame, whose work grows with their
// memory; the limit refuses them (code 8) before they take minutes.
constexpr uint64_t kBaseMemory = uint64_t{16} << 20;
constexpr uint64_t kMemoryPerPixel = 64;
// Some such values cost time rather than memory (a blur whose reach, not the
// layer, sets its transform length): the host cancels a render still running
// after this long, as a user would. The module polls often enough that the
// cancel ends it at once.
constexpr double kPatienceSeconds = 10;
constexpr int64_t kMaxTimeSteps = 10000;
// The largest frame a 16-bit host layer holds, a side.
constexpr int32_t kMaxFrameSide = 32767;

// The module's own code for a failed effect creation.
constexpr HostError kCreateFailed = 44000;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "host_frames_fuzz: %s\n", what);
    std::abort();
}

void Check(bool holds, const char* what) {
    if (!holds) Fail(what);
}

// The fuzzer's bytes, front to back; zero past the end.
class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint8_t U8() { return at_ < size_ ? data_[at_++] : 0; }
    uint16_t U16() { return static_cast<uint16_t>(U8() | U8() << 8); }
    uint32_t U32() { return uint32_t{U16()} | uint32_t{U16()} << 16; }
    int32_t I32() { return static_cast<int32_t>(U32()); }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

uint32_t NextRandom(uint32_t& state) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

// A layer of the given size with content of one of six kinds: a soft disc,
// opaque noise, noise in every channel, transparent, blocks, opaque white.
ourhost::Image MakeLayer(int32_t width, int32_t height, uint8_t pattern, uint8_t seed) {
    ourhost::Image image(width, height);
    uint32_t state = (uint32_t{seed} + 1) * 2654435761u;
    const double cx = width / 2.0, cy = height / 2.0;
    const double radius = std::max(1.0, std::min(cx, cy) * 0.8);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const uint32_t r = NextRandom(state);
            ourhost::Pixel p{};
            switch (pattern % 6) {
                case 0: {
                    const double d = std::hypot(x - cx, y - cy);
                    const double a = std::clamp((radius - d) * 32, 0.0, 255.0);
                    p = {static_cast<uint8_t>(a), static_cast<uint8_t>(x * 255 / std::max(1, width)),
                         static_cast<uint8_t>(y * 255 / std::max(1, height)), uint8_t(seed)};
                    break;
                }
                case 1:
                    p = {255, uint8_t(r), uint8_t(r >> 8), uint8_t(r >> 16)};
                    break;
                case 2:
                    p = {uint8_t(r >> 24), uint8_t(r), uint8_t(r >> 8), uint8_t(r >> 16)};
                    break;
                case 3:
                    break;
                case 4: {
                    const bool on = ((x / 7) + (y / 5) + seed) % 3 == 0;
                    p = {uint8_t(on ? 255 : 0), 200, 100, 50};
                    break;
                }
                default:
                    p = {255, 255, 255, 255};
                    break;
            }
            image.Set(x, y, p);
        }
    }
    return image;
}

// A side of a layer: up to 128 pixels, or up to kMaxSide when the top three
// bits are set, so that most inputs stay small and fast.
int32_t ReadSide(Reader& in) {
    const uint16_t raw = in.U16();
    return (raw >> 13) == 7 ? (raw & 0x1FFF) % (kMaxSide + 1) : raw % 129;
}

ourhost::Image ReadLayer(Reader& in) {
    const int32_t width = ReadSide(in);
    int32_t height = ReadSide(in);
    if (int64_t{width} * height > kMaxLayerPixels) {
        height = static_cast<int32_t>(kMaxLayerPixels / width);
    }
    const uint8_t pattern = in.U8();
    const uint8_t seed = in.U8();
    return MakeLayer(width, height, pattern, seed);
}

// Values a host can hold in a 32-bit field that meet the module's edges.
int32_t ExtremeValue(uint8_t which, const HostParamDef& def) {
    static constexpr int32_t kExtremes[] = {
        INT32_MIN, INT32_MAX, 0, -1, 1, 0x7FFF, 0x8000, -0x8000, -0x8001, 0xFFFF, 0x10000,
        -0x10000, 0x7FFF0000, -0x7FFF0000, 0x7FFFFFFF - 0xFFFF, 999 << 16, 1000, 3000, 30000,
        0x0168'0000 /* 360 degrees */};
    constexpr size_t kCount = sizeof kExtremes / sizeof kExtremes[0];
    if (which % (kCount + 2) == kCount) return def.u.slider.validMax + 1;
    if (which % (kCount + 2) == kCount + 1) return def.u.slider.validMin - 1;
    return kExtremes[which % (kCount + 2)];
}

// A value in the parameter's valid range (sliders), or a plausible one.
int32_t InRangeValue(uint32_t raw, const HostParamDef& def) {
    switch (def.kind) {
        case kParamSlider:
        case kParamFixedSlider: {
            const int64_t low = def.u.slider.validMin;
            const int64_t span = int64_t{def.u.slider.validMax} - low + 1;
            return span > 0 ? static_cast<int32_t>(low + raw % span) : def.u.slider.validMin;
        }
        case kParamAngle:
            return static_cast<int32_t>(raw % (720u << 16)) - (360 << 16);
        case kParamCheckbox:
            return static_cast<int32_t>(raw % 2);
        case kParamPopup:
            return static_cast<int32_t>(raw % static_cast<uint32_t>(def.u.popup.choiceCount + 2));
        default:
            return static_cast<int32_t>(raw);
    }
}

// A point in 16.16 near the layer (a few layer sizes around it), or raw.
int32_t PointCoordinate(uint8_t mode, uint32_t raw, int32_t extent) {
    if (mode % 2 == 0) return static_cast<int32_t>(raw);
    const int64_t span = int64_t{extent} * 5 + 64;
    return static_cast<int32_t>((static_cast<int64_t>(raw % span) - 2 * extent - 32) * 65536 +
                                (raw >> 24));
}

// The value union's first word, or the colour, or the point, as mode says:
// 0 default, 1 and 4 in range, 2 raw, 3 an extreme, 5 keyframed from 0 to a
// later time.
void ReadParam(Reader& in, ourhost::ParamSlot& slot, const ourhost::Image& layer) {
    const uint8_t mode = in.U8() % 6;
    if (mode == 0) return;
    HostParamValue& value = slot.def.u;
    const auto write = [&](HostParamValue& v, uint8_t how) {
        switch (slot.def.kind) {
            case kParamColor:
                // Braces read the bytes in order: alpha, red, green, blue.
                v.color.value = HostColor{in.U8(), in.U8(), in.U8(), in.U8()};
                break;
            case kParamPoint:
                v.point.x = PointCoordinate(how, in.U32(), layer.Width());
                v.point.y = PointCoordinate(how, in.U32(), layer.Height());
                break;
            case kParamLayer:
                break;
            default: {
                const uint32_t raw = in.U32();
                v.slider.value = how == 2   ? static_cast<int32_t>(raw)
                                 : how == 3 ? ExtremeValue(static_cast<uint8_t>(raw), slot.def)
                                            : InRangeValue(raw, slot.def);
                break;
            }
        }
    };
    if (mode != 5) {
        write(value, mode);
        return;
    }
    HostParamValue first = value, last = value;
    write(first, in.U8() % 5);
    write(last, in.U8() % 5);
    slot.keys[0] = first;
    slot.keys[1 + in.U8() % 60] = last;
}

// Injected failures: allocations, a cancel, or a failed checkout, armed
// before frame setup or before the render.
struct Failure {
    enum Kind : uint8_t { kNone, kAllocation, kCancel, kCheckout } kind = kNone;
    bool beforeRender = false;
    uint16_t n = 0;
    uint8_t extra = 0;
    HostError checkoutCode = 0;

    void Arm(ourhost::Host& host) const {
        switch (kind) {
            case kAllocation:
                host.FailAllocation(1 + n % 400, 1 + (extra % 4 == 3 ? 1000 : extra % 4));
                break;
            case kCancel:
                host.CancelFromPoll(1 + n);
                break;
            case kCheckout:
                host.FailCheckout(1 + n % 64, checkoutCode);
                break;
            case kNone:
                break;
        }
    }
};

Failure ReadFailure(Reader& in) {
    static constexpr HostError kCodes[] = {8, 517, 513, 1, -1, 3, 44001, 0x7FFFFFFF};
    Failure f;
    const uint8_t kind = in.U8();
    f.kind = static_cast<Failure::Kind>(kind % 4);
    f.beforeRender = (kind & 4) != 0;
    f.n = in.U16();
    f.extra = in.U8();
    f.checkoutCode = kCodes[f.extra % (sizeof kCodes / sizeof kCodes[0])];
    return f;
}

// The frame's time: a frame number at a rate, at most kMaxTimeSteps frames
// from 0; or, for the render, raw time fields (time scale, step, time) whose
// step count is bounded alike.
struct FrameTime {
    ourhost::FrameOptions options;
    bool raw = false;
    uint32_t timeScale = 0;
    int32_t step = 0;
    int32_t time = 0;
};

FrameTime ReadTime(Reader& in, uint8_t flags, int32_t downsample) {
    static constexpr double kRates[] = {30, 29.97, 24, 25, 60, 59.94, 23.976, 1, 0.001, 1000, 120, 7.5};
    FrameTime t;
    const uint8_t rate = in.U8();
    const double fps = rate < 200 ? kRates[rate % (sizeof kRates / sizeof kRates[0])]
                                  : (rate - 199) * 37.3;
    const int64_t frame = std::clamp<int64_t>(in.I32(), -kMaxTimeSteps, kMaxTimeSteps);
    const ourhost::FrameRate r = ourhost::RateOf(fps);
    t.options.fps = fps;
    t.options.time = double(frame) * r.frameTicks / r.timeScale;
    t.options.still = (flags & 2) != 0;
    t.options.downsample = downsample;
    t.raw = (flags & 4) != 0;
    if (t.raw) {
        t.timeScale = in.U32();
        t.step = in.I32();
        int64_t time = in.I32();
        if (t.step > 0 && t.timeScale != 0 && time / t.step > kMaxTimeSteps) {
            time = t.step * kMaxTimeSteps;
            time = std::min<int64_t>(time, INT32_MAX);
        }
        t.time = static_cast<int32_t>(time);
    }
    return t;
}

ourhost::Module& LinkedModule() {
    static std::unique_ptr<ourhost::Module> module = ourhost::Module::Linked(zoka_test::LinkedExport);
    return *module;
}

// The size of the output image the host makes for a frame: the input's, or
// what frame setup answered for an effect that expands (which must be a size
// a host layer can hold).
void OutputSize(ourhost::EffectInstance& instance, const ourhost::Image& layer, int32_t& width,
                int32_t& height) {
    const bool expands = (instance.GlobalFlags() & kOutFlagExpandsOutput) != 0;
    width = expands ? instance.Output().width : layer.Width();
    height = expands ? instance.Output().height : layer.Height();
    if (expands) {
        Check(width >= 0 && height >= 0 && width <= kMaxFrameSide && height <= kMaxFrameSide,
              "frame setup answered a size no host layer holds");
    }
}

bool AllowedCode(HostError code, const Failure& failure) {
    if (code == kHostNoError || code == 8 || code == kHostErrorCancelled || code == kCreateFailed) {
        return true;
    }
    return failure.kind == Failure::kCheckout && code == failure.checkoutCode;
}

void CheckCode(HostError code, const Failure& failure, ourhost::EffectInstance& instance) {
    Check(AllowedCode(code, failure), "a result code the module does not document");
    if (code != kHostNoError && code != kHostErrorCancelled) {
        Check((instance.Output().flags & kOutFlagDisplayError) != 0, "a failure without the error flag");
    }
}

uint64_t MemoryFor(int64_t pixels) {
    return kBaseMemory + kMemoryPerPixel * static_cast<uint64_t>(pixels);
}

// One frame: setup, render into an image of the size the host makes, setdown.
// layerPixels counts the input's and the selection's. The image rendered,
// when the render succeeded.
std::optional<ourhost::Image> RunFrame(ourhost::Host& host, ourhost::EffectInstance& instance,
                                       const ourhost::Image& layer, int64_t layerPixels,
                                       const FrameTime& time, const Failure& failure) {
    host.SetMemoryLimit(MemoryFor(layerPixels));
    std::optional<ourhost::Image> rendered;
    if (!failure.beforeRender) failure.Arm(host);
    const HostError setup = instance.FrameSetup(layer, time.options);
    CheckCode(setup, failure, instance);
    int32_t width = 0, height = 0;
    if (setup == kHostNoError) OutputSize(instance, layer, width, height);
    // A host that cannot hold the image does not render the frame.
    if (setup == kHostNoError && int64_t{width} * height <= kMaxOutputPixels) {
        ourhost::Image output(width, height, ourhost::Pixel{7, 7, 7, 7});
        HostLayer outputLayer = output.Layer();
        host.SetMemoryLimit(MemoryFor(layerPixels + int64_t{width} * height));
        if (failure.beforeRender) failure.Arm(host);
        instance.Output().flags = 0;
        instance.Output().message[0] = '\0';
        host.CancelAfter(kPatienceSeconds);
        if (time.raw) {
            instance.Input().timeScale = time.timeScale;
            instance.Input().localTimeStep = time.step;
            instance.Input().currentTime = time.time;
        }
        const HostError code = instance.Call(kCmdRender, &outputLayer);
        CheckCode(code, failure, instance);
        if (code != kHostNoError) {
            ourhost::Image expected(width, height);
            HostLayer expectedLayer = expected.Layer();
            ourhost::CopyWhole(layer.Layer(), expectedLayer);
            Check(output == expected, "a failed render left other pixels than the input");
        } else {
            rendered = std::move(output);
        }
    }
    host.FailAllocation(0);
    host.CancelFromPoll(0);
    host.CancelAfter(0);
    host.FailCheckout(0, 0);
    instance.FrameSetdown();
    Check(host.LiveHandles() == 0, "a handle outlived the frame");
    Check(host.Faults().empty(), "the module broke a host rule");
    Check(instance.OutstandingCheckouts() == 0, "a parameter stayed checked out");
    return rendered;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in(data, size);
    const auto& effects = LinkedModule().AllEffects();
    const ZokaEffectKeys& keys = effects[in.U8() % effects.size()];

    ourhost::Host host;
    ourhost::EffectInstance instance(host, LinkedModule().EntryPoint(keys.entryName));
    Check(instance.GlobalSetup() == kHostNoError, "global setup failed");
    Check(instance.SetupParams() == kHostNoError, "parameter setup failed");

    const ourhost::Image layer = ReadLayer(in);
    const int32_t downsample = 1 + in.U8() % 8;
    const uint8_t flags = in.U8();
    auto& params = instance.Params();
    const bool hasSelection = params.size() > 2 && params[2].def.kind == kParamPoint;
    int64_t layerPixels = int64_t{layer.Width()} * layer.Height();
    if ((flags & 1) != 0) {
        const ourhost::Image selection = ReadLayer(in);
        layerPixels += int64_t{selection.Width()} * selection.Height();
        const int32_t x = in.I32(), y = in.I32();
        if (hasSelection) {
            instance.SetSelection(selection, 0, 0);
            params[2].def.u.point.x = x;
            params[2].def.u.point.y = y;
        }
    }
    const FrameTime time = ReadTime(in, flags, downsample);
    const Failure failure = ReadFailure(in);
    for (size_t i = hasSelection ? 3 : 1; i < params.size(); ++i) ReadParam(in, params[i], layer);

    const auto first = RunFrame(host, instance, layer, layerPixels, time, failure);
    if ((flags & 16) != 0 && first && failure.kind == Failure::kNone) {
        // The same frame again from memory filled with another byte: a
        // module that reads memory it never wrote renders other pixels.
        host.SetFreshFill(0x5A);
        const auto again = RunFrame(host, instance, layer, layerPixels, time, failure);
        host.SetFreshFill(0xA5);
        // Unless the user ran out of patience the second time.
        Check(!again || *again == *first, "the pixels depend on memory the module never wrote");
    }
    if ((flags & 8) != 0) {
        FrameTime later = time;
        later.options.time += 1;
        RunFrame(host, instance, layer, layerPixels, later, Failure{});
    }
    Check(instance.GlobalSetdown() == kHostNoError, "global setdown failed");
    Check(host.LiveHandles() == 0, "a handle outlived the instance");
    return 0;
}
