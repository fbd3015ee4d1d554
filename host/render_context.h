// What a kernel receives for one render: the host records, the areas in
// working coordinates (the destination starts at (0, 0)), the working
// images, the parameter block and the abort poll.
#pragma once

#include <cstdint>

#include "interface/host_records.h"
#include "raster/abort_check.h"
#include "raster/raster.h"
#include "raster/rect.h"

namespace zoka {

struct RenderContext {
    HostInputRecord* input;
    HostOutputRecord* output;
    HostParamDef** paramList;
    const PixelRect* destArea;       // the whole working area
    const PixelRect* selectionArea;  // the selection, clipped to destArea
    const PixelRect* subjectArea;    // the same rectangle as selectionArea
    const RealRect* selectionBounds; // unclipped, in real numbers
    const PixelRect* outputArea;     // the area the bands cover
    double maskOffsetX;              // fractional parts of the selection origin
    double maskOffsetY;
    Raster* source;       // the input over destArea, work order (R, G, B, A)
    Raster* destination;  // the output over destArea; starts as a copy of source
    Raster* mask;         // the selection's alpha, or the layer's own alpha
    void* params;
    AbortCheck abort;
    uint8_t excludeAlpha;  // 1: kernels process R, G, B and leave alpha alone
    double divisor;        // resolution divisor
};

}  // namespace zoka
