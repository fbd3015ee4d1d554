#include "ourhost/image.h"

#include <algorithm>
#include <cstring>

namespace ourhost {

bool SizeAllowed(int64_t width, int64_t height) {
    return width >= 0 && height >= 0 && width <= kMaxImageSide && height <= kMaxImageSide &&
           width * height <= kMaxImagePixels;
}

std::string SizeRefusal(const std::string& what, int64_t width, int64_t height) {
    return what + " would be " + std::to_string(width) + "x" + std::to_string(height) +
           " pixels; layers go up to " + std::to_string(kMaxImageSide) + " pixels on a side and " +
           std::to_string(kMaxImagePixels) + " pixels in all";
}

Image::Image(int32_t width, int32_t height, Pixel fill)
    : width_(std::max(width, 0)), height_(std::max(height, 0)),
      bytes_(static_cast<size_t>(width_) * static_cast<size_t>(height_) * 4) {
    if (bytes_.empty()) return;
    if (fill == Pixel{0, 0, 0, 0}) {
        std::memset(bytes_.data(), 0, bytes_.size());
        return;
    }
    for (size_t i = 0; i < bytes_.size(); i += 4) std::memcpy(&bytes_[i], &fill, 4);
}

Image Image::Unwritten(int32_t width, int32_t height) {
    Image image;
    image.width_ = std::max(width, 0);
    image.height_ = std::max(height, 0);
    image.bytes_.resize(static_cast<size_t>(image.width_) * static_cast<size_t>(image.height_) * 4);
    return image;
}

Pixel Image::At(int32_t x, int32_t y) const {
    Pixel p;
    std::memcpy(&p, &bytes_[(static_cast<size_t>(y) * width_ + x) * 4], 4);
    return p;
}

void Image::Set(int32_t x, int32_t y, Pixel p) {
    std::memcpy(&bytes_[(static_cast<size_t>(y) * width_ + x) * 4], &p, 4);
}

HostLayer Image::Layer() const {
    HostLayer layer{};
    layer.data = Empty() ? nullptr : const_cast<uint8_t*>(bytes_.data());
    layer.width = width_;
    layer.height = height_;
    layer.rowBytes = RowBytes();
    return layer;
}

Image Image::Shrunk(int32_t factor) const {
    if (factor <= 1) return *this;
    Image out((width_ + factor - 1) / factor, (height_ + factor - 1) / factor);
    for (int32_t y = 0; y < out.height_; ++y) {
        for (int32_t x = 0; x < out.width_; ++x) {
            uint64_t a = 0, r = 0, g = 0, b = 0, n = 0;
            for (int32_t sy = y * factor; sy < std::min(height_, (y + 1) * factor); ++sy) {
                for (int32_t sx = x * factor; sx < std::min(width_, (x + 1) * factor); ++sx) {
                    const Pixel p = At(sx, sy);
                    a += p.a;
                    r += uint64_t{p.r} * p.a;
                    g += uint64_t{p.g} * p.a;
                    b += uint64_t{p.b} * p.a;
                    ++n;
                }
            }
            const auto mean = [a](uint64_t sum) { return static_cast<uint8_t>(a ? sum / a : 0); };
            out.Set(x, y, Pixel{static_cast<uint8_t>(a / n), mean(r), mean(g), mean(b)});
        }
    }
    return out;
}

void CopyWhole(const HostLayer& source, HostLayer& destination) {
    if (destination.data == nullptr) return;
    auto* out = static_cast<uint8_t*>(destination.data);
    const auto* in = static_cast<const uint8_t*>(source.data);
    const int32_t rows = in ? std::min(source.height, destination.height) : 0;
    const int32_t columns = in ? std::min(source.width, destination.width) : 0;
    for (int32_t y = 0; y < destination.height; ++y) {
        uint8_t* row = out + static_cast<ptrdiff_t>(y) * destination.rowBytes;
        std::memset(row, 0, static_cast<size_t>(destination.width) * 4);
        if (y < rows) {
            std::memcpy(row, in + static_cast<ptrdiff_t>(y) * source.rowBytes,
                        static_cast<size_t>(columns) * 4);
        }
    }
}

}  // namespace ourhost
