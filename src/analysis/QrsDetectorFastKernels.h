// Filter kernels behind QrsFast; internal to the analysis library.
#pragma once

#include <cstdint>

namespace QrsFast::detail {

// out[j] = |int16((sum over q < 2P of x[j + q] * T[q]) >> 11)| for j < m, the
// absolute value taken in 16 bits (so -32768 stays -32768). The taps come as P
// word pairs, T[2i] in the low and T[2i + 1] in the high half of pairs[i]; an
// odd table is padded with a zero tap. x must hold initialised values for
// m + 2P + FILTER_SLACK entries; only out[0 .. m) is written.
using FilterFn = void (*)(const int16_t* x, int16_t* out, uint32_t m, const int32_t* pairs);

constexpr uint32_t FILTER_SLACK = 128;
constexpr int BAND_PAIRS = 72;  // 144 taps
constexpr int ENV_PAIRS = 26;   // 51 taps and a zero

struct KernelSet {
    FilterFn band;
    FilterFn env;
};

KernelSet PortableKernels();
#if defined(__x86_64__) || defined(__i386__)
KernelSet Sse2Kernels();
KernelSet Avx2Kernels();
KernelSet Avx512Kernels();
KernelSet Avx512VnniKernels();
#endif

}  // namespace QrsFast::detail
