// Vectorised filter path of QrsDetector. Every kernel gives exactly the
// results of the plain arithmetic (QrsDetector::DetectReference), state
// included; the best kernel the processor supports is chosen on first use.
#pragma once

#include <cstdint>
#include <functional>

class QrsDetector;
class WorkerPool;

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

// Consecutive Detect calls at once, the filters split across the pool's
// threads: call k takes counts[k] samples, laid out in stream one call after
// another. After each call, in order, found(k, n) is told that positions
// holds its n results, as Detect gives them; positions needs room for the
// largest call. The detector ends as the calls would leave it, but for its
// last-block buffers (m_bandOut, m_envOut), which are left as they were.
void DetectCalls(QrsDetector& det, const int16_t* stream, const uint32_t* counts, uint32_t calls,
                 WorkerPool& pool, uint32_t* positions, const std::function<void(uint32_t, uint32_t)>& found);

}  // namespace QrsFast
