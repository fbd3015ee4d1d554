// The frame-render driver: Effect::Render answers the host's render command
// for every effect.
#include "host/render_driver.h"

#include <algorithm>
#include <atomic>
#include <cfenv>
#include <cmath>
#include <initializer_list>

#include "base/module_memory.h"
#include "base/result_codes.h"
#include "host/effect.h"
#include "host/string_ids.h"
#include "platform/platform.h"
#include "raster/pixel_ops.h"

namespace zoka {

namespace {

// Each thread's own: a host that calls the module on several threads at once
// gives each render its own records.
thread_local ZokaWorkerOffer tWorkerOffer{1, nullptr, nullptr, nullptr};

// What AbortPoll consults: the render's record and, while its bands run on
// several threads, the flag any of them raises when it stops.
struct AbortState {
    const HostInputRecord* record = nullptr;
    std::atomic<bool>* stop = nullptr;
};
thread_local AbortState tAbort;

// Transparent white in host order: what an expanded border starts as.
constexpr uint8_t kExpandedFill[4] = {0, 255, 255, 255};
constexpr uint8_t kTransparent[4] = {0, 0, 0, 0};

// Everything one render holds, released on every path.
class RenderResources {
public:
    RenderResources(Effect& effect, HostInputRecord* in) : effect_(effect), in_(in) {
        InitRasterView(selectionView, 4, 1);
        InitRasterView(inputView, 4, 1);
        InitRasterView(outputView, 4, 1);
    }
    ~RenderResources() {
        if (selectionCheckedOut) in_->checkinParam(in_->effectRef, &selectionParam);
        if (block != nullptr) {
            effect_.ReleaseParamBlock(block);
            HostFree(block);
        }
        DestroyRaster(work);
        DestroyRaster(mask);
        ReleaseRasterView(selectionView);
        ReleaseRasterView(inputView);
        ReleaseRasterView(outputView);
    }
    RenderResources(const RenderResources&) = delete;
    RenderResources& operator=(const RenderResources&) = delete;

    HostParamDef selectionParam{};
    bool selectionCheckedOut = false;
    Raster selectionView;
    Raster inputView;
    Raster outputView;
    Raster* work = nullptr;
    Raster* mask = nullptr;
    void* block = nullptr;

private:
    Effect& effect_;
    HostInputRecord* in_;
};

// The areas of one render, in working coordinates once shifted.
struct RenderAreas {
    PixelRect input;
    PixelRect output;
    PixelRect destination;
    PixelRect selection;
    RealRect bounds;  // the selection before the floor
    bool hasSelection = false;
    int32_t shiftX = 0;  // from host layer coordinates to working coordinates
    int32_t shiftY = 0;
};

// Checks out the selection layer and, when it has pixels, places it at its
// origin and makes a view of its pixels.
int CheckOutSelection(RenderResources& r, HostInputRecord* in, HostOutputRecord* out,
                      HostParamDef** params, RenderAreas& a) {
    const int error =
        in->checkoutParam(in->effectRef, 1, in->currentTime, 0, in->timeScale, &r.selectionParam);
    if (error == kHostErrorCancelled) return error;
    if (error != kOk) {
        EffectError(in, out, kStringCheckoutError);
        return error;
    }
    r.selectionCheckedOut = true;
    const HostLayer& layer = r.selectionParam.u.layer.layer;
    if (layer.data == nullptr) return kOk;
    const double x = params[2]->u.point.x / 65536.0;
    const double y = params[2]->u.point.y / 65536.0;
    a.bounds = RealRect{y, x, y + layer.height, x + layer.width};
    a.selection = PixelRect{0, 0, layer.height, layer.width};
    OffsetRect(a.selection, static_cast<int32_t>(std::floor(x)), static_cast<int32_t>(std::floor(y)));
    a.hasSelection = true;
    return AttachRasterView(r.selectionView, a.selection, layer.data, layer.rowBytes);
}

// Lays out the working coordinates: the destination starts at (0, 0) and
// never reaches beyond the output image. An effect that does not expand
// renders into the input's own area, which is what the host sizes its output
// image by; the bands stay inside the destination. 0, or 8 when the
// destination is larger than any frame a host makes (frame setup refused it).
int LayOutAreas(Effect& effect, const void* block, double divisor, const HostLayer& inputLayer,
                const HostLayer& image, RenderAreas& a) {
    a.input = PixelRect{0, 0, inputLayer.height, inputLayer.width};
    effect.OutputRect(a.output, a.hasSelection ? a.selection : a.input, block, divisor);
    if (effect.ExpandsOutput()) {
        UnionRect(a.input, a.output, a.destination);
        if (!HostFrameHolds(a.destination)) return kOutOfMemory;
    } else {
        a.destination = a.input;
    }
    if (!a.hasSelection) {
        a.selection = a.destination;
        a.bounds = RealRect{double(a.destination.top), double(a.destination.left),
                            double(a.destination.bottom), double(a.destination.right)};
    }
    a.shiftX = -a.destination.left;
    a.shiftY = -a.destination.top;
    for (PixelRect* area : {&a.input, &a.output, &a.destination, &a.selection}) {
        OffsetRect(*area, a.shiftX, a.shiftY);
    }
    OffsetRect(a.bounds, a.shiftX, a.shiftY);
    IntersectRect(a.destination, PixelRect{0, 0, image.height, image.width}, a.destination);
    IntersectRect(a.output, a.destination, a.output);
    return kOk;
}

// The work raster: the input in work order over the destination, with the
// part outside the input transparent (white where the output expands).
int BuildWorkRaster(RenderResources& r, Effect& effect, const HostLayer& inputLayer,
                    const RenderAreas& a) {
    int result = AttachRasterView(r.inputView, a.input, inputLayer.data, inputLayer.rowBytes);
    if (result != kOk) return result;
    result = CreateRaster(a.destination, 4, 1, r.work);
    if (result != kOk) return result;
    PixelRect covered;
    IntersectRect(a.destination, a.input, covered);
    if (covered != a.destination) {
        FillRectPixels(*r.work, a.destination, effect.ExpandsOutput() ? kExpandedFill : kTransparent);
    }
    CopyRasterOverlap(r.inputView, *r.work);
    ReleaseRasterView(r.inputView);
    if (!effect.KeepsHostPixelOrder()) HostToWorkOrder(*r.work);
    return kOk;
}

int BuildMask(RenderResources& r, const RenderAreas& a) {
    if (!a.hasSelection) return ExtractAlpha(a.destination, *r.work, r.mask);
    ShiftRasterView(r.selectionView, a.shiftX, a.shiftY);
    const int result = ExtractSelection(a.destination, r.selectionView, r.mask);
    ReleaseRasterView(r.selectionView);
    return result;
}

int RenderAllBands(Effect& effect, RenderContext& context, HostInputRecord* in) {
    BandEntry table[kMaxBands];
    int count = 0;
    PixelRect band;
    const int workers = WorkerCount(effect);
    for (NextBand(*context.outputArea, band, workers); !IsEmpty(band) && count < kMaxBands;
         NextBand(*context.outputArea, band, workers)) {
        table[count++] = BandEntry{band, &effect, &context};
    }
    return RunBands(in, table, count);
}

int RenderFrame(Effect& effect, RenderResources& r, HostInputRecord* in, HostOutputRecord* out,
                HostParamDef** params, HostLayer* image) {
    RenderAreas a;
    if (effect.UsesSelectionLayer()) {
        const int result = CheckOutSelection(r, in, out, params, a);
        if (result != kOk) return result;
    }
    r.block = effect.ReadParams(params);
    if (r.block == nullptr) return kOutOfMemory;
    const HostLayer& inputLayer = params[0]->u.layer.layer;
    const double divisor = ResolutionDivisor(in);
    int result = LayOutAreas(effect, r.block, divisor, inputLayer, *image, a);
    if (result != kOk) return result;
    result = BuildWorkRaster(r, effect, inputLayer, a);
    if (result != kOk) return result;
    result = AttachRasterView(r.outputView, a.destination, image->data, image->rowBytes);
    if (result != kOk) return result;
    CopyRasterOverlap(*r.work, r.outputView);
    result = BuildMask(r, a);
    if (result != kOk) return result;
    IntersectRect(a.selection, a.destination, a.selection);
    AbortPoll(in);

    RenderContext context{in, out, params, &a.destination, &a.selection, &a.selection,
                          &a.bounds, &a.output,
                          // The selection's fractional placement (the areas hold its floor).
                          a.bounds.left - std::floor(a.bounds.left),
                          a.bounds.top - std::floor(a.bounds.top), r.work, &r.outputView, r.mask,
                          r.block, AbortPoll, 1, divisor};
    result = effect.PrepareRender(context);
    if (result != kOk) return result;
    result = RenderAllBands(effect, context, in);
    if (result != kOk) return result;
    if (effect.MasksWithSelection() && a.hasSelection) {
        BlendByMaskShifted(*r.work, r.outputView, *r.mask, context.maskOffsetX, context.maskOffsetY);
    }
    if (!effect.KeepsHostPixelOrder()) WorkToHostOrder(r.outputView);
    return kOk;
}

}  // namespace

void OfferWorkers(const ZokaWorkerOffer* offer) {
    tWorkerOffer = offer != nullptr ? *offer : ZokaWorkerOffer{1, nullptr, nullptr, nullptr};
}

int WorkerCount(const Effect& effect) {
    if (!effect.BandsAgree()) return 1;
    return std::clamp(tWorkerOffer.workers, 1, kMaxBands);
}

void NextBand(const PixelRect& area, PixelRect& band, int workers) {
    const int64_t width = int64_t{area.right} - area.left;
    const auto w = static_cast<int32_t>((width + workers - 1) / workers);
    if (IsEmpty(band)) {
        band.top = area.top;
        band.bottom = area.bottom;
        band.left = area.left;
    } else {
        band.left = band.right;
    }
    band.right = band.left + w;
    IntersectRect(band, area, band);
}

namespace {

// A band that fails or is cancelled stops the others at their next poll.
int RenderSharedBand(const BandEntry& entry, std::atomic<bool>& stop) {
    const int result = entry.effect->RenderBand(*entry.context, entry.band);
    if (result != kOk) stop.store(true);
    return result;
}

// One band on a worker thread, which answers to the host as the render's
// thread does: the same input record, the same stop flag, and the host's
// hooks around its callbacks. It also computes as that thread does: a thread
// the system starts may have another floating-point environment (on 32-bit
// Windows the x87 precision the C library's functions compute in), so the
// worker takes the render thread's.
struct BandWorker {
    const BandEntry* entry;
    HostInputRecord* in;
    std::atomic<bool>* stop;
    const ZokaWorkerOffer* offer;
    const std::fenv_t* environment;
    int result;
    platform::Thread thread;
};

void RunBandWorker(void* argument) {
    auto& w = *static_cast<BandWorker*>(argument);
    std::fesetenv(w.environment);
    CurrentInputRecord = w.in;
    tAbort = AbortState{w.in, w.stop};
    if (w.offer->workerBegins != nullptr) w.offer->workerBegins(w.offer->host);
    w.result = RenderSharedBand(*w.entry, *w.stop);
    if (w.offer->workerEnds != nullptr) w.offer->workerEnds(w.offer->host);
    tAbort = AbortState{};
}

int CombineBandResults(const int* results, int count) {
    int combined = kOk;
    for (int i = 0; i < count; ++i) {
        if (results[i] != kOk && results[i] != kCancelled) return results[i];
        if (results[i] == kCancelled) combined = kCancelled;
    }
    return combined;
}

}  // namespace

int RunBands(HostInputRecord* in, BandEntry* table, int count) {
    if (count == 0) return kOk;
    if (count == 1) return table[0].effect->RenderBand(*table[0].context, table[0].band);
    std::atomic<bool> stop{false};
    const ZokaWorkerOffer offer = tWorkerOffer;
    std::fenv_t environment;
    std::fegetenv(&environment);
    BandWorker workers[kMaxBands];
    bool started[kMaxBands] = {};
    for (int i = 1; i < count; ++i) {
        workers[i] = BandWorker{&table[i], in, &stop, &offer, &environment, kOk, {RunBandWorker, &workers[i], 0}};
        started[i] = platform::StartThread(workers[i].thread);
    }
    std::atomic<bool>* const ownStop = tAbort.stop;
    tAbort.stop = &stop;
    int results[kMaxBands];
    results[0] = RenderSharedBand(table[0], stop);
    for (int i = 1; i < count; ++i) {
        if (!started[i]) workers[i].result = RenderSharedBand(table[i], stop);
    }
    tAbort.stop = ownStop;
    for (int i = 1; i < count; ++i) {
        if (started[i]) platform::JoinThread(workers[i].thread);
        results[i] = workers[i].result;
    }
    return CombineBandResults(results, count);
}

int AbortPoll(const void* record) {
    if (record != nullptr) {
        tAbort = AbortState{static_cast<const HostInputRecord*>(record), nullptr};
        return 0;
    }
    if (tAbort.stop != nullptr && tAbort.stop->load()) return 1;
    if (tAbort.record == nullptr) return 0;
    const int answer = tAbort.record->abortQuery(tAbort.record->effectRef);
    if (answer != 0 && tAbort.stop != nullptr) tAbort.stop->store(true);
    return answer;
}

int CancelToHost(int code) { return code == kCancelled ? kHostErrorCancelled : code; }

int Effect::Render(HostInputRecord* in, HostOutputRecord* out, HostParamDef** params,
                   HostLayer* image) {
    RenderResources resources(*this, in);
    return CancelToHost(RenderFrame(*this, resources, in, out, params, image));
}

}  // namespace zoka
