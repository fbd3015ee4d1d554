#include "raster/pixel_ops.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "base/result_codes.h"
#include "raster/sampler.h"

namespace zoka {

static_assert(std::endian::native == std::endian::little, "pixel rotation assumes little endian");

namespace {

template <typename PixelFn>
void ForEachPixel32(const Raster& raster, PixelFn fn) {
    const int32_t width = raster.bounds.Width();
    for (int32_t y = raster.bounds.top; y < raster.bounds.bottom; ++y) {
        uint8_t* p = raster.Row(y);
        for (int32_t x = 0; x < width; ++x, p += 4) {
            uint32_t v;
            std::memcpy(&v, p, 4);
            v = fn(v);
            std::memcpy(p, &v, 4);
        }
    }
}

// Byte `offset` of each of count four-byte pixels, read as whole words so
// the loop vectorises.
void ExtractByteOf32(const uint8_t* in, uint8_t* out, int32_t count, int32_t offset) {
    const int shift = 8 * offset;
    for (int32_t i = 0; i < count; ++i, in += 4) {
        uint32_t v;
        std::memcpy(&v, in, 4);
        out[i] = static_cast<uint8_t>(v >> shift);
    }
}

// Fills a one-byte mask over its bounds with byte `offset` of each source
// pixel, 0 outside the source.
void CopyByteInto(const Raster& source, int32_t offset, const Raster& mask) {
    PixelRect overlap;
    IntersectRect(mask.bounds, source, overlap);
    const int32_t step = source.PixelBytes();
    for (int32_t y = mask.bounds.top; y < mask.bounds.bottom; ++y) {
        uint8_t* out = mask.Row(y);
        std::memset(out, 0, static_cast<size_t>(mask.bounds.Width()));
        if (y < overlap.top || y >= overlap.bottom) continue;
        const uint8_t* in = source.Pixel(overlap.left, y);
        uint8_t* row = out + (overlap.left - mask.bounds.left);
        if (step == 4) {
            ExtractByteOf32(in, row, overlap.Width(), offset);
            continue;
        }
        in += offset;
        for (int32_t x = overlap.left; x < overlap.right; ++x, in += step) *row++ = *in;
    }
}

// Creates a one-byte mask over rect holding byte `offset` of each source pixel.
int ExtractByte(const PixelRect& rect, const Raster& source, int32_t offset, Raster*& mask) {
    const int result = CreateRaster(rect, 1, 1, mask);
    if (result != kOk) return result;
    CopyByteInto(source, offset, *mask);
    return kOk;
}

// Selection weight: 255 counts as 256 so that a full mask keeps the result.
inline uint32_t MaskWeight(uint32_t m) { return m > 127 ? m + 1 : m; }

inline void MixPixel(const uint8_t* source, uint8_t* destination, int32_t bytes, uint32_t w) {
    for (int32_t c = 0; c < bytes; ++c) {
        destination[c] = static_cast<uint8_t>(((256 - w) * source[c] + w * destination[c]) >> 8);
    }
}

PixelRect BlendArea(const Raster& source, const Raster& destination, const Raster& mask) {
    PixelRect area;
    IntersectRect(mask.bounds, destination.bounds, area);
    IntersectRect(area, source.bounds, area);
    return area;
}

// The index of the first non-zero byte of count, or count; whole words first,
// as an empty margin is most of what a silhouette's rows hold.
int32_t FirstNonZero(const uint8_t* bytes, int32_t count) {
    int32_t i = 0;
    for (uint64_t word = 0; i + 8 <= count; i += 8) {
        std::memcpy(&word, bytes + i, 8);
        if (word != 0) break;
    }
    while (i < count && bytes[i] == 0) ++i;
    return i;
}

// One past the last non-zero byte of count, which holds one.
int32_t EndOfNonZero(const uint8_t* bytes, int32_t count) {
    int32_t end = count;
    for (uint64_t word = 0; end >= 8; end -= 8) {
        std::memcpy(&word, bytes + end - 8, 8);
        if (word != 0) break;
    }
    while (bytes[end - 1] == 0) --end;
    return end;
}

}  // namespace

void CopyRasterOverlap(const Raster& source, const Raster& destination) {
    PixelRect overlap;
    IntersectRect(source.bounds, destination.bounds, overlap);
    const int32_t bytes = std::min(source.channels, destination.channels);
    const int32_t inStep = source.PixelBytes();
    const int32_t outStep = destination.PixelBytes();
    for (int32_t y = overlap.top; y < overlap.bottom; ++y) {
        const uint8_t* in = source.Pixel(overlap.left, y);
        uint8_t* out = destination.Pixel(overlap.left, y);
        if (bytes == inStep && bytes == outStep) {
            std::memcpy(out, in, static_cast<size_t>(overlap.Width()) * static_cast<size_t>(bytes));
            continue;
        }
        for (int32_t x = overlap.left; x < overlap.right; ++x, in += inStep, out += outStep) {
            std::memcpy(out, in, static_cast<size_t>(bytes));
        }
    }
}

void FillRectPixels(const Raster& raster, const PixelRect& rect, const uint8_t (&pixel)[4]) {
    PixelRect area;
    IntersectRect(rect, raster, area);
    for (int32_t y = area.top; y < area.bottom; ++y) {
        uint8_t* p = raster.Pixel(area.left, y);
        for (int32_t x = area.left; x < area.right; ++x, p += 4) std::memcpy(p, pixel, 4);
    }
}

void FillRaster32(const Raster& raster, uint32_t value) {
    ForEachPixel32(raster, [value](uint32_t) { return value; });
}

void HostToWorkOrder(const Raster& raster) {
    ForEachPixel32(raster, [](uint32_t v) { return std::rotr(v, 8); });
}

void WorkToHostOrder(const Raster& raster) {
    ForEachPixel32(raster, [](uint32_t v) { return std::rotl(v, 8); });
}

int ExtractAlpha(const PixelRect& rect, const Raster& source, Raster*& mask) {
    return ExtractByte(rect, source, source.PixelBytes() - 1, mask);
}

int ExtractSelection(const PixelRect& rect, const Raster& view, Raster*& mask) {
    return ExtractByte(rect, view, 0, mask);
}

void CopyAlphaInto(const Raster& source, const Raster& mask) {
    CopyByteInto(source, source.PixelBytes() - 1, mask);
}

void CopySelectionInto(const Raster& view, const Raster& mask) { CopyByteInto(view, 0, mask); }

int CropToContent(const Raster& source, Raster*& mask) {
    const PixelRect& b = source.bounds;
    PixelRect content{b.top, b.left, b.top, b.left};
    bool found = false;
    const int32_t width = b.Width();
    for (int32_t y = b.top; y < b.bottom; ++y) {
        const uint8_t* row = source.Row(y);
        const int32_t first = FirstNonZero(row, width);
        if (first == width) continue;
        const int32_t left = b.left + first;
        const int32_t right = b.left + first + EndOfNonZero(row + first, width - first);
        if (!found) {
            content = PixelRect{y, left, y + 1, right};
            found = true;
        }
        content.left = std::min(content.left, left);
        content.bottom = y + 1;
        content.right = std::max(content.right, right);
    }
    const int result = CreateRaster(content, 1, 1, mask);
    if (result != kOk) return result;
    CopyRasterOverlap(source, *mask);
    return kOk;
}

void BlendByMask(const Raster& source, const Raster& destination, const Raster& mask) {
    const PixelRect area = BlendArea(source, destination, mask);
    const int32_t bytes = destination.PixelBytes();
    for (int32_t y = area.top; y < area.bottom; ++y) {
        const uint8_t* m = mask.Pixel(area.left, y);
        const uint8_t* in = source.Pixel(area.left, y);
        uint8_t* out = destination.Pixel(area.left, y);
        for (int32_t x = area.left; x < area.right; ++x, in += bytes, out += bytes) {
            const uint8_t weight = *m++;
            // Full weight keeps the result as it is; none restores the input.
            if (weight == 255) continue;
            if (weight == 0) {
                std::memcpy(out, in, static_cast<size_t>(bytes));
                continue;
            }
            MixPixel(in, out, bytes, MaskWeight(weight));
        }
    }
}

void BlendByMaskShifted(const Raster& source, const Raster& destination, const Raster& mask,
                        double dx, double dy) {
    if (dx == 0 && dy == 0) {
        BlendByMask(source, destination, mask);
        return;
    }
    const PixelRect area = BlendArea(source, destination, mask);
    const int32_t bytes = destination.PixelBytes();
    for (int32_t y = area.top; y < area.bottom; ++y) {
        const uint8_t* in = source.Pixel(area.left, y);
        uint8_t* out = destination.Pixel(area.left, y);
        for (int32_t x = area.left; x < area.right; ++x, in += bytes, out += bytes) {
            const int m = SampleBilinearClamped(mask, x - dx, y - dy);
            MixPixel(in, out, bytes, MaskWeight(static_cast<uint32_t>(m)));
        }
    }
}

}  // namespace zoka
