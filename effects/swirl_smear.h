// Swirl's smear: each pixel the mean of its own value and the samples along
// its streamline through a field of vectors, each colour with grain added.
#pragma once

#include <cstdint>

#include "raster/abort_check.h"
#include "raster/raster.h"
#include "raster/rect.h"

namespace zoka {

// What the walks of one band read: the source, the field's vectors and grain
// over the band's grown area, and the cells a walk may stand on.
struct Streamlines {
    const Raster& source;
    const Raster& vectors;  // two signed bytes per cell: (vx, vy) times 127
    const Raster& grain;    // one signed byte per cell
    // Cells whose right and lower neighbours lie in the source and in the
    // field, so every sample of a cell stays inside the rasters.
    PixelRect walkable;
    int32_t colours;   // channels that gain grain
    int32_t channels;  // channels that are smeared
    bool smooth;
};

PixelRect WalkableCells(const Raster& source, const Raster& field);

// Pixels left..right-1 of row y smeared, each over up to `forward` steps
// along the vectors and `backward` steps against them, into out (4 bytes a
// pixel). With four channels a sample's channels go through a vector
// register at once; the integer sums are the same.
void SmearRow(const Streamlines& s, int32_t y, int32_t left, int32_t right, int32_t forward,
              int32_t backward, uint8_t* out);
// The rows of band smeared as SmearRow does, into destination, each after
// the abort check: 0, 1 when cancelled, or 8 without memory. Pixels whose walks cannot leave
// the walkable cells walk over a packed copy of the cells near them, four at
// a time.
int SmearBand(const Streamlines& s, const PixelRect& band, int32_t forward, int32_t backward,
              const Raster& destination, AbortCheck abort);
// Pixel (x, y) a channel at a time: the reference SmearRow reproduces.
void SmearPixelDirect(const Streamlines& s, int32_t x, int32_t y, int32_t forward,
                      int32_t backward, uint8_t* out);

}  // namespace zoka
