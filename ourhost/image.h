// An 8-bit layer image in host order (alpha, red, green, blue), as the host
// hands layers to a module.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "interface/host_records.h"

namespace ourhost {

// The largest layer our host makes: 30000 pixels on a side, as compositing
// hosts allow, and 2^27 pixels (512 MB of 8-bit pixels) in all, so a frame
// and the module's working copies of it stay within a 32-bit host's memory.
inline constexpr int64_t kMaxImageSide = 30000;
inline constexpr int64_t kMaxImagePixels = int64_t{1} << 27;

// Whether a layer of this size is one our host can hold.
bool SizeAllowed(int64_t width, int64_t height);
// "the output would be WxH pixels; ..." for a size beyond the limits.
std::string SizeRefusal(const std::string& what, int64_t width, int64_t height);

// Allocates as std::allocator does but leaves new bytes as they come, so an
// image can be made without writing it first when all of it is written next.
template <typename T>
struct UnwrittenAllocator : std::allocator<T> {
    template <typename U>
    struct rebind {
        using other = UnwrittenAllocator<U>;
    };
    UnwrittenAllocator() = default;
    template <typename U>
    explicit UnwrittenAllocator(const UnwrittenAllocator<U>&) {}
    template <typename U>
    void construct(U* p) {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

using ImageBytes = std::vector<uint8_t, UnwrittenAllocator<uint8_t>>;

struct Pixel {
    uint8_t a, r, g, b;
    friend bool operator==(const Pixel&, const Pixel&) = default;
};

class Image {
public:
    Image() = default;
    Image(int32_t width, int32_t height, Pixel fill = Pixel{0, 0, 0, 0});
    // An image whose pixels are left unwritten, for one its maker writes in
    // full before anyone reads it.
    static Image Unwritten(int32_t width, int32_t height);

    int32_t Width() const { return width_; }
    int32_t Height() const { return height_; }
    int32_t RowBytes() const { return width_ * 4; }
    bool Empty() const { return width_ == 0 || height_ == 0; }

    Pixel At(int32_t x, int32_t y) const;
    void Set(int32_t x, int32_t y, Pixel p);
    uint8_t* Data() { return bytes_.data(); }
    const uint8_t* Data() const { return bytes_.data(); }
    const ImageBytes& Bytes() const { return bytes_; }

    // A layer record over these pixels (no pixels: null data). The module
    // writes only through the output layer it is given.
    HostLayer Layer() const;

    // 1/factor of the size: each pixel the mean of its factor x factor block
    // (weighted by alpha for the colour), as the host makes a draft layer.
    Image Shrunk(int32_t factor) const;

    friend bool operator==(const Image&, const Image&) = default;

private:
    int32_t width_ = 0;
    int32_t height_ = 0;
    ImageBytes bytes_;
};

// Copies the overlap of source into destination at the top-left corner and
// clears the rest of destination to transparent.
void CopyWhole(const HostLayer& source, HostLayer& destination);

}  // namespace ourhost
