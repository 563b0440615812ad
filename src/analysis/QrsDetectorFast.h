// Vectorised filter path of QrsDetector. Every kernel gives exactly the
// results of the plain arithmetic (QrsDetector::DetectReference), state
// included; the best kernel the processor supports is chosen on first use.
#pragma once

#include <cstdint>

class QrsDetector;

namespace QrsFast {

enum class Kernel {
    Portable,    // plain C++, any processor
    Sse2,        // 128-bit pmaddwd
    Avx2,        // 256-bit pmaddwd
    Avx512,      // 512-bit pmaddwd (AVX-512BW)
    Avx512Vnni,  // 512-bit fused multiply-add of word pairs (AVX-512 VNNI)
};
constexpr int KERNEL_COUNT = 5;

const char* KernelName(Kernel k);
bool KernelAvailable(Kernel k);
// The fastest kernel this processor runs.
Kernel BestKernel();
Kernel ActiveKernel();
// For tests and benchmarks: switches every detector of the process to k.
// Returns false, changing nothing, when the processor cannot run k.
bool SelectKernel(Kernel k);

// The detector's operations on the fast path; same contracts as the members.
bool Detect(QrsDetector& det, const int16_t* input, uint32_t count, uint32_t* output,
            uint32_t* outCount);
void BandPass(QrsDetector& det, const int16_t* in, int16_t* out, uint32_t n);
void Envelope(QrsDetector& det, const int16_t* in, int16_t* out, uint32_t n);

}  // namespace QrsFast
