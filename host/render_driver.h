// The frame-render driver's pieces: bands, running them, the abort poll and
// the cancel code at the host boundary. Effect::Render ties them together.
#pragma once

#include <atomic>
#include <cstdint>

#include "host/render_context.h"
#include "host/worker_crew.h"
#include "interface/module_exports.h"
#include "raster/rect.h"

namespace zoka {

class Effect;

// Bands are vertical strips of the output area, one per worker (one in all
// for an effect that shares its band's rows). Without a host's offer of
// workers there is one, and the render runs on the host's thread alone.
inline constexpr int kMaxBands = kZokaMaxWorkers;

// Keeps the offer for the renders the calling thread asks for; null
// withdraws it.
void OfferWorkers(const ZokaWorkerOffer* offer);
// The workers a render of effect uses on the calling thread: the offer's,
// when its bands agree; otherwise 1.
int WorkerCount(const Effect& effect);

struct BandEntry {
    PixelRect band;
    Effect* effect;
    RenderContext* context;
};

// Advances band to the next of `workers` strips of area; an empty band
// starts the split and an empty result ends it.
void NextBand(const PixelRect& area, PixelRect& band, int workers);
// Work split into parts that run at once, each taken by the calling thread
// or one of the render's worker threads as it comes free (all by the calling
// thread when the system starts no thread). The parts poll the host's abort
// through the caller's record, and stop, when not null, once it is raised.
void RunParts(HostInputRecord* in, std::atomic<bool>* stop, int parts, const PartTask& task);

// The runner a kernel hands an engine (the blur) so that its independent
// lines are shared among the render's threads: the workers offered, whether
// or not the effect's bands agree, since the lines give the same bytes
// however they are shared; one thread inside a part already running (a band
// among several), whose fellow threads are busy with the other parts. The
// parts poll the host's abort as the bands do and stop together.
PartRunner EngineRunner(HostInputRecord* in);

// Rows of a band: run(data, top, bottom) paints rows top to bottom - 1 and
// returns 0, or a failure or a cancel.
struct RowTask {
    int (*run)(const void* data, int32_t top, int32_t bottom);
    const void* data;
};
// Paints a band's rows in runs shared among the render's threads, as
// EngineRunner shares an engine's lines: for a kernel's pixel loop whose
// rows read only what every row reads and write only their own pixels, so
// that the bytes are those of one thread. The first failure in row order
// other than a cancel, else a cancel, else 0.
int ShareRows(HostInputRecord* in, const PixelRect& band, const RowTask& task);

// ShareRows with rows(top, bottom) of the render's band.
template <typename Rows>
int ShareBandRows(const RenderContext& context, const PixelRect& band, const Rows& rows) {
    return ShareRows(context.input, band,
                     RowTask{[](const void* data, int32_t top, int32_t bottom) {
                                 return (*static_cast<const Rows*>(data))(top, bottom);
                             },
                             &rows});
}

// Renders the bands on the calling thread and on worker threads, as many as
// the bands up to the workers offered: each thread takes the next band not
// yet taken until none is left (a thread the system does not start leaves
// its share to the others). The result is the first failure in band order
// other than a cancel, else a cancel, else 0.
int RunBands(HostInputRecord* in, BandEntry* table, int count);

// With a record: remembers it for the calling thread and returns 0. With
// null: non-zero to stop, the host's abort query for the remembered record,
// or while bands run on several threads, once any of them stopped.
int AbortPoll(const void* record);

// The module's cancel (1) becomes the host's (517) at the boundary.
int CancelToHost(int code);

}  // namespace zoka
