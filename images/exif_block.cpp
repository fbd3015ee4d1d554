#include "images/exif_block.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <utility>

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

constexpr uint32_t kInteroperabilityTag = 0xa005;
// Directories and values beyond these are taken for damage.
constexpr size_t kMostEntries = 1000;
constexpr size_t kLargestValue = 1 << 16;
// What one JPEG marker can carry.
constexpr size_t kLargestBlock = 65000;

// The bytes of one value of each TIFF field type (1 BYTE ... 13 IFD); 0
// for types unknown.
size_t TypeBytes(uint32_t type) {
    constexpr size_t kBytes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
    return type < sizeof kBytes / sizeof kBytes[0] ? kBytes[type] : 0;
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

// Appends a directory of these entries (12 bytes each, their values at the
// offsets read takes) to block, with the values too large for their entries
// after it, offsets counted from base; its place counted from base, or 0
// when no entry is left. The interoperability directory is left out.
uint32_t AppendDirectory(std::vector<uint8_t> entries, const ReadFileAt& read, const BlockOrder& order,
                         uint64_t base, std::vector<uint8_t>& block) {
    const size_t count = entries.size() / kEntryBytes;
    if (block.size() % 2 != 0) block.push_back(0);
    const size_t place = block.size();
    block.resize(block.size() + 2 + entries.size() + 4, 0);
    size_t kept = 0;
    for (size_t i = 0; i < count; ++i) {
        uint8_t* entry = entries.data() + i * kEntryBytes;
        const size_t bytes = TypeBytes(order.Get(entry + 2, 2)) * order.Get(entry + 4, 4);
        if (order.Get(entry, 2) == kInteroperabilityTag || bytes == 0 || bytes > kLargestValue) continue;
        if (bytes > 4) {
            std::vector<uint8_t> value(bytes);
            if (read(value.data(), bytes, order.Get(entry + 8, 4)) != bytes) continue;
            if (block.size() % 2 != 0) block.push_back(0);
            order.Put(entry + 8, static_cast<uint32_t>(base + block.size()), 4);
            block.insert(block.end(), value.begin(), value.end());
        }
        std::memcpy(block.data() + place + 2 + kept * kEntryBytes, entry, kEntryBytes);
        ++kept;
    }
    order.Put(block.data() + place, static_cast<uint32_t>(kept), 2);
    std::memmove(block.data() + place + 2 + kept * kEntryBytes, block.data() + place + 2 + count * kEntryBytes, 4);
    return kept > 0 ? static_cast<uint32_t>(base + place) : 0;
}

// The entries of the directory at offset, or none.
std::vector<uint8_t> EntriesAt(const ReadFileAt& read, const BlockOrder& order, uint64_t offset) {
    uint8_t countBytes[2];
    if (offset == 0 || read(countBytes, 2, offset) != 2) return {};
    const size_t count = order.Get(countBytes, 2);
    if (count > kMostEntries) return {};
    std::vector<uint8_t> entries(count * kEntryBytes);
    if (read(entries.data(), entries.size(), offset + 2) != entries.size()) return {};
    return entries;
}

ReadFileAt ReaderOf(const std::vector<uint8_t>& block) {
    return [&block](void* into, size_t size, uint64_t offset) -> size_t {
        if (offset > block.size() || block.size() - offset < size) return 0;
        std::memcpy(into, block.data() + offset, size);
        return size;
    };
}

// Entries sorted by tag, as TIFF readers expect them.
void SortEntries(std::vector<uint8_t>& entries, const BlockOrder& order) {
    std::vector<std::vector<uint8_t>> each;
    for (size_t at = 0; at + kEntryBytes <= entries.size(); at += kEntryBytes) {
        each.emplace_back(entries.begin() + static_cast<std::ptrdiff_t>(at),
                          entries.begin() + static_cast<std::ptrdiff_t>(at + kEntryBytes));
    }
    std::stable_sort(each.begin(), each.end(), [&](const auto& a, const auto& b) {
        return order.Get(a.data(), 2) < order.Get(b.data(), 2);
    });
    entries.clear();
    for (const auto& entry : each) entries.insert(entries.end(), entry.begin(), entry.end());
}

}  // namespace

std::vector<uint8_t> ExifOfTiffFile(const ReadFileAt& read, bool bigEndian, uint64_t exif, uint64_t gps) {
    const BlockOrder order{bigEndian};
    // The header, and a first directory of the two pointers.
    std::vector<uint8_t> block(kHeaderBytes + 2 + 2 * kEntryBytes + 4, 0);
    std::memcpy(block.data(), bigEndian ? "MM" : "II", 2);
    order.Put(block.data() + 2, 42, 2);
    order.Put(block.data() + 4, kHeaderBytes, 4);
    size_t pointers = 0;
    for (const auto& [tag, offset] : {std::pair{kExifDirectoryTag, exif}, std::pair{kGpsDirectoryTag, gps}}) {
        const uint32_t place = AppendDirectory(EntriesAt(read, order, offset), read, order, 0, block);
        if (place == 0) continue;
        uint8_t* entry = block.data() + kHeaderBytes + 2 + pointers * kEntryBytes;
        order.Put(entry, tag, 2);
        order.Put(entry + 2, 4, 2);  // LONG
        order.Put(entry + 4, 1, 4);
        order.Put(entry + 8, place, 4);
        ++pointers;
    }
    if (pointers == 0 || block.size() > kLargestBlock) return {};
    order.Put(block.data() + kHeaderBytes, static_cast<uint32_t>(pointers), 2);
    // The next directory's offset (none) follows the last pointer.
    std::memmove(block.data() + kHeaderBytes + 2 + pointers * kEntryBytes,
                 block.data() + kHeaderBytes + 2 + 2 * kEntryBytes, 4);
    return block;
}

bool ExifIsBigEndian(const std::vector<uint8_t>& block) { return !block.empty() && block[0] == 'M'; }

ExifDirectories TiffDirectoriesOfExif(const std::vector<uint8_t>& block, uint64_t base) {
    ExifDirectories directories;
    const BlockOrder order{ExifIsBigEndian(block)};
    const ReadFileAt read = ReaderOf(block);
    if (block.size() < kHeaderBytes) return directories;
    std::vector<uint8_t> exif, gps;
    const std::vector<uint8_t> first = EntriesAt(read, order, order.Get(block.data() + 4, 4));
    for (size_t at = 0; at + kEntryBytes <= first.size(); at += kEntryBytes) {
        const uint8_t* entry = first.data() + at;
        const uint32_t tag = order.Get(entry, 2);
        if (tag == kExifDirectoryTag || tag == kGpsDirectoryTag) {
            const std::vector<uint8_t> inner = EntriesAt(read, order, order.Get(entry + 8, 4));
            std::vector<uint8_t>& into = tag == kExifDirectoryTag ? exif : gps;
            into.insert(into.end(), inner.begin(), inner.end());
        } else if (IsExifTag(tag)) {
            std::vector<uint8_t>& into = tag < 0x20 ? gps : exif;
            into.insert(into.end(), entry, entry + kEntryBytes);
        }
    }
    SortEntries(exif, order);
    SortEntries(gps, order);
    directories.exif = exif.empty() ? 0 : AppendDirectory(exif, read, order, base, directories.bytes);
    directories.gps = gps.empty() ? 0 : AppendDirectory(gps, read, order, base, directories.bytes);
    return directories;
}

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
