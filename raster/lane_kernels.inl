// The blur's kernels written once for any lane type V: a double, or a vector
// of doubles that carries several lines side by side. Every lane performs
// exactly the operations of the scalar kernel in the same order, so every
// lane width gives the same bits.
//
// Included inside an unnamed namespace by each translation unit that
// instantiates it for its instruction set; it calls no library function, so
// nothing compiled for one instruction set can be shared with another.
//
// Needs: raster/lanes.h; a type V with +, - and * by V or by a double, and /
// by a double; kLanes, its width; Load (const double*) giving the lanes
// stored at an address; ChunkInts, a vector of 2 kLanes 32-bit integers;
// WidenChunk (const uint8_t*) giving 2 kLanes bytes as ChunkInts;
// StoreChunkBytes (ChunkInts, uint8_t*) storing each lane, 0..255, as a
// byte; DifferingLanes (ChunkInts, ChunkInts) giving bit w set where lane w
// differs; GatherFlat (ChunkInts into, uint32_t lanes, ChunkInts indices,
// const int32_t* table) giving into with table[indices[w]] in the lanes set.

template <typename V>
struct Cx {
    V re, im;
};

// The standard transform of a power-of-two length f (2 to 16): bit-reversed
// order, then radix-2 stages. cos and sin hold e^(+2 pi i t / f).
template <typename V>
inline void PowerOfTwoDft(const FftFactor& factor, Cx<V>* x) {
    const int32_t f = factor.f;
    for (int32_t i = 1, j = 0; i < f; ++i) {
        int32_t bit = f >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) {
            const Cx<V> t = x[i];
            x[i] = x[j];
            x[j] = t;
        }
    }
    for (int32_t len = 2; len <= f; len <<= 1) {
        const int32_t half = len >> 1;
        const int32_t stride = f / len;
        for (int32_t b = 0; b < f; b += len) {
            for (int32_t j = 0; j < half; ++j) {
                const double wr = factor.cos[j * stride];
                const double wi = factor.sin[j * stride];
                const Cx<V> u = x[b + j];
                const Cx<V> v = x[b + j + half];
                const Cx<V> t{v.re * wr - v.im * wi, v.re * wi + v.im * wr};
                x[b + j] = Cx<V>{u.re + t.re, u.im + t.im};
                x[b + j + half] = Cx<V>{u.re - t.re, u.im - t.im};
            }
        }
    }
}

// The standard transform of an odd length f (3 to 13), pairing x[j] with
// x[f - j]: y[k] and y[f - k] share the cosine and sine sums.
template <typename V>
inline void OddDft(const FftFactor& factor, Cx<V>* x) {
    const int32_t f = factor.f;
    const int32_t h = (f - 1) / 2;
    Cx<V> a[kMaxFftFactor / 2 + 1];
    Cx<V> b[kMaxFftFactor / 2 + 1];
    for (int32_t j = 1; j <= h; ++j) {
        a[j] = Cx<V>{x[j].re + x[f - j].re, x[j].im + x[f - j].im};
        b[j] = Cx<V>{x[j].re - x[f - j].re, x[j].im - x[f - j].im};
    }
    const Cx<V> x0 = x[0];
    Cx<V> sum = x0;
    for (int32_t j = 1; j <= h; ++j) sum = Cx<V>{sum.re + a[j].re, sum.im + a[j].im};
    x[0] = sum;
    for (int32_t k = 1; k <= h; ++k) {
        Cx<V> even = x0;
        Cx<V> odd{V{}, V{}};
        int32_t t = 0;
        for (int32_t j = 1; j <= h; ++j) {
            t += k;
            if (t >= f) t -= f;
            even = Cx<V>{even.re + a[j].re * factor.cos[t], even.im + a[j].im * factor.cos[t]};
            odd = Cx<V>{odd.re + b[j].re * factor.sin[t], odd.im + b[j].im * factor.sin[t]};
        }
        x[k] = Cx<V>{even.re - odd.im, even.im + odd.re};
        x[f - k] = Cx<V>{even.re + odd.im, even.im - odd.re};
    }
}

// The complex transform of plan.n values in place: for each factor, the
// n / f lines through the indices of residue 0 modulo f, each transformed by
// the rotated short transform; the rotated transform's value for residue r
// is the standard one's at mu r.
template <typename V>
inline void ComplexFft(const FftPlan& plan, Cx<V>* z) {
    const int32_t n = plan.n;
    for (int32_t p = 0; p < plan.passes; ++p) {
        const FftFactor& factor = plan.factors[p];
        const int32_t f = factor.f;
        const bool powerOfTwo = (f & (f - 1)) == 0;
        Cx<V> line[kMaxFftFactor];
        int32_t index[kMaxFftFactor];
        for (int32_t base = 0; base < n; base += f) {
            int32_t at = base;
            for (int32_t r = 0; r < f; ++r) {
                index[r] = at;
                line[r] = z[at];
                at += factor.step;
                if (at >= n) at -= n;
            }
            if (powerOfTwo) {
                PowerOfTwoDft(factor, line);
            } else {
                OddDft(factor, line);
            }
            int32_t k = 0;
            for (int32_t r = 0; r < f; ++r) {
                z[index[r]] = line[k];
                k += factor.mu;
                if (k >= f) k -= f;
            }
        }
    }
}

// The twiddle recurrence of the real-input wrappers, started at angle t.
// Its values are the same for every lane.
struct WrapperTwiddle {
    double wr, wi, p, q;
    WrapperTwiddle(double halfSine, double sine) {
        p = -2 * halfSine * halfSine;
        q = sine;
        wr = 1 + p;
        wi = q;
    }
    void Advance() {
        const double r = wr;
        wr = wr + wr * p - wi * q;
        wi = wi + wi * p + r * q;
    }
};

// N real samples (N / 2 complex values in s, already holding x / 2) to the
// N / 2 + 1 values of their transform. halfSine and sine: sin(t / 2) and
// sin(t) of the wrapper's angle.
template <typename V>
inline void RealForwardFinish(const FftPlan& half, Cx<V>* s, double halfSine, double sine) {
    const int32_t n = 2 * half.n;
    ComplexFft(half, s);
    const V a = s[0].re;
    const V b = s[0].im;
    s[half.n].re = (a - b) * 2.0;
    s[0].re = (a + b) * 2.0;
    s[0].im = V{};
    s[half.n].im = V{};
    WrapperTwiddle w(halfSine, sine);
    for (int32_t k = 1; k <= n / 4; ++k) {
        Cx<V>& i = s[k];
        Cx<V>& j = s[half.n - k];
        const V sumr = i.re + j.re;
        const V sumi = i.im + j.im;
        const V difr = i.re - j.re;
        const V difi = i.im - j.im;
        const V tr = difr * w.wi + sumi * w.wr;
        const V ti = sumi * w.wi - difr * w.wr;
        i.re = sumr + tr;
        i.im = difi + ti;
        j.re = sumr - tr;
        j.im = ti - difi;
        w.Advance();
    }
}

// The reverse: N / 2 + 1 transform values in s to N real samples in x.
template <typename V>
inline void RealInverse(const FftPlan& half, const Cx<V>* s, Cx<V>* x, double halfSine,
                        double sine) {
    const int32_t n = 2 * half.n;
    for (int32_t k = 1; k < half.n; ++k) x[k] = s[k];
    x[0].im = s[0].re - s[half.n].re;
    x[0].re = s[0].re + s[half.n].re;
    WrapperTwiddle w(halfSine, sine);
    for (int32_t k = 1; k <= n / 4; ++k) {
        Cx<V>& i = x[k];
        Cx<V>& j = x[half.n - k];
        const V sumr = i.re + j.re;
        const V sumi = i.im + j.im;
        const V difr = i.re - j.re;
        const V difi = i.im - j.im;
        const V tr = difr * w.wi - sumi * w.wr;
        const V ti = sumi * w.wi + difr * w.wr;
        i.re = sumr + tr;
        i.im = difi + ti;
        j.re = sumr - tr;
        j.im = ti - difi;
        w.Advance();
    }
    ComplexFft(half, x);
}

// Convolves the lines held in data (n samples, each a V of lanes) circularly
// with the kernel whose spectrum is given: forward transform, product with
// the kernel's spectrum, inverse transform back into data.
template <typename V>
inline void ConvolveLanes(const LineConvolution& c, V* data, Cx<V>* spectrum) {
    const int32_t half = c.n / 2;
    for (int32_t k = 0; k < half; ++k) spectrum[k] = Cx<V>{data[2 * k] / 2, data[2 * k + 1] / 2};
    RealForwardFinish(*c.forward, spectrum, c.forwardHalfSine, c.forwardSine);
    for (int32_t k = 0; k <= half; ++k) {
        const V a = spectrum[k].re, b = spectrum[k].im;
        const double kr = c.kernelSpectrum[2 * k], ki = c.kernelSpectrum[2 * k + 1];
        spectrum[k] = Cx<V>{a * kr - b * ki, a * ki + b * kr};
    }
    RealInverse(*c.inverse, spectrum, reinterpret_cast<Cx<V>*>(data), c.inverseHalfSine,
                c.inverseSine);
}

// The direct convolution of kLanes lines (in padded by taps - 1 samples).
inline void DirectLanes(const DirectConvolution& c, int32_t length, const double* in, V* out) {
    const int32_t pad = c.taps - 1;
    for (int32_t i = 0; i < length; ++i) out[i] = Load(in + (i + pad) * kLanes) * c.weights[0];
    for (int32_t d = 1; d < c.taps; ++d) {
        const double w = c.weights[d];
        for (int32_t i = 0; i < length; ++i) {
            const V left = Load(in + (i + pad - d) * kLanes);
            const V right = Load(in + (i + pad + d) * kLanes);
            out[i] = out[i] + (left + right) * w;
        }
    }
}

// The table convolution runs over chunks of 2 kLanes lanes of the
// kTableLanes a position holds.
constexpr int32_t kChunk = 2 * kLanes;

inline bool SameChunk(const uint8_t* a, const uint8_t* b) { return __builtin_memcmp(a, b, kChunk) == 0; }

// Scans a chunk's positions forward, keeping where any of its lanes last
// differed from the position before: the window of output i (positions i to
// i + 2 pad) is flat in every lane when, scanned to its end, that is at or
// before i.
struct ChangeScan {
    const uint8_t* in;
    int32_t scanned = 0;
    int32_t lastChange = 0;

    void ScanTo(int32_t end) {
        for (; scanned < end; ++scanned) {
            const uint8_t* before = in + scanned * kTableLanes;
            if (!SameChunk(before + kTableLanes, before)) lastChange = scanned + 1;
        }
    }
};

// Output i of one lane by the table sum itself: its taps in ascending order.
inline uint8_t TableLane(const TableConvolution& c, const uint8_t* at) {
    double a = c.table[*at];
    for (int32_t d = 1; d < c.taps; ++d) {
        const double* row = c.table + d * 256;
        a = a + (row[at[-d * kTableLanes]] + row[at[d * kTableLanes]]);
    }
    return static_cast<uint8_t>(static_cast<int32_t>(a));
}

// The chunk's lanes whose windows hold one value, as bits.
inline uint32_t FlatLanes(const uint8_t* at, int32_t taps) {
    ChunkInts least = WidenChunk(at);
    ChunkInts most = least;
    for (int32_t d = 1; d < taps; ++d) {
        const ChunkInts left = WidenChunk(at - d * kTableLanes);
        const ChunkInts right = WidenChunk(at + d * kTableLanes);
        least = left < least ? left : least;
        most = left > most ? left : most;
        least = right < least ? right : least;
        most = right > most ? right : most;
    }
    return ~DifferingLanes(least, most);
}

// Output i of a chunk by the integer shortcut: exact integer sums of the
// scaled weights, whose truncation is the table sum's wherever the slack
// around them cannot reach an integer boundary (every sum is at least 0, so
// the low end is clamped there). The lanes left open take the flat table
// where their window holds one value, the table sum elsewhere.
inline void TableShortcut(const TableConvolution& c, const uint8_t* at, uint8_t* out) {
    ChunkInts sum = WidenChunk(at) * c.scaled[0];
    for (int32_t d = 1; d < c.taps; ++d) {
        sum += (WidenChunk(at - d * kTableLanes) + WidenChunk(at + d * kTableLanes)) * c.scaled[d];
    }
    ChunkInts low = sum - c.slack;
    low = (low & (low > 0)) >> kTableShift;
    const ChunkInts high = (sum + c.slack) >> kTableShift;
    uint32_t open = DifferingLanes(low, high);
    if (open != 0) {
        const uint32_t flat = FlatLanes(at, c.taps) & open;
        if (flat != 0) low = GatherFlat(low, flat, WidenChunk(at), c.flat);
        open &= ~flat;
    }
    StoreChunkBytes(low, out);
    for (; open != 0; open &= open - 1) {
        const int32_t lane = __builtin_ctz(open);
        out[lane] = TableLane(c, at + lane);
    }
}

// The table convolution of one chunk of lanes. A window whose samples are
// all equal in every lane of the chunk takes its results from the flat
// table, and a run of such windows repeats them.
inline void TableChunk(const TableConvolution& c, int32_t length, const uint8_t* in, uint8_t* out) {
    const int32_t pad = c.taps - 1;
    ChangeScan scan{in};
    bool previousFlat = false;
    for (int32_t i = 0; i < length; ++i) {
        scan.ScanTo(i + 2 * pad);
        const bool flat = scan.lastChange <= i;
        const uint8_t* at = in + (i + pad) * kTableLanes;
        uint8_t* result = out + i * kTableLanes;
        if (flat && previousFlat) {
            __builtin_memcpy(result, result - kTableLanes, kChunk);
        } else if (flat) {
            for (int32_t w = 0; w < kChunk; ++w) result[w] = static_cast<uint8_t>(c.flat[at[w]]);
        } else if (c.slack >= 0) {
            TableShortcut(c, at, result);
        } else {
            for (int32_t w = 0; w < kChunk; ++w) result[w] = TableLane(c, at + w);
        }
        previousFlat = flat;
    }
}

inline void TableLanes(const TableConvolution& c, int32_t length, const uint8_t* in, uint8_t* out) {
    for (int32_t first = 0; first < kTableLanes; first += kChunk) TableChunk(c, length, in + first, out + first);
}

inline void FftLinesEntry(const LineConvolution& c, double* data, double* spectrum) {
    ConvolveLanes(c, reinterpret_cast<V*>(data), reinterpret_cast<Cx<V>*>(spectrum));
}
inline void DirectLinesEntry(const DirectConvolution& c, int32_t length, const double* in,
                             double* out) {
    DirectLanes(c, length, in, reinterpret_cast<V*>(out));
}
inline void TableLinesEntry(const TableConvolution& c, int32_t length, const uint8_t* in,
                            uint8_t* out) {
    TableLanes(c, length, in, out);
}
