// Filter kernels behind QrsFast; internal to the analysis library.
#pragma once

#include <cstdint>

namespace QrsFast::detail {

// out[j] = |int16((sum over q < 2P of x[j + q] * T[q]) >> 11)| for j < m, the
// absolute value taken in 16 bits (so -32768 stays -32768). x must hold
// initialised values for m + 2P + FILTER_SLACK entries; only out[0 .. m) is
// written.
using FilterFn = void (*)(const int16_t* x, int16_t* out, uint32_t m);

constexpr uint32_t FILTER_SLACK = 128;
constexpr int BAND_PAIRS = 72;  // 144 taps
constexpr int ENV_PAIRS = 26;   // 51 taps and a zero

// The taps as P word pairs, T[2i] in the low and T[2i + 1] in the high half
// of a 32-bit word, each repeated across a 64-byte line so that any vector
// width can take it straight from memory; the odd envelope table is padded
// with a zero tap. They live at fixed addresses so that the kernels address
// them without a register. Filled by PrepareTaps before any kernel runs.
alignas(64) extern int32_t g_bandLines[BAND_PAIRS][16];
alignas(64) extern int32_t g_envLines[ENV_PAIRS][16];
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
