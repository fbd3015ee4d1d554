#include "raster/blur.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <emmintrin.h>

#include "base/module_memory.h"
#include "base/result_codes.h"
#include "raster/fft.h"
#include "raster/lanes.h"
#include "raster/numeric.h"
#include "raster/pixel_ops.h"

namespace zoka {

namespace {

// Scratch memory of one pass, released with it.
class Scratch {
public:
    // null when the memory cannot be had.
    template <typename T>
    T* Take(size_t count) {
        ModuleBuffer<uint8_t>& block = blocks_[used_++];
        if (count > kMaxBlockBytes / sizeof(T) || block.Allocate(sizeof(T) * count) != kOk) {
            return nullptr;
        }
        return reinterpret_cast<T*>(block.get());
    }
    // Aligned for the widest vector lanes.
    double* TakeAligned(size_t count) {
        auto* block = Take<double>(count + kAlignDoubles);
        if (block == nullptr) return nullptr;
        const auto address = reinterpret_cast<uintptr_t>(block);
        constexpr uintptr_t kAlign = kAlignDoubles * sizeof(double);
        return reinterpret_cast<double*>((address + kAlign - 1) & ~(kAlign - 1));
    }
    // The doubles from one part's aligned buffer of count to the next's:
    // count rounded up so that every part's buffer is aligned (one part
    // takes count alone).
    static size_t AlignedStride(size_t count, int parts) {
        return parts > 1 ? (count + kAlignDoubles - 1) / kAlignDoubles * kAlignDoubles : count;
    }

private:
    static constexpr size_t kAlignDoubles = 8;
    ModuleBuffer<uint8_t> blocks_[5];
    size_t used_ = 0;
};

// One line of a raster: a channel of one row or one column.
struct Line {
    uint8_t* first;
    ptrdiff_t step;  // bytes between samples
    int32_t length;
};

// The lines of a pass in the order they go through the lanes: each position
// (row or column) with its channels side by side.
struct PassLines {
    const Raster& raster;
    bool rows;
    int32_t positions;
    int32_t length;

    PassLines(const Raster& r, bool rowPass)
        : raster(r),
          rows(rowPass),
          positions(rowPass ? r.bounds.Height() : r.bounds.Width()),
          length(rowPass ? r.bounds.Width() : r.bounds.Height()) {}
    int32_t Count() const { return positions > 0 && length > 0 ? positions * raster.channels : 0; }
    Line At(int32_t index) const {
        const PixelRect& b = raster.bounds;
        const int32_t position = index / raster.channels;
        const int32_t channel = index % raster.channels;
        uint8_t* first = rows ? raster.Pixel(b.left, b.top + position)
                              : raster.Pixel(b.left + position, b.top);
        return Line{first + channel * raster.channelBytes,
                    rows ? raster.PixelBytes() : RowStride(raster), length};
    }
};

// The first sample of each line of a group; all share one step.
struct GroupLines {
    uint8_t* first[kTableLanes];
    ptrdiff_t step;
    int32_t length;
};

GroupLines Group(const PassLines& lines, int32_t first, int32_t group) {
    GroupLines g{};
    for (int32_t w = 0; w < group; ++w) {
        const Line line = lines.At(first + w);
        g.first[w] = line.first;
        g.step = line.step;
        g.length = line.length;
    }
    return g;
}

// Whether a full group of byte lines comes as whole pixels of four channels:
// lanes 4k..4k+3 are the channels of one pixel.
bool FourByteRuns(const PassLines& lines, int32_t group, int32_t width, const GroupLines& g) {
    if (lines.raster.channelBytes != 1 || lines.raster.channels != 4 || group != width || width % 4 != 0) {
        return false;
    }
    for (int32_t lane = 0; lane < width; ++lane) {
        if (g.first[lane] != g.first[lane - lane % 4] + lane % 4) return false;
    }
    return true;
}

// Whether a full group of byte lines lies side by side in memory, lane w at
// w bytes past lane 0: the column pass over whole pixels.
bool SideBySide(const PassLines& lines, int32_t group, int32_t width, const GroupLines& g) {
    if (lines.raster.channelBytes != 1 || group != width) return false;
    for (int32_t lane = 0; lane < width; ++lane) {
        if (g.first[lane] != g.first[0] + lane) return false;
    }
    return true;
}

// Swaps rows and columns of a block of 4 x 4 pixels.
void TransposePixels(__m128i& a, __m128i& b, __m128i& c, __m128i& d) {
    const __m128i ab = _mm_unpacklo_epi32(a, b), cd = _mm_unpacklo_epi32(c, d);
    const __m128i abHigh = _mm_unpackhi_epi32(a, b), cdHigh = _mm_unpackhi_epi32(c, d);
    a = _mm_unpacklo_epi64(ab, cd);
    b = _mm_unpackhi_epi64(ab, cd);
    c = _mm_unpacklo_epi64(abHigh, cdHigh);
    d = _mm_unpackhi_epi64(abHigh, cdHigh);
}

// Whether a full group of byte lines are rows of whole pixels of four
// channels, four rows at a time: lane 4r + c is channel c of row r.
bool PixelRows(const PassLines& lines, int32_t group, int32_t width, const GroupLines& g) {
    return lines.rows && g.step == 4 && width % 16 == 0 && FourByteRuns(lines, group, width, g);
}

// Moves the pixels of blocks of 4 positions x 4 rows at once, transposed:
// from (i, r) and to (i, r) give the addresses of the 4 pixels at positions
// i.. of row r, or of the rows r.. at position i. Returns the positions done
// (a multiple of 4).
template <typename From, typename To>
int32_t MovePixelBlocks(int32_t length, int32_t rows, From from, To to) {
    const int32_t blocks = length / 4 * 4;
    for (int32_t i = 0; i < blocks; i += 4) {
        for (int32_t r = 0; r < rows; r += 4) {
            __m128i v[4];
            for (int32_t k = 0; k < 4; ++k) v[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from(i, r, k)));
            TransposePixels(v[0], v[1], v[2], v[3]);
            for (int32_t k = 0; k < 4; ++k) _mm_storeu_si128(reinterpret_cast<__m128i*>(to(i, r, k)), v[k]);
        }
    }
    return blocks;
}

// Pixel i of row r to lanes 4r..4r+3 of position i, and back.
int32_t PixelRowsToLanes(const GroupLines& g, int32_t width, uint8_t* lanes) {
    return MovePixelBlocks(
        g.length, width / 4, [&](int32_t i, int32_t r, int32_t k) { return g.first[4 * (r + k)] + 4 * i; },
        [&](int32_t i, int32_t r, int32_t k) { return lanes + (i + k) * width + 4 * r; });
}
int32_t LanesToPixelRows(const GroupLines& g, int32_t width, const uint8_t* lanes) {
    return MovePixelBlocks(
        g.length, width / 4, [&](int32_t i, int32_t r, int32_t k) { return lanes + (i + k) * width + 4 * r; },
        [&](int32_t i, int32_t r, int32_t k) { return g.first[4 * (r + k)] + 4 * i; });
}

// Loads `group` lines from `first` into lanes: sample i of lane w at
// [(pad + i) * width + w]; the padding and unused lanes are zero.
template <typename T>
void LoadGroup(const PassLines& lines, int32_t first, int32_t group, int32_t width, int32_t pad,
               size_t samples, T* lanes) {
    const GroupLines g = Group(lines, first, group);
    const size_t w = static_cast<size_t>(width);
    std::fill(lanes, lanes + pad * w, T{});
    std::fill(lanes + (pad + static_cast<size_t>(g.length)) * w, lanes + samples * w, T{});
    T* out = lanes + pad * w;
    if constexpr (sizeof(T) == 1) {
        if (SideBySide(lines, group, width, g)) {
            for (int32_t i = 0; i < g.length; ++i, out += w) std::memcpy(out, g.first[0] + i * g.step, w);
            return;
        }
    }
    if (FourByteRuns(lines, group, width, g)) {
        // Whole pixels of four channels: blocks of 4 x 4 pixels transposed,
        // or one 32-bit read per pixel.
        int32_t i = 0;
        if constexpr (sizeof(T) == 1) {
            if (PixelRows(lines, group, width, g)) i = PixelRowsToLanes(g, width, out);
        }
        for (out += i * w; i < g.length; ++i, out += w) {
            const ptrdiff_t at = i * g.step;
            for (int32_t run = 0; run < width; run += 4) {
                if constexpr (sizeof(T) == 1) {
                    std::memcpy(out + run, g.first[run] + at, 4);
                } else {
                    for (int32_t b = 0; b < 4; ++b) out[run + b] = static_cast<T>(g.first[run][at + b]);
                }
            }
        }
        return;
    }
    for (int32_t i = 0; i < g.length; ++i, out += w) {
        const ptrdiff_t at = i * g.step;
        for (int32_t lane = 0; lane < group; ++lane) {
            if (lines.raster.channelBytes == 1) {
                out[lane] = static_cast<T>(g.first[lane][at]);
            } else {
                double v;
                std::memcpy(&v, g.first[lane] + at, 8);
                out[lane] = static_cast<T>(v);
            }
        }
        for (int32_t lane = group; lane < width; ++lane) out[lane] = T{};
    }
}

// Writes the results back: bytes truncated toward zero (a convex combination
// of bytes lies in 0..255, so the cast is exact and needs no clamp), doubles
// unchanged.
void StoreGroup(const PassLines& lines, int32_t first, int32_t group, int32_t width,
                const double* results) {
    const GroupLines g = Group(lines, first, group);
    const double* in = results;
    if (FourByteRuns(lines, group, width, g)) {
        for (int32_t i = 0; i < g.length; ++i, in += width) {
            const ptrdiff_t at = i * g.step;
            for (int32_t run = 0; run < width; run += 4) {
                uint32_t word = 0;
                for (int32_t b = 0; b < 4; ++b) {
                    word |= static_cast<uint32_t>(static_cast<int32_t>(in[run + b])) << (8 * b);
                }
                std::memcpy(g.first[run] + at, &word, 4);
            }
        }
        return;
    }
    for (int32_t i = 0; i < g.length; ++i, in += width) {
        const ptrdiff_t at = i * g.step;
        for (int32_t lane = 0; lane < group; ++lane) {
            if (lines.raster.channelBytes == 1) {
                g.first[lane][at] = static_cast<uint8_t>(static_cast<int32_t>(in[lane]));
            } else {
                std::memcpy(g.first[lane] + at, in + lane, 8);
            }
        }
    }
}

// Writes results that are already bytes back into their lines.
void StoreBytes(const PassLines& lines, int32_t first, int32_t group, int32_t width,
                const uint8_t* results) {
    const GroupLines g = Group(lines, first, group);
    const uint8_t* in = results;
    if (SideBySide(lines, group, width, g)) {
        for (int32_t i = 0; i < g.length; ++i, in += width) std::memcpy(g.first[0] + i * g.step, in, width);
        return;
    }
    const bool runs = FourByteRuns(lines, group, width, g);
    int32_t i = 0;
    if (PixelRows(lines, group, width, g)) i = LanesToPixelRows(g, width, in);
    for (in += i * width; i < g.length; ++i, in += width) {
        const ptrdiff_t at = i * g.step;
        if (runs) {
            for (int32_t run = 0; run < width; run += 4) std::memcpy(g.first[run] + at, in + run, 4);
        } else {
            for (int32_t lane = 0; lane < group; ++lane) g.first[lane][at] = in[lane];
        }
    }
}

// The most parts a pass is cut into, whatever the runner offers: each part
// has line buffers of its own, and together they stay within
// kPartsScratchBytes.
constexpr int kMaxPassParts = 16;
constexpr uint64_t kPartsScratchBytes = uint64_t{64} << 20;
// Fewer samples than this are blurred on the calling thread alone: waking
// other threads would cost more than they save.
constexpr int64_t kSamplesPerPart = 1 << 16;

// The parts a blur of raster is cut into for runner, each part holding
// bytesPerPart of line buffers.
int BlurParts(const Raster& raster, const PartRunner& runner, uint64_t bytesPerPart) {
    const int64_t samples = int64_t{raster.bounds.Width()} * raster.bounds.Height() * raster.channels;
    if (runner.threads <= 1 || samples < 2 * kSamplesPerPart) return 1;
    const uint64_t fit = kPartsScratchBytes / std::max<uint64_t>(bytesPerPart, 1);
    const int64_t parts = std::min<int64_t>({runner.threads, kMaxPassParts, samples / kSamplesPerPart,
                                             static_cast<int64_t>(std::min<uint64_t>(fit, kMaxPassParts))});
    return static_cast<int>(std::max<int64_t>(parts, 1));
}

// The parts of a pass: how many, and through what they run.
struct PassSplit {
    const PartRunner& runner;
    int parts;
};

// Runs a pass group by group, polling abortCheck once for each line of a
// group before the group is touched. The groups are shared out in runs of
// consecutive groups, one run to each part, convolve(part, first, group)
// using the part's own buffers; a group's lines give the same results in
// whichever part they fall. A part that is told to stop leaves its other
// groups as they are; the others stop at their own next poll.
template <typename Convolve>
int ForEachGroup(const PassLines& lines, int32_t width, AbortCheck abortCheck, const PassSplit& split,
                 const Convolve& convolve) {
    const int64_t count = lines.Count();
    const int64_t groups = (count + width - 1) / width;
    const int parts = static_cast<int>(std::clamp<int64_t>(groups, 1, split.parts));
    int results[kMaxPassParts] = {};
    auto runPart = [&](int part) {
        for (int64_t g = groups * part / parts; g < groups * (part + 1) / parts; ++g) {
            const auto first = static_cast<int32_t>(g * width);
            const int32_t group = static_cast<int32_t>(std::min<int64_t>(width, count - first));
            for (int32_t w = 0; w < group; ++w) {
                if (abortCheck(nullptr) != 0) {
                    results[part] = kCancelled;
                    return;
                }
            }
            convolve(part, first, group);
        }
    };
    using RunPart = decltype(runPart);
    split.runner.Run(parts, PartTask{[](void* data, int part) { (*static_cast<RunPart*>(data))(part); },
                                     &runPart});
    for (int part = 0; part < parts; ++part) {
        if (results[part] != kOk) return results[part];
    }
    return kOk;
}

size_t Longest(const Raster& raster) {
    return static_cast<size_t>(std::max(raster.bounds.Width(), raster.bounds.Height()));
}

int BlurDirect(const Raster& raster, double r, AbortCheck abortCheck, const PartRunner& runner) {
    const LaneKernels lanes = WidestLaneKernels();
    const auto width = static_cast<size_t>(lanes.width);
    const int32_t taps = HalfKernelTaps(r);
    const size_t padded = Longest(raster) + 2 * static_cast<size_t>(taps - 1);
    const int parts = BlurParts(raster, runner, 8 * (uint64_t{padded} + Longest(raster)) * width);
    const size_t inStride = Scratch::AlignedStride(padded * width, parts);
    const size_t outStride = Scratch::AlignedStride(Longest(raster) * width, parts);
    Scratch scratch;
    auto* w = scratch.Take<double>(static_cast<size_t>(taps));
    double* in = scratch.TakeAligned(inStride * static_cast<size_t>(parts));
    double* out = scratch.TakeAligned(outStride * static_cast<size_t>(parts));
    if (w == nullptr || in == nullptr || out == nullptr) return kOutOfMemory;
    GaussKernelHalf(r, taps, w);
    const DirectConvolution convolution{taps, w};
    for (const bool rows : {true, false}) {
        const PassLines lines(raster, rows);
        const int result = ForEachGroup(lines, lanes.width, abortCheck, PassSplit{runner, parts},
                                        [&](int part, int32_t first, int32_t group) {
            double* partIn = in + inStride * static_cast<size_t>(part);
            double* partOut = out + outStride * static_cast<size_t>(part);
            LoadGroup(lines, first, group, lanes.width, taps - 1, padded, partIn);
            lanes.direct(convolution, lines.length, partIn, partOut);
            StoreGroup(lines, first, group, lanes.width, partOut);
        });
        if (result != kOk) return result;
    }
    return kOk;
}

// The product table, tap by tap: row v of tap d holds v w[d], built by
// additions from row v - 1.
void BuildProductTable(const double* w, int32_t taps, double* table) {
    for (int32_t d = 0; d < taps; ++d) {
        double* row = table + d * 256;
        row[0] = 0;
        row[1] = w[d];
        for (int32_t v = 2; v < 256; ++v) row[v] = row[v - 1] + w[d];
    }
}

// The result of a window of equal samples v, summed as any window is.
void BuildFlatTable(const double* table, int32_t taps, int32_t* flat) {
    for (int32_t v = 0; v < 256; ++v) {
        double sum = table[v];
        for (int32_t d = 1; d < taps; ++d) sum += table[d * 256 + v] + table[d * 256 + v];
        flat[v] = static_cast<int32_t>(sum);
    }
}

int BlurTable(const Raster& raster, double r, AbortCheck abortCheck, const PartRunner& runner) {
    const LaneKernels lanes = WidestLaneKernels();
    constexpr auto width = static_cast<size_t>(kTableLanes);
    const int32_t taps = HalfKernelTaps(r);
    const size_t padded = Longest(raster) + 2 * static_cast<size_t>(taps - 1);
    const size_t inStride = padded * width;
    const size_t outStride = Longest(raster) * width;
    const int parts = BlurParts(raster, runner, uint64_t{inStride} + outStride);
    Scratch scratch;
    auto* w = scratch.Take<double>(static_cast<size_t>(taps));
    // The flat table follows the scaled weights.
    auto* scaled = scratch.Take<int32_t>(static_cast<size_t>(taps) + 256);
    double* table = scratch.TakeAligned(256 * static_cast<size_t>(taps));
    auto* in = scratch.Take<uint8_t>(inStride * static_cast<size_t>(parts));
    auto* out = scratch.Take<uint8_t>(outStride * static_cast<size_t>(parts));
    if (w == nullptr || scaled == nullptr || table == nullptr || in == nullptr || out == nullptr) {
        return kOutOfMemory;
    }
    int32_t* flat = scaled + taps;
    GaussKernelHalf(r, taps, w);
    BuildProductTable(w, taps, table);
    BuildFlatTable(table, taps, flat);
    const TableConvolution convolution{taps, table, flat, scaled, ScaleTableKernel(w, taps, scaled)};
    for (const bool rows : {true, false}) {
        const PassLines lines(raster, rows);
        const int result = ForEachGroup(lines, kTableLanes, abortCheck, PassSplit{runner, parts},
                                        [&](int part, int32_t first, int32_t group) {
            uint8_t* partIn = in + inStride * static_cast<size_t>(part);
            uint8_t* partOut = out + outStride * static_cast<size_t>(part);
            LoadGroup(lines, first, group, kTableLanes, taps - 1, padded, partIn);
            lanes.table(convolution, lines.length, partIn, partOut);
            StoreBytes(lines, first, group, kTableLanes, partOut);
        });
        if (result != kOk) return result;
    }
    return kOk;
}

// The longest transform: twice the largest divisor of 720720.
constexpr int64_t kMaxFftLength = 2 * 720720;

// A line's length plus the kernel's reach, which its transform must hold.
int64_t FftReach(int32_t length, double r) { return int64_t{length} + TruncToInt32(std::ceil(r)); }

// One pass of the FFT method: each line zero-extended to n samples and
// convolved circularly with the kernel through its spectrum.
int FftPass(const Raster& raster, bool rows, double r, AbortCheck abortCheck, const PartRunner& runner) {
    const PassLines lines(raster, rows);
    if (lines.Count() == 0) return kOk;
    const LaneKernels lanes = WidestLaneKernels();
    const auto width = static_cast<size_t>(lanes.width);
    const int32_t n = FftSize(static_cast<int32_t>(FftReach(lines.length, r)));
    const int parts = BlurParts(raster, runner, 8 * (2 * uint64_t{static_cast<uint32_t>(n)} + 2) * width);
    const size_t dataStride = Scratch::AlignedStride(static_cast<size_t>(n) * width, parts);
    const size_t spectrumStride = Scratch::AlignedStride((static_cast<size_t>(n) + 2) * width, parts);
    Scratch scratch;
    auto* kernel = scratch.Take<double>(static_cast<size_t>(n));
    auto* kernelSpectrum = scratch.Take<double>(static_cast<size_t>(n) + 2);
    double* data = scratch.TakeAligned(dataStride * static_cast<size_t>(parts));
    double* spectrum = scratch.TakeAligned(spectrumStride * static_cast<size_t>(parts));
    if (kernel == nullptr || kernelSpectrum == nullptr || data == nullptr || spectrum == nullptr) {
        return kOutOfMemory;
    }
    GaussKernelCircular(r, n, kernel);
    RealFftForward(1, n, kernel, kernelSpectrum);
    FftPlan forward, inverse;
    LineConvolution convolution;
    MakeLineConvolution(n, kernelSpectrum, forward, inverse, convolution);
    return ForEachGroup(lines, lanes.width, abortCheck, PassSplit{runner, parts},
                        [&](int part, int32_t first, int32_t group) {
        double* partData = data + dataStride * static_cast<size_t>(part);
        double* partSpectrum = spectrum + spectrumStride * static_cast<size_t>(part);
        LoadGroup(lines, first, group, lanes.width, 0, static_cast<size_t>(n), partData);
        lanes.fft(convolution, partData, partSpectrum);
        StoreGroup(lines, first, group, lanes.width, partData);
    });
}

int BlurFft(const Raster& raster, double r, AbortCheck abortCheck, const PartRunner& runner) {
    // A line that no transform can hold with the kernel's reach cannot be
    // blurred at all: refused before any line changes.
    if (FftReach(static_cast<int32_t>(Longest(raster)), r) > kMaxFftLength) return kOutOfMemory;
    const int result = FftPass(raster, true, r, abortCheck, runner);
    return result != kOk ? result : FftPass(raster, false, r, abortCheck, runner);
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

// The weights in units of 2^-kTableShift, rounded, and the slack of the
// table convolution's integer shortcut: a bound, in those units, on the
// distance between a window's table sum and its integer sum. Each of a
// window's 2 taps - 1 samples is at most 255, so the rounding of the weights
// moves the integer sum by at most 255 times their summed rounding; the table
// rows, built by additions, and the sum of them stray from the exact products
// by less than 1e-11, far inside the 1e-9 allowed. -1 when the sums could
// leave 32 bits.
int32_t ScaleTableKernel(const double* w, int32_t taps, int32_t* scaled) {
    constexpr double kUnit = 1 << kTableShift;
    double rounding = 0;
    int64_t total = 0;
    for (int32_t d = 0; d < taps; ++d) {
        scaled[d] = static_cast<int32_t>(std::lround(w[d] * kUnit));
        const int32_t uses = d == 0 ? 1 : 2;
        rounding += uses * std::fabs(w[d] - scaled[d] / kUnit);
        total += int64_t{uses} * scaled[d];
    }
    const double slack = std::ceil((255 * rounding * (1 + 1e-6) + 1e-9) * kUnit) + 1;
    if (255 * static_cast<double>(total) + slack >= 2147483647.0) return -1;
    return static_cast<int32_t>(slack);
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

int BlurMaskRegion(const Raster& mask, const PixelRect& area, double radius,
                   AbortCheck abortCheck, ScopedRaster& blurred, const PartRunner& runner) {
    int result = ExtractAlpha(area, mask, blurred.Receive());
    if (result == kOk) result = BlurRaster(*blurred, radius, abortCheck, runner);
    if (result != kOk) blurred.Reset();
    return result;
}

int BlurRaster(const Raster& raster, double radius, AbortCheck abortCheck, const PartRunner& runner) {
    switch (ChooseBlurMethod(raster.channelBytes, radius)) {
        case BlurMethod::kTable:
            return BlurTable(raster, radius, abortCheck, runner);
        case BlurMethod::kDirect:
            return BlurDirect(raster, radius, abortCheck, runner);
        case BlurMethod::kFft:
            return BlurFft(raster, radius, abortCheck, runner);
        case BlurMethod::kNone:
            break;
    }
    return kOk;
}

}  // namespace zoka
