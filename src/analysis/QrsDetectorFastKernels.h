// Filter kernels behind QrsFast; internal to the analysis library.
#pragma once

#include <cstdint>

#include "analysis/QrsDetector.h"

namespace QrsFast::detail {

// out[j] = |int16((sum over q < N of x[j + q] * T[q]) >> 11)| for j < m, the
// absolute value taken in 16 bits (so -32768 stays -32768). x must hold
// initialised values for m + 2P + FILTER_SLACK entries, P the stage's pair
// count below; only out[0 .. m) is written.
using FilterFn = void (*)(const int16_t* x, int16_t* out, uint32_t m);

constexpr uint32_t FILTER_SLACK = 128;
constexpr int BAND_PAIRS = QRS_BAND_TAPS / 2 + 1;
constexpr int ENV_PAIRS = QRS_ENV_TAPS / 2 + 1;

// The taps as word pairs, the low tap in the low half of a 32-bit word, each
// pair repeated across a 64-byte line so that any vector width can take it
// straight from memory: even[i] = (T[2i], T[2i + 1]) for the even outputs,
// odd[i] = (T[2i - 1], T[2i]) for the odd ones, taps outside the table 0.
// They live at fixed addresses so that the kernels address them without a
// register. Filled by PrepareTaps before any kernel runs.
alignas(64) extern int32_t g_bandEven[BAND_PAIRS][16];
alignas(64) extern int32_t g_bandOdd[BAND_PAIRS][16];
alignas(64) extern int32_t g_envEven[ENV_PAIRS][16];
alignas(64) extern int32_t g_envOdd[ENV_PAIRS][16];
void PrepareTaps();

struct KernelSet {
    FilterFn band;
    FilterFn env;
};

KernelSet PortableKernels();
#if defined(__x86_64__)
KernelSet Sse2Kernels();
KernelSet Avx2Kernels();
KernelSet Avx512Kernels();
KernelSet Avx512VnniKernels();
#endif

}  // namespace QrsFast::detail
