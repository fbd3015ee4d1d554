#include "images/exif_block.h"

#include <cstring>

namespace zoka_images {

namespace {

constexpr size_t kHeaderBytes = 8;
constexpr size_t kEntryBytes = 12;
constexpr uint32_t kExifDirectoryTag = 0x8769;
constexpr uint32_t kGpsDirectoryTag = 0x8825;

// EXIF's own tags (exposure, lens, dates of capture ... and the pointer to
// the interoperability directory) and GPS's, which some writers put in the
// first directory itself; everything else there describes the file.
bool IsExifTag(uint32_t tag) {
    return tag < 0x20 || tag == 0x829a || tag == 0x829d || (tag >= 0x8822 && tag <= 0x8832) ||
           (tag >= 0x9000 && tag <= 0xa4ff);
}

// Numbers in the block's own byte order.
struct BlockOrder {
    bool bigEndian = false;
    uint32_t Get(const uint8_t* p, int bytes) const {
        uint32_t v = 0;
        for (int i = 0; i < bytes; ++i) v |= uint32_t{p[bigEndian ? bytes - 1 - i : i]} << (8 * i);
        return v;
    }
    void Put(uint8_t* p, uint32_t v, int bytes) const {
        for (int i = 0; i < bytes; ++i) p[bigEndian ? bytes - 1 - i : i] = static_cast<uint8_t>(v >> (8 * i));
    }
};

}  // namespace

std::vector<uint8_t> ExifOfTheImage(const uint8_t* block, size_t size) {
    if (size < kHeaderBytes) return {};
    // TIFF's 42 follows the byte order's two letters; some writers put it
    // in their own order.
    BlockOrder order;
    order.bigEndian = block[0] == 'M';
    if (std::memcmp(block, order.bigEndian ? "MM" : "II", 2) != 0 ||
        (order.Get(block + 2, 2) != 42 && order.Get(block + 2, 2) != 42 << 8)) {
        return {};
    }
    const size_t first = order.Get(block + 4, 4);
    if (first < kHeaderBytes || first > size || size - first < 2) return {};
    const size_t count = order.Get(block + first, 2);
    if ((size - first - 2) / kEntryBytes < count || size - first - 2 - count * kEntryBytes < 4) return {};
    std::vector<uint8_t> copy(block, block + size);
    uint8_t* into = copy.data() + first + 2;
    uint16_t kept = 0;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* entry = block + first + 2 + i * kEntryBytes;
        const uint32_t tag = order.Get(entry, 2);
        const bool pointer = tag == kExifDirectoryTag || tag == kGpsDirectoryTag;
        if (pointer ? order.Get(entry + 4, 4) != 1 || order.Get(entry + 8, 4) >= size : !IsExifTag(tag)) continue;
        std::memmove(into, entry, kEntryBytes);
        into += kEntryBytes;
        ++kept;
    }
    if (kept == 0) return {};
    order.Put(copy.data() + first, kept, 2);
    order.Put(into, 0, 4);  // no further directory: the thumbnail's is left behind
    return copy;
}

}  // namespace zoka_images
