// The frame-render driver's pieces: bands, running them, the abort poll and
// the cancel code at the host boundary. Effect::Render ties them together.
#pragma once

#include "host/render_context.h"
#include "interface/module_exports.h"
#include "raster/rect.h"

namespace zoka {

class Effect;

// Bands are vertical strips of the output area, one per worker. Without a
// host's offer of workers there is one, and the render runs on the host's
// thread alone.
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
// Renders the bands, the first on the calling thread and each other on a
// worker thread of its own (on the calling thread too when the system starts
// no thread). The result is the first failure in band order other than a
// cancel, else a cancel, else 0.
int RunBands(HostInputRecord* in, BandEntry* table, int count);

// With a record: remembers it for the calling thread and returns 0. With
// null: non-zero to stop, the host's abort query for the remembered record,
// or while bands run on several threads, once any of them stopped.
int AbortPoll(const void* record);

// The module's cancel (1) becomes the host's (517) at the boundary.
int CancelToHost(int code);

}  // namespace zoka
