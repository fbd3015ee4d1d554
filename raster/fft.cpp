#include "raster/fft.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>

namespace zoka {

namespace {

// The 240 divisors of 720720 = 2^4 3^2 5 7 11 13 in increasing order.
constexpr std::array<int32_t, 240> MakeDivisors() {
    std::array<int32_t, 240> d{};
    size_t count = 0;
    for (int32_t a = 1; a <= 16; a *= 2) {
        for (int32_t b = 1; b <= 9; b *= 3) {
            for (int32_t c : {1, 5}) {
                for (int32_t e : {1, 7}) {
                    for (int32_t f : {1, 11}) {
                        for (int32_t g : {1, 13}) d[count++] = a * b * c * e * f * g;
                    }
                }
            }
        }
    }
    std::sort(d.begin(), d.end());
    return d;
}

// The factors of the prime factor algorithm, tried in this order; each one
// that divides the length still left is used once.
constexpr int32_t kFactors[] = {16, 13, 11, 9, 8, 7, 5, 4, 3, 2};
constexpr int32_t kMaxFactor = 16;

// 2 pi to ten significant digits, for the short transforms' constants.
constexpr double kTwoPi = 6.283185307;
// 2 pi as the real-input wrappers' twiddle recurrence takes it.
constexpr double kWrapperTwoPi = 6.2831853;

struct Complex {
    double re, im;
};

// The standard transform Y[k] = sum x[j] e^(+2 pi i j k / f) of one short
// line, with its constants computed at run time.
class ShortDft {
public:
    explicit ShortDft(int32_t f) : f_(f) {
        for (int32_t k = 0; k < f; ++k) {
            cos_[k] = std::cos(kTwoPi * k / f);
            sin_[k] = std::sin(kTwoPi * k / f);
        }
    }
    void Run(const Complex* x, Complex* y) const {
        for (int32_t k = 0; k < f_; ++k) {
            double re = 0, im = 0;
            int32_t power = 0;
            for (int32_t j = 0; j < f_; ++j) {
                re += x[j].re * cos_[power] - x[j].im * sin_[power];
                im += x[j].re * sin_[power] + x[j].im * cos_[power];
                power += k;
                if (power >= f_) power -= f_;
            }
            y[k] = Complex{re, im};
        }
    }

private:
    int32_t f_;
    double cos_[kMaxFactor];
    double sin_[kMaxFactor];
};

// One pass of the prime factor algorithm: the n / f transforms of length f
// along one factor. With m = n / f and mu its inverse modulo f, the line
// through an index with residue 0 modulo f visits the indices of residue r
// modulo f at steps of e = m mu; transforming each line with the root
// e^(2 pi i mu / f) leaves the whole transform in natural order.
void FactorPass(int sign, int32_t n, int32_t f, double* z) {
    const int32_t m = n / f;
    int32_t mu = 1;
    while ((int64_t{mu} * m) % f != 1 && mu < f) ++mu;
    if (sign < 0) mu = f - mu;
    const int32_t e = static_cast<int32_t>((int64_t{m} * mu) % n);
    const ShortDft dft(f);
    Complex line[kMaxFactor];
    Complex out[kMaxFactor];
    int32_t index[kMaxFactor];
    for (int32_t base = 0; base < n; base += f) {
        int32_t at = base;
        for (int32_t r = 0; r < f; ++r) {
            index[r] = at;
            line[r] = Complex{z[2 * at], z[2 * at + 1]};
            at += e;
            if (at >= n) at -= n;
        }
        dft.Run(line, out);
        // The rotated transform's value at k is the standard one's at mu k.
        int32_t k = 0;
        for (int32_t r = 0; r < f; ++r) {
            z[2 * index[r]] = out[k].re;
            z[2 * index[r] + 1] = out[k].im;
            k += mu;
            if (k >= f) k -= f;
        }
    }
}

// The twiddle recurrence of the real-input wrappers, started at angle t.
struct Twiddle {
    double wr, wi, p, q;
    explicit Twiddle(double t) {
        const double half = std::sin(t / 2);
        p = -2 * half * half;
        q = std::sin(t);
        wr = 1 + p;
        wi = q;
    }
    void Advance() {
        const double r = wr;
        wr = wr + wr * p - wi * q;
        wi = wi + wi * p + r * q;
    }
};

}  // namespace

int32_t FftSize(int32_t n) {
    static constexpr std::array<int32_t, 240> kDivisors = MakeDivisors();
    const int32_t m = (n + 1) / 2;
    if (m > 360360) return 2 * 720720;
    const auto* found = std::lower_bound(kDivisors.begin(), kDivisors.end() - 1, m);
    return 2 * *found;
}

void PfaComplexFft(int sign, int32_t n, double* z) {
    int32_t left = n;
    for (const int32_t f : kFactors) {
        if (left % f != 0) continue;
        FactorPass(sign, n, f, z);
        left /= f;
    }
}

void RealFftForward(int sign, int32_t n, const double* x, double* s) {
    for (int32_t j = 0; j < n; ++j) s[j] = x[j] / 2;
    PfaComplexFft(sign, n / 2, s);
    const double a = s[0];
    const double b = s[1];
    s[n] = 2 * (a - b);
    s[0] = 2 * (a + b);
    s[1] = 0;
    s[n + 1] = 0;
    Twiddle w(sign < 0 ? -kWrapperTwoPi / n : kWrapperTwoPi / n);
    for (int32_t k = 1; k <= n / 4; ++k) {
        const int32_t ir = 2 * k, ii = 2 * k + 1, jr = n - 2 * k, ji = n - 2 * k + 1;
        const double sumr = s[ir] + s[jr];
        const double sumi = s[ii] + s[ji];
        const double difr = s[ir] - s[jr];
        const double difi = s[ii] - s[ji];
        const double tr = w.wi * difr + w.wr * sumi;
        const double ti = w.wi * sumi - w.wr * difr;
        s[ir] = sumr + tr;
        s[ii] = difi + ti;
        s[jr] = sumr - tr;
        s[ji] = ti - difi;
        w.Advance();
    }
}

void RealFftInverse(int sign, int32_t n, const double* s, double* x) {
    std::copy(s + 2, s + n, x + 2);
    x[1] = s[0] - s[n];
    x[0] = s[0] + s[n];
    Twiddle w(sign > 0 ? -kWrapperTwoPi / n : kWrapperTwoPi / n);
    for (int32_t k = 1; k <= n / 4; ++k) {
        const int32_t ir = 2 * k, ii = 2 * k + 1, jr = n - 2 * k, ji = n - 2 * k + 1;
        const double sumr = x[ir] + x[jr];
        const double sumi = x[ii] + x[ji];
        const double difr = x[ir] - x[jr];
        const double difi = x[ii] - x[ji];
        const double tr = w.wi * difr - w.wr * sumi;
        const double ti = w.wi * sumi + w.wr * difr;
        x[ir] = sumr + tr;
        x[ii] = difi + ti;
        x[jr] = sumr - tr;
        x[ji] = ti - difi;
        w.Advance();
    }
    PfaComplexFft(sign, n / 2, x);
}

}  // namespace zoka
