// The frame-render driver: Effect::Render answers the host's render command
// for every effect.
#include "host/render_driver.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <initializer_list>
#include <optional>

#include "base/module_memory.h"
#include "base/result_codes.h"
#include "host/effect.h"
#include "host/string_ids.h"
#include "raster/pixel_ops.h"

namespace zoka {

namespace {

// Each thread's own: a host that calls the module on several threads at once
// gives each render its own records.
thread_local ZokaWorkerOffer tWorkerOffer{1, nullptr, nullptr, nullptr, nullptr, nullptr};

// The threads a render on the calling thread may use, its own included.
int OfferedWorkers() { return std::clamp(tWorkerOffer.workers, 1, kMaxBands); }

// What AbortPoll consults: the render's record and, while its bands run on
// several threads, the flag any of them raises when it stops.
struct AbortState {
    const HostInputRecord* record = nullptr;
    std::atomic<bool>* stop = nullptr;
};
thread_local AbortState tAbort;

// The crew of the render on this thread, kept from its first split to its
// end; outside a render, each split starts its own.
thread_local WorkerCrew* tCrew = nullptr;

// Whether this thread is running a part of a split: a split inside it would
// wait for threads busy with the split's other parts, so it runs inline.
thread_local bool tInPart = false;

// Transparent white in host order: what an expanded border starts as.
constexpr uint8_t kExpandedFill[4] = {0, 255, 255, 255};
constexpr uint8_t kTransparent[4] = {0, 0, 0, 0};

// Everything one render holds, released on every path.
class RenderResources {
public:
    RenderResources(Effect& effect, HostInputRecord* in)
        : crew(in, tWorkerOffer), effect_(effect), in_(in), outerCrew_(tCrew) {
        tCrew = &crew;
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
        tCrew = outerCrew_;
    }
    RenderResources(const RenderResources&) = delete;
    RenderResources& operator=(const RenderResources&) = delete;

    WorkerCrew crew;
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
    WorkerCrew* outerCrew_;
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

// The whole-frame pixel passes around the kernel (copies, pixel order, mask,
// blend) touch each row alone, so they split by rows over the workers a host
// offers, whether or not the effect's bands agree. They call the host for
// nothing. Parts smaller than this many pixels cost more to start than they
// save.
constexpr int64_t kPixelsPerPassPart = 1 << 16;
// A pass is cut into up to this many parts for each worker, taken by
// whichever thread is free: a worker that joins late, or a thread slowed by
// another program, then leaves the others less to wait for.
constexpr int kPassPartsPerWorker = 4;
// Within a part, a pass of several steps takes this many pixels' rows at a
// time through all its steps, so that the rows are still in the core's
// cache for the next step.
constexpr int64_t kPixelsPerChunk = 1 << 14;

// The parts of a split of area's pixels among threads: one for one thread;
// otherwise up to kPassPartsPerWorker for each, none smaller than
// kPixelsPerPassPart, and at most kMaxBands.
int SplitParts(const PixelRect& area, int threads) {
    if (threads <= 1 || IsEmpty(area)) return 1;
    const int64_t pixels = int64_t{area.right - area.left} * (int64_t{area.bottom} - area.top);
    const int64_t most = std::min<int64_t>(int64_t{threads} * kPassPartsPerWorker, kMaxBands);
    return static_cast<int>(std::clamp<int64_t>(pixels / kPixelsPerPassPart, 1, most));
}

int PassParts(const PixelRect& area) { return SplitParts(area, OfferedWorkers()); }

// The first row of part `part` of area's rows cut into `parts` runs (part ==
// parts: the row past the last).
int32_t PartTop(const PixelRect& area, int part, int parts) {
    const int64_t rows = int64_t{area.bottom} - area.top;
    return static_cast<int32_t>(area.top + rows * part / parts);
}

// Runs pass(top, bottom) over row ranges that together cover area's rows.
template <typename Pass>
void RunRowPass(HostInputRecord* in, const PixelRect& area, const Pass& pass) {
    struct Split {
        const PixelRect* area;
        int parts;
        const Pass* pass;
    };
    Split split{&area, PassParts(area), &pass};
    const auto runPart = [](void* data, int part) {
        const auto& s = *static_cast<const Split*>(data);
        (*s.pass)(PartTop(*s.area, part, s.parts), PartTop(*s.area, part + 1, s.parts));
    };
    RunParts(in, nullptr, split.parts, PartTask{runPart, &split});
}

// Runs steps(top, bottom) over rows [top, bottom) of area, a chunk of rows at
// a time.
template <typename Steps>
void InRowChunks(const PixelRect& area, int32_t top, int32_t bottom, const Steps& steps) {
    const int64_t width = std::max<int64_t>(int64_t{area.right} - area.left, 1);
    const int64_t rows = std::max<int64_t>(kPixelsPerChunk / width, 1);
    for (int64_t y = top; y < bottom; y += rows) {
        steps(static_cast<int32_t>(y), static_cast<int32_t>(std::min<int64_t>(y + rows, bottom)));
    }
}

// The rasters the kernel starts from, made in one pass over the rows: the
// work raster (the input in work order over the destination, with the part
// outside the input transparent, white where the output expands), the output
// holding the work raster, and the mask (the selection where there is one,
// else the work raster's alpha). Each row is read from the input once and
// copied on while it is still in the cache.
int PrepareRasters(RenderResources& r, Effect& effect, HostInputRecord* in, const HostLayer& inputLayer,
                   const HostLayer& image, const RenderAreas& a) {
    int result = AttachRasterView(r.inputView, a.input, inputLayer.data, inputLayer.rowBytes);
    if (result != kOk) return result;
    result = CreateRaster(a.destination, 4, 1, r.work);
    if (result != kOk) return result;
    result = AttachRasterView(r.outputView, a.destination, image.data, image.rowBytes);
    if (result != kOk) return result;
    result = CreateRaster(a.destination, 1, 1, r.mask);
    if (result != kOk) return result;
    if (a.hasSelection) ShiftRasterView(r.selectionView, a.shiftX, a.shiftY);
    PixelRect covered;
    IntersectRect(a.destination, a.input, covered);
    const bool fill = covered != a.destination;
    const uint8_t(&fillPixel)[4] = effect.ExpandsOutput() ? kExpandedFill : kTransparent;
    const bool reorder = !effect.KeepsHostPixelOrder();
    RunRowPass(in, a.destination, [&](int32_t top, int32_t bottom) {
        InRowChunks(a.destination, top, bottom, [&](int32_t chunkTop, int32_t chunkBottom) {
            const Raster rows = RowSlice(*r.work, chunkTop, chunkBottom);
            if (fill) FillRectPixels(rows, a.destination, fillPixel);
            CopyRasterOverlap(r.inputView, rows);
            if (reorder) HostToWorkOrder(rows);
            CopyRasterOverlap(rows, r.outputView);
            const Raster maskRows = RowSlice(*r.mask, chunkTop, chunkBottom);
            if (a.hasSelection) {
                CopySelectionInto(r.selectionView, maskRows);
            } else {
                CopyAlphaInto(*r.work, maskRows);
            }
        });
    });
    ReleaseRasterView(r.inputView);
    if (a.hasSelection) ReleaseRasterView(r.selectionView);
    return kOk;
}

// Mixes the input back in through the selection where the effect asks for
// it, and turns the output back into host order.
void FinishOutput(RenderResources& r, Effect& effect, HostInputRecord* in, const RenderAreas& a,
                  const RenderContext& context) {
    const bool blend = effect.MasksWithSelection() && a.hasSelection;
    const bool reorder = !effect.KeepsHostPixelOrder();
    if (!blend && !reorder) return;
    RunRowPass(in, a.destination, [&](int32_t top, int32_t bottom) {
        const Raster rows = RowSlice(r.outputView, top, bottom);
        if (blend) BlendByMaskShifted(*r.work, rows, *r.mask, context.maskOffsetX, context.maskOffsetY);
        if (reorder) WorkToHostOrder(rows);
    });
}

int RenderAllBands(Effect& effect, RenderContext& context, HostInputRecord* in) {
    BandEntry table[kMaxBands];
    int count = 0;
    PixelRect band;
    const int workers = WorkerCount(effect);
    const int bands = workers > 1 && !effect.SharesRows() ? std::min(workers, kMaxBands) : 1;
    for (NextBand(*context.outputArea, band, bands); !IsEmpty(band) && count < kMaxBands;
         NextBand(*context.outputArea, band, bands)) {
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
    result = PrepareRasters(r, effect, in, inputLayer, *image, a);
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
    FinishOutput(r, effect, in, a, context);
    return kOk;
}

}  // namespace

void OfferWorkers(const ZokaWorkerOffer* offer) {
    tWorkerOffer = offer != nullptr ? *offer : ZokaWorkerOffer{1, nullptr, nullptr, nullptr, nullptr, nullptr};
}

int WorkerCount(const Effect& effect) {
    if (!effect.BandsAgree()) return 1;
    return OfferedWorkers();
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

// The bands of one render, taken in order by whichever worker is free. A band
// that fails or is cancelled stops the others at their next poll, and the
// bands not started by then count as cancelled.
struct BandRun {
    BandEntry* table;
    int count;
    std::atomic<int> next{0};
    std::atomic<bool> stop{false};
    int results[kMaxBands] = {};
};

void RenderTableBands(void* data, int) {
    auto& run = *static_cast<BandRun*>(data);
    for (int i = run.next.fetch_add(1); i < run.count; i = run.next.fetch_add(1)) {
        if (run.stop.load()) {
            run.results[i] = kCancelled;
            continue;
        }
        const BandEntry& entry = run.table[i];
        run.results[i] = entry.effect->RenderBand(*entry.context, entry.band);
        if (run.results[i] != kOk) run.stop.store(true);
    }
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

void RunParts(HostInputRecord* in, std::atomic<bool>* stop, int parts, const PartTask& task) {
    if (parts <= 1) {
        if (parts == 1) task.run(task.data, 0);
        return;
    }
    // Each part answers the abort poll through the render's record and stop.
    struct Answering {
        const PartTask* task;
        HostInputRecord* in;
        std::atomic<bool>* stop;
    };
    Answering answering{&task, in, stop};
    const auto runPart = [](void* data, int part) {
        const auto& a = *static_cast<const Answering*>(data);
        const AbortState saved = tAbort;
        const bool wasInPart = tInPart;
        tAbort = AbortState{a.in, a.stop != nullptr ? a.stop : saved.stop};
        tInPart = true;
        a.task->run(a.task->data, part);
        tAbort = saved;
        tInPart = wasInPart;
    };
    std::optional<WorkerCrew> ownCrew;
    WorkerCrew* crew = tCrew;
    if (crew == nullptr) crew = &ownCrew.emplace(in, tWorkerOffer);
    crew->Run(std::min(parts, OfferedWorkers()), parts, PartTask{runPart, &answering});
}

int RunBands(HostInputRecord* in, BandEntry* table, int count) {
    if (count == 0) return kOk;
    if (count == 1) return table[0].effect->RenderBand(*table[0].context, table[0].band);
    BandRun run{table, count};
    const int threads = std::min(count, OfferedWorkers());
    RunParts(in, &run.stop, threads, PartTask{RenderTableBands, &run});
    return CombineBandResults(run.results, count);
}

namespace {

// An engine's parts, stopping together: once the host asks one of them to
// stop, the others stop at their next poll.
void RunEngineParts(void* in, int parts, const PartTask& task) {
    std::atomic<bool> stop{false};
    RunParts(static_cast<HostInputRecord*>(in), &stop, parts, task);
}

}  // namespace

PartRunner EngineRunner(HostInputRecord* in) {
    return PartRunner{tInPart ? 1 : OfferedWorkers(), RunEngineParts, in};
}

int ShareRows(HostInputRecord* in, const PixelRect& band, const RowTask& task) {
    const PartRunner runner = EngineRunner(in);
    const int parts = SplitParts(band, runner.threads);
    if (parts == 1) return task.run(task.data, band.top, band.bottom);
    struct Share {
        const RowTask* task;
        const PixelRect* band;
        int parts;
        int results[kMaxBands];
    };
    Share share{&task, &band, parts, {}};
    const auto runPart = [](void* data, int part) {
        auto& s = *static_cast<Share*>(data);
        s.results[part] = s.task->run(s.task->data, PartTop(*s.band, part, s.parts),
                                      PartTop(*s.band, part + 1, s.parts));
    };
    runner.Run(parts, PartTask{runPart, &share});
    return CombineBandResults(share.results, parts);
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
