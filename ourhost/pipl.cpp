#include "ourhost/pipl.h"

#include <algorithm>
#include <cstring>

namespace ourhost {

namespace {

class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool Has(size_t n) const { return size_ - pos_ >= n; }
    bool Int16(int16_t& v) { return Take(&v, sizeof v); }
    bool Int32(int32_t& v) { return Take(&v, sizeof v); }
    // A four-character code stored byte-reversed.
    bool Code(std::string& code) {
        if (!Has(4)) return false;
        code.assign(4, ' ');
        for (int i = 0; i < 4; ++i) code[3 - i] = static_cast<char>(data_[pos_ + i]);
        pos_ += 4;
        return true;
    }
    bool Span(size_t n, const uint8_t*& p) {
        if (!Has(n)) return false;
        p = data_ + pos_;
        pos_ += n;
        return true;
    }

private:
    bool Take(void* out, size_t n) {
        if (!Has(n)) return false;
        std::memcpy(out, data_ + pos_, n);
        pos_ += n;
        return true;
    }
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

std::string LengthPrefixed(const uint8_t* p, size_t n) {
    if (n == 0) return {};
    const size_t length = std::min<size_t>(p[0], n - 1);
    return std::string(reinterpret_cast<const char*>(p + 1), length);
}

std::string ZeroTerminated(const uint8_t* p, size_t n) {
    const auto* end = static_cast<const uint8_t*>(std::memchr(p, 0, n));
    return std::string(reinterpret_cast<const char*>(p), end ? size_t(end - p) : n);
}

int32_t Word(const uint8_t* p, size_t n) {
    int32_t v = 0;
    std::memcpy(&v, p, std::min<size_t>(n, 4));
    return v;
}

void Apply(EffectDescriptor& d, const std::string& key, const uint8_t* p, size_t n) {
    if (key == "kind" && n >= 4) {
        d.kind.assign(4, ' ');
        for (int i = 0; i < 4; ++i) d.kind[3 - i] = static_cast<char>(p[i]);
    } else if (key == "name") {
        d.name = LengthPrefixed(p, n);
    } else if (key == "catg") {
        d.category = LengthPrefixed(p, n);
    } else if (key == "wx86") {
        d.entryName = ZeroTerminated(p, n);
    } else if (key == "ePVR") {
        d.pluginVersion = Word(p, n);
    } else if (key == "eSVR") {
        d.specVersion = Word(p, n);
    } else if (key == "eVER") {
        d.version = static_cast<uint32_t>(Word(p, n));
    } else if (key == "eGLO") {
        d.globalFlags = Word(p, n);
    } else if (key == "eMNA") {
        d.matchName = LengthPrefixed(p, n);
    }
}

}  // namespace

std::optional<EffectDescriptor> ParsePipl(const uint8_t* data, size_t size) {
    Reader r(data, size);
    int16_t format = 0;
    int32_t version = 0;
    int32_t count = 0;
    if (!r.Int16(format) || !r.Int32(version) || !r.Int32(count) || format != 1 || count < 0) {
        return std::nullopt;
    }
    EffectDescriptor d;
    for (int32_t i = 0; i < count; ++i) {
        std::string vendor, key;
        int32_t id = 0, length = 0;
        const uint8_t* p = nullptr;
        if (!r.Code(vendor) || !r.Code(key) || !r.Int32(id) || !r.Int32(length) || length < 0 ||
            !r.Span(static_cast<size_t>(length), p)) {
            return std::nullopt;
        }
        if (vendor == "8BIM") Apply(d, key, p, static_cast<size_t>(length));
    }
    if (d.kind != "eFKT" || d.entryName.empty()) return std::nullopt;
    d.bytes.assign(data, data + size);
    return d;
}

}  // namespace ourhost
