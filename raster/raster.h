// The image buffer of every effect: a header, a table of row addresses indexed
// by absolute row, and pixels that may or may not belong to the raster.
//
// Three uses share the type: mask rasters (one 8-bit channel), work rasters
// (four 8-bit channels in work order R, G, B, A) and views over host images
// (four 8-bit channels in host order A, R, G, B, pixels owned by the host).
#pragma once

#include <cstddef>
#include <cstdint>

#include "raster/rect.h"

namespace zoka {

struct Raster {
    PixelRect bounds;
    int32_t channels = 0;
    int32_t channelBytes = 0;  // 1 (8-bit), 4 or 8 (double)
    // rowTable[i] is the address of pixel (bounds.left, bounds.top + i); rows
    // are looked up by absolute y through Row().
    uint8_t** rowTable = nullptr;
    int32_t tableRows = 0;

    int32_t PixelBytes() const { return channels * channelBytes; }
    uint8_t* Row(int32_t y) const { return rowTable[y - bounds.top]; }
    uint8_t* Pixel(int32_t x, int32_t y) const {
        return Row(y) + static_cast<ptrdiff_t>(x - bounds.left) * PixelBytes();
    }
    template <typename T>
    T* RowAs(int32_t y) const {
        return reinterpret_cast<T*>(Row(y));
    }
    bool Contains(int32_t x, int32_t y) const {
        return x >= bounds.left && x < bounds.right && y >= bounds.top && y < bounds.bottom;
    }
};

// Allocates header, row table and (when rect has rows) one contiguous pixel
// block; contents are not cleared. On failure nothing is left allocated and
// the result is 8.
int CreateRaster(const PixelRect& rect, int32_t channels, int32_t channelBytes, Raster*& raster);
void DestroyRaster(Raster* raster);

// A raster created for one scope and destroyed on every path out of it.
class ScopedRaster {
public:
    ScopedRaster() = default;
    ~ScopedRaster() { DestroyRaster(raster_); }
    ScopedRaster(const ScopedRaster&) = delete;
    ScopedRaster& operator=(const ScopedRaster&) = delete;

    int Create(const PixelRect& rect, int32_t channels, int32_t channelBytes) {
        Reset();
        return CreateRaster(rect, channels, channelBytes, raster_);
    }
    // Destroys the raster held and hands out the place for a new one, for the
    // operations that create their result (ExtractAlpha, ResampleShifted ...).
    Raster*& Receive() {
        Reset();
        return raster_;
    }
    void Reset() {
        DestroyRaster(raster_);
        raster_ = nullptr;
    }
    // Hands the raster held over to the caller, who destroys it.
    Raster* Release() {
        Raster* const raster = raster_;
        raster_ = nullptr;
        return raster;
    }
    Raster* get() const { return raster_; }
    Raster& operator*() const { return *raster_; }
    Raster* operator->() const { return raster_; }

private:
    Raster* raster_ = nullptr;
};

void InitRasterView(Raster& view, int32_t channels, int32_t channelBytes);
// base addresses pixel (rect.left, rect.top); rowBytes is the row distance.
int AttachRasterView(Raster& view, const PixelRect& rect, void* base, int32_t rowBytes);
void ReleaseRasterView(Raster& view);
// Rows [top, bottom) of raster, clipped to its bounds, as a raster that
// shares its row table and pixels: nothing is allocated and nothing is
// released. Work on disjoint slices of one raster can run on several threads.
Raster RowSlice(const Raster& raster, int32_t top, int32_t bottom);
// Relabels the pixel at (x, y) as (x + dx, y + dy); no pixel moves.
void ShiftRasterView(Raster& view, int32_t dx, int32_t dy);

ptrdiff_t RowStride(const Raster& raster);

}  // namespace zoka
