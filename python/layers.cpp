#include "python/layers.h"

#include <bit>
#include <cstring>

#include "images/samples.h"

namespace zoka_python {

namespace {

using zoka_images::ByteFromFraction;
using zoka_images::ByteFromWide;

// A pixel as one word in memory order: RGBA bytes read as a little-endian
// word are ARGB's rotated by a byte.
static_assert(std::endian::native == std::endian::little, "pixels are reordered as little-endian words");

uint32_t Word(const uint8_t* bytes) {
    uint32_t word;
    std::memcpy(&word, bytes, 4);
    return word;
}

void PutWord(uint8_t* bytes, uint32_t word) { std::memcpy(bytes, &word, 4); }

uint8_t Narrowed(uint8_t v) { return v; }
uint8_t Narrowed(uint16_t v) { return ByteFromWide(v); }
uint8_t Narrowed(float v) { return ByteFromFraction(v); }

void Widen(uint8_t v, uint8_t& out) { out = v; }
void Widen(uint8_t v, uint16_t& out) { out = zoka_images::WideFromByte(v); }
void Widen(uint8_t v, float& out) { out = zoka_images::FractionFromByte(v); }

template <class Sample>
void NarrowInto(const Sample* in, int channels, ourhost::Image& layer) {
    uint8_t* out = layer.Data();
    const size_t pixels = static_cast<size_t>(layer.Width()) * static_cast<size_t>(layer.Height());
    for (size_t i = 0; i < pixels; ++i, in += channels, out += 4) {
        out[0] = channels == 4 ? Narrowed(in[3]) : uint8_t{255};
        out[1] = Narrowed(in[0]);
        out[2] = Narrowed(in[1]);
        out[3] = Narrowed(in[2]);
    }
}

template <class Sample>
void WidenFrom(const ourhost::Image& layer, int channels, Sample* out) {
    const uint8_t* in = layer.Data();
    const size_t pixels = static_cast<size_t>(layer.Width()) * static_cast<size_t>(layer.Height());
    for (size_t i = 0; i < pixels; ++i, in += 4, out += channels) {
        Widen(in[1], out[0]);
        Widen(in[2], out[1]);
        Widen(in[3], out[2]);
        if (channels == 4) Widen(in[0], out[3]);
    }
}

}  // namespace

ourhost::Image LayerOfSamples(const void* samples, const ArrayLayout& layout) {
    ourhost::Image layer(layout.width, layout.height);
    if (layout.type == SampleType::kUint8 && layout.channels == 4) {
        const auto* in = static_cast<const uint8_t*>(samples);
        uint8_t* out = layer.Data();
        const size_t bytes = layer.Bytes().size();
        for (size_t i = 0; i < bytes; i += 4) PutWord(out + i, std::rotl(Word(in + i), 8));
        return layer;
    }
    switch (layout.type) {
        case SampleType::kUint8: NarrowInto(static_cast<const uint8_t*>(samples), layout.channels, layer); break;
        case SampleType::kUint16: NarrowInto(static_cast<const uint16_t*>(samples), layout.channels, layer); break;
        case SampleType::kFloat32: NarrowInto(static_cast<const float*>(samples), layout.channels, layer); break;
    }
    return layer;
}

void SamplesOfLayer(const ourhost::Image& layer, const ArrayLayout& layout, void* samples) {
    switch (layout.type) {
        case SampleType::kUint8: WidenFrom(layer, layout.channels, static_cast<uint8_t*>(samples)); break;
        case SampleType::kUint16: WidenFrom(layer, layout.channels, static_cast<uint16_t*>(samples)); break;
        case SampleType::kFloat32: WidenFrom(layer, layout.channels, static_cast<float*>(samples)); break;
    }
}

void ReorderToRgba(ourhost::Image& layer) {
    uint8_t* bytes = layer.Data();
    const size_t size = layer.Bytes().size();
    for (size_t i = 0; i < size; i += 4) PutWord(bytes + i, std::rotr(Word(bytes + i), 8));
}

}  // namespace zoka_python
