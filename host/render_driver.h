// The frame-render driver's pieces: bands, running them, the abort poll and
// the cancel code at the host boundary. Effect::Render ties them together.
#pragma once

#include "host/render_context.h"
#include "raster/rect.h"

namespace zoka {

class Effect;

// Bands are vertical strips of the output area, one per worker. The render
// runs on the host's thread alone.
inline constexpr int kWorkerCount = 1;
inline constexpr int kMaxBands = 64;

struct BandEntry {
    PixelRect band;
    Effect* effect;
    RenderContext* context;
};

// Advances band to the next strip of area; an empty band starts the split
// and an empty result ends it.
void NextBand(const PixelRect& area, PixelRect& band);
int RunBands(HostInputRecord* in, BandEntry* table, int count);

// With a record: remembers it and returns 0. With null: the host's abort
// query for the remembered record (non-zero: stop), when the caller runs on
// the host's thread.
int AbortPoll(const void* record);

// The module's cancel (1) becomes the host's (517) at the boundary.
int CancelToHost(int code);

}  // namespace zoka
