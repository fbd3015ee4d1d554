// The prime factor FFT of the blur engine: complex transforms of every length
// that divides 720720 (= 16 * 9 * 5 * 7 * 11 * 13), and the real-input
// transforms built on them. None of them scales: a forward transform (sign
// +1) followed by an inverse (sign -1) returns N times the input.
#pragma once

#include <cstdint>

namespace zoka {

// The transform length for a line of n samples: twice the first divisor of
// 720720 that is at least (n + 1) / 2 (720720 itself beyond 360360).
int32_t FftSize(int32_t n);

// In place over n complex values (real and imaginary parts interleaved), n a
// divisor of 720720: z'[k] = sum over j of z[j] e^(sign 2 pi i j k / n), in
// natural order.
void PfaComplexFft(int sign, int32_t n, double* z);

// N real samples to the N / 2 + 1 complex values of their transform, stored
// as N + 2 doubles (the first and last imaginary parts are 0).
void RealFftForward(int sign, int32_t n, const double* x, double* spectrum);
// The reverse: N / 2 + 1 complex values to N real samples.
void RealFftInverse(int sign, int32_t n, const double* spectrum, double* x);

struct FftPlan;
struct LineConvolution;
// The convolution of lines of n real samples with a kernel of spectrum
// kernelSpectrum (from RealFftForward, sign +1): a forward transform with
// sign +1 and an inverse with sign -1, whose plans it fills.
void MakeLineConvolution(int32_t n, const double* kernelSpectrum, FftPlan& forward,
                         FftPlan& inverse, LineConvolution& convolution);

}  // namespace zoka
