#include "raster/raster.h"

#include <algorithm>
#include <cstring>

#include "base/module_memory.h"
#include "base/result_codes.h"

namespace zoka {

namespace {

// Rows and columns of a rectangle; a reversed rectangle has none.
int32_t RowCount(const PixelRect& r) { return r.bottom > r.top ? r.bottom - r.top : 0; }
int32_t ColumnCount(const PixelRect& r) { return r.right > r.left ? r.right - r.left : 0; }

uint8_t** AllocRowTable(int32_t rows) {
    return static_cast<uint8_t**>(HostAlloc(sizeof(uint8_t*) * static_cast<size_t>(rows)));
}

void FillRowTable(Raster& raster, uint8_t* first, ptrdiff_t stride) {
    for (int32_t i = 0; i < raster.tableRows; ++i) raster.rowTable[i] = first + i * stride;
}

}  // namespace

int CreateRaster(const PixelRect& rect, int32_t channels, int32_t channelBytes, Raster*& raster) {
    raster = nullptr;
    const int32_t rows = RowCount(rect);
    const uint64_t stride = uint64_t(ColumnCount(rect)) * uint64_t(channels) * uint64_t(channelBytes);
    const uint64_t blockBytes = stride * uint64_t(rows);
    if (channels < 0 || channelBytes < 0 || blockBytes > kMaxBlockBytes) return kOutOfMemory;

    auto* header = static_cast<Raster*>(HostAlloc(sizeof(Raster)));
    if (header == nullptr) return kOutOfMemory;
    *header = Raster{rect, channels, channelBytes, nullptr, rows};
    header->rowTable = AllocRowTable(rows);
    if (header->rowTable == nullptr) {
        HostFree(header);
        return kOutOfMemory;
    }
    if (rows > 0) {
        auto* block = static_cast<uint8_t*>(HostAlloc(static_cast<size_t>(blockBytes)));
        if (block == nullptr) {
            HostFree(header->rowTable);
            HostFree(header);
            return kOutOfMemory;
        }
        FillRowTable(*header, block, static_cast<ptrdiff_t>(stride));
    }
    raster = header;
    return kOk;
}

void DestroyRaster(Raster* raster) {
    if (raster == nullptr) return;
    if (raster->tableRows > 0) HostFree(raster->rowTable[0]);
    if (raster->rowTable != nullptr) HostFree(raster->rowTable);
    HostFree(raster);
}

void InitRasterView(Raster& view, int32_t channels, int32_t channelBytes) {
    view = Raster{PixelRect{}, channels, channelBytes, nullptr, 0};
}

int AttachRasterView(Raster& view, const PixelRect& rect, void* base, int32_t rowBytes) {
    if (IsEmpty(rect)) return kOk;
    const int32_t rows = RowCount(rect);
    if (view.rowTable == nullptr || view.tableRows != rows) {
        ReleaseRasterView(view);
        view.rowTable = AllocRowTable(rows);
        if (view.rowTable == nullptr) return kOutOfMemory;
        view.tableRows = rows;
    }
    view.bounds = rect;
    FillRowTable(view, static_cast<uint8_t*>(base), rowBytes);
    return kOk;
}

void ReleaseRasterView(Raster& view) {
    if (view.rowTable != nullptr) HostFree(view.rowTable);
    view.rowTable = nullptr;
    view.tableRows = 0;
    view.bounds = PixelRect{};
}

Raster RowSlice(const Raster& raster, int32_t top, int32_t bottom) {
    Raster slice = raster;
    slice.bounds.top = std::clamp(top, raster.bounds.top, raster.bounds.bottom);
    slice.bounds.bottom = std::clamp(bottom, slice.bounds.top, raster.bounds.bottom);
    slice.tableRows = slice.bounds.bottom - slice.bounds.top;
    if (slice.tableRows > 0) slice.rowTable = raster.rowTable + (slice.bounds.top - raster.bounds.top);
    return slice;
}

void ShiftRasterView(Raster& view, int32_t dx, int32_t dy) { OffsetRect(view.bounds, dx, dy); }

ptrdiff_t RowStride(const Raster& raster) {
    if (raster.tableRows == 0) return 0;
    if (raster.tableRows == 1) return ptrdiff_t{ColumnCount(raster.bounds)} * raster.PixelBytes();
    return raster.rowTable[1] - raster.rowTable[0];
}

}  // namespace zoka
