#include "raster/blur.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "host/module_memory.h"
#include "host/result_codes.h"
#include "raster/fft.h"
#include "raster/numeric.h"

namespace zoka {

namespace {

// Scratch memory of one pass, released with it.
class Scratch {
public:
    Scratch() = default;
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    ~Scratch() {
        for (void* block : blocks_) {
            if (block != nullptr) HostFree(block);
        }
    }
    template <typename T>
    T* Take(size_t count) {
        void* block = HostAlloc(sizeof(T) * count);
        blocks_[used_++] = block;
        return static_cast<T*>(block);
    }

private:
    void* blocks_[6] = {};
    size_t used_ = 0;
};

// One line of a raster: a channel of one row or one column.
struct Line {
    uint8_t* first;
    ptrdiff_t step;  // bytes between samples
    int32_t length;
};

void ReadLine(const Line& line, int32_t channelBytes, double* out) {
    const uint8_t* p = line.first;
    if (channelBytes == 1) {
        for (int32_t i = 0; i < line.length; ++i, p += line.step) out[i] = *p;
    } else {
        for (int32_t i = 0; i < line.length; ++i, p += line.step) std::memcpy(&out[i], p, 8);
    }
}

// Into bytes truncated toward zero, without clamping: the kernels are
// non-negative and sum to 1.
void WriteLine(const Line& line, int32_t channelBytes, const double* in) {
    uint8_t* p = line.first;
    if (channelBytes == 1) {
        for (int32_t i = 0; i < line.length; ++i, p += line.step) {
            *p = static_cast<uint8_t>(TruncToInt32(in[i]));
        }
    } else {
        for (int32_t i = 0; i < line.length; ++i, p += line.step) std::memcpy(p, &in[i], 8);
    }
}

// Runs filter over every line of a pass: each channel of every row (rows
// true) or of every column, polling abortCheck before each line.
template <typename Filter>
int ForEachLine(const Raster& raster, bool rows, AbortCheck abortCheck, Filter filter) {
    const PixelRect& b = raster.bounds;
    const int32_t pixel = raster.PixelBytes();
    const int32_t lines = rows ? b.Height() : b.Width();
    const int32_t length = rows ? b.Width() : b.Height();
    if (lines <= 0 || length <= 0) return kOk;
    for (int32_t c = 0; c < raster.channels; ++c) {
        for (int32_t l = 0; l < lines; ++l) {
            if (abortCheck(nullptr) != 0) return kCancelled;
            uint8_t* first = rows ? raster.Pixel(b.left, b.top + l) : raster.Pixel(b.left + l, b.top);
            const Line line{first + c * raster.channelBytes, rows ? pixel : RowStride(raster), length};
            filter(line);
        }
    }
    return kOk;
}

int BlurDirect(const Raster& raster, double r, AbortCheck abortCheck) {
    const int32_t taps = HalfKernelTaps(r);
    const int32_t longest = std::max(raster.bounds.Width(), raster.bounds.Height());
    Scratch scratch;
    auto* w = scratch.Take<double>(static_cast<size_t>(taps));
    auto* in = scratch.Take<double>(static_cast<size_t>(longest));
    auto* out = scratch.Take<double>(static_cast<size_t>(longest));
    if (w == nullptr || in == nullptr || out == nullptr) return kOutOfMemory;
    GaussKernelHalf(r, taps, w);
    const auto filter = [&](const Line& line) {
        ReadLine(line, 8, in);
        ConvolveSymmetric(line.length, taps, w, in, out);
        WriteLine(line, 8, out);
    };
    const int result = ForEachLine(raster, true, abortCheck, filter);
    return result != kOk ? result : ForEachLine(raster, false, abortCheck, filter);
}

// The product table: row v holds v times the half kernel, built by additions.
void BuildProductTable(const double* w, int32_t taps, double* table) {
    std::fill_n(table, taps, 0.0);
    std::copy_n(w, taps, table + taps);
    for (int32_t v = 2; v < 256; ++v) {
        for (int32_t d = 0; d < taps; ++d) table[v * taps + d] = table[(v - 1) * taps + d] + w[d];
    }
}

// The symmetric sum of ConvolveSymmetric with each product w[d] v taken from
// the table's row v.
void ConvolveTable(int32_t length, int32_t taps, const double* table, const int32_t* in,
                   double* out) {
    for (int32_t i = 0; i < length; ++i) {
        double sum = table[in[i] * taps];
        for (int32_t d = 1; d < taps; ++d) {
            const double left = i - d >= 0 ? table[in[i - d] * taps + d] : 0.0;
            const double right = i + d < length ? table[in[i + d] * taps + d] : 0.0;
            sum += left + right;
        }
        out[i] = sum;
    }
}

int BlurTable(const Raster& raster, double r, AbortCheck abortCheck) {
    const int32_t taps = HalfKernelTaps(r);
    const int32_t longest = std::max(raster.bounds.Width(), raster.bounds.Height());
    Scratch scratch;
    auto* w = scratch.Take<double>(static_cast<size_t>(taps));
    auto* table = scratch.Take<double>(256 * static_cast<size_t>(taps));
    auto* in = scratch.Take<int32_t>(static_cast<size_t>(longest));
    auto* out = scratch.Take<double>(static_cast<size_t>(longest));
    if (w == nullptr || table == nullptr || in == nullptr || out == nullptr) return kOutOfMemory;
    GaussKernelHalf(r, taps, w);
    BuildProductTable(w, taps, table);
    const auto filter = [&](const Line& line) {
        const uint8_t* p = line.first;
        for (int32_t i = 0; i < line.length; ++i, p += line.step) in[i] = *p;
        ConvolveTable(line.length, taps, table, in, out);
        WriteLine(line, 1, out);
    };
    const int result = ForEachLine(raster, true, abortCheck, filter);
    return result != kOk ? result : ForEachLine(raster, false, abortCheck, filter);
}

// One pass of the FFT method: each line zero-extended to n samples and
// convolved circularly with the kernel through its spectrum.
int FftPass(const Raster& raster, bool rows, double r, AbortCheck abortCheck) {
    const int32_t length = rows ? raster.bounds.Width() : raster.bounds.Height();
    const int32_t n = FftSize(length + static_cast<int32_t>(std::ceil(r)));
    Scratch scratch;
    auto* kernel = scratch.Take<double>(static_cast<size_t>(n));
    auto* samples = scratch.Take<double>(static_cast<size_t>(n));
    auto* kernelSpectrum = scratch.Take<double>(2 * static_cast<size_t>(n));
    auto* spectrum = scratch.Take<double>(2 * static_cast<size_t>(n));
    if (kernel == nullptr || samples == nullptr || kernelSpectrum == nullptr || spectrum == nullptr) {
        return kOutOfMemory;
    }
    GaussKernelCircular(r, n, kernel);
    RealFftForward(1, n, kernel, kernelSpectrum);
    const int32_t bytes = raster.channelBytes;
    return ForEachLine(raster, rows, abortCheck, [&](const Line& line) {
        ReadLine(line, bytes, samples);
        std::fill(samples + line.length, samples + n, 0.0);
        RealFftForward(1, n, samples, spectrum);
        for (int32_t k = 0; k <= n / 2; ++k) {
            const double a = spectrum[2 * k], b = spectrum[2 * k + 1];
            const double c = kernelSpectrum[2 * k], d = kernelSpectrum[2 * k + 1];
            spectrum[2 * k] = a * c - b * d;
            spectrum[2 * k + 1] = a * d + b * c;
        }
        RealFftInverse(-1, n, spectrum, samples);
        WriteLine(line, bytes, samples);
    });
}

int BlurFft(const Raster& raster, double r, AbortCheck abortCheck) {
    const int result = FftPass(raster, true, r, abortCheck);
    return result != kOk ? result : FftPass(raster, false, r, abortCheck);
}

}  // namespace

double GaussWeight(double d, double r) {
    const double t = 2 * d / (r + 1);
    return std::exp(-(t * t));
}

int32_t HalfKernelTaps(double r) { return std::max(2, TruncToInt32(std::ceil(r))); }

void GaussKernelHalf(double r, int32_t taps, double* w) {
    double sum = 0;
    for (int32_t d = 1; d < taps; ++d) sum += GaussWeight(d, r);
    const double total = 1 + 2 * sum;
    for (int32_t d = 0; d < taps; ++d) w[d] = GaussWeight(d, r) / total;
}

void GaussKernelCircular(double r, int32_t n, double* k) {
    k[0] = 1;
    for (int32_t i = 1; i <= n / 2; ++i) k[i] = k[n - i] = GaussWeight(i, r);
    k[n / 2] = 0;
    double sum = 0;
    for (int32_t i = 0; i < n; ++i) sum += k[i];
    const double scale = (1.0 / n) / sum;
    for (int32_t i = 0; i < n; ++i) k[i] *= scale;
}

void ConvolveSymmetric(int32_t length, int32_t taps, const double* w, const double* in,
                       double* out) {
    for (int32_t i = 0; i < length; ++i) {
        double sum = w[0] * in[i];
        for (int32_t d = 1; d < taps; ++d) {
            const double left = i - d >= 0 ? in[i - d] : 0.0;
            const double right = i + d < length ? in[i + d] : 0.0;
            sum += w[d] * (left + right);
        }
        out[i] = sum;
    }
}

BlurMethod ChooseBlurMethod(int32_t channelBytes, double radius) {
    if (!(radius > 0)) return BlurMethod::kNone;
    if (channelBytes == 1) return radius <= 30 ? BlurMethod::kTable : BlurMethod::kFft;
    if (channelBytes == 8) return radius <= 16 ? BlurMethod::kDirect : BlurMethod::kFft;
    return BlurMethod::kNone;
}

int BlurRaster(const Raster& raster, double radius, AbortCheck abortCheck) {
    switch (ChooseBlurMethod(raster.channelBytes, radius)) {
        case BlurMethod::kTable:
            return BlurTable(raster, radius, abortCheck);
        case BlurMethod::kDirect:
            return BlurDirect(raster, radius, abortCheck);
        case BlurMethod::kFft:
            return BlurFft(raster, radius, abortCheck);
        case BlurMethod::kNone:
            break;
    }
    return kOk;
}

}  // namespace zoka
