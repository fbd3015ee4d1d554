#include "resources/pipl_builder.h"

#include <algorithm>

namespace zoka {

namespace {

class PiplWriter {
public:
    void Int16(int16_t v) { Bytes(&v, sizeof v); }
    void Int32(int32_t v) { Bytes(&v, sizeof v); }
    void Bytes(const void* data, size_t n) {
        const auto* p = static_cast<const uint8_t*>(data);
        out_.insert(out_.end(), p, p + n);
    }
    // A four-character code stored byte-reversed, as the host reads it.
    void Code(const char (&code)[5]) {
        for (int i = 3; i >= 0; --i) out_.push_back(static_cast<uint8_t>(code[i]));
    }
    // One property: vendor, key, id 0, then the data padded to 4 bytes.
    void Property(const char (&key)[5], const std::vector<uint8_t>& data) {
        Code("8BIM");
        Code(key);
        Int32(0);
        std::vector<uint8_t> padded = data;
        padded.resize((data.size() + 3) / 4 * 4, 0);
        Int32(static_cast<int32_t>(padded.size()));
        Bytes(padded.data(), padded.size());
    }
    std::vector<uint8_t> Take() { return std::move(out_); }

private:
    std::vector<uint8_t> out_;
};

std::vector<uint8_t> Word32(int32_t v) {
    const auto u = static_cast<uint32_t>(v);
    return {uint8_t(u), uint8_t(u >> 8), uint8_t(u >> 16), uint8_t(u >> 24)};
}

std::vector<uint8_t> LengthPrefixed(const std::string& text) {
    const size_t length = std::min<size_t>(text.size(), 255);
    std::vector<uint8_t> data;
    data.reserve(length + 1);
    data.push_back(static_cast<uint8_t>(length));
    for (size_t i = 0; i < length; ++i) data.push_back(static_cast<uint8_t>(text[i]));
    return data;
}

std::vector<uint8_t> ZeroTerminated(const std::string& text) {
    std::vector<uint8_t> data(text.begin(), text.end());
    data.push_back(0);
    return data;
}

}  // namespace

std::vector<uint8_t> BuildPipl(const PiplFields& fields) {
    PiplWriter w;
    w.Int16(1);
    w.Int32(0);
    w.Int32(11);
    w.Property("kind", {'T', 'K', 'F', 'e'});
    w.Property("name", LengthPrefixed(fields.name));
    w.Property("catg", LengthPrefixed(kMenuCategory));
    w.Property("wx86", ZeroTerminated(fields.entryName));
    w.Property("ePVR", Word32(2));
    w.Property("eSVR", Word32(11));
    w.Property("eVER", Word32(static_cast<int32_t>(fields.version)));
    w.Property("eINF", {0, 0});
    w.Property("eGLO", Word32(fields.globalFlags));
    w.Property("eMNA", LengthPrefixed(kMatchNamePrefix + fields.name));
    w.Property("aeFL", Word32(0));
    return w.Take();
}

}  // namespace zoka
