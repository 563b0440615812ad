#include "analysis/QrsDetectorFast.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "analysis/QrsDetector.h"
#include "analysis/QrsDetectorFastKernels.h"

namespace QrsFast {
namespace detail {
namespace {

inline int16_t Rectify(int32_t sum)
{
    const int16_t v = int16_t(sum >> 11);
    return int16_t(v < 0 ? -v : v);
}

template <int P>
void FilterPortable(const int16_t* x, int16_t* out, uint32_t m, const int32_t* pairs)
{
    for (uint32_t j = 0; j < m; ++j) {
        const int16_t* w = x + j;
        int32_t sum = 0;
        for (int i = 0; i < P; ++i) {
            const int32_t lo = int16_t(uint32_t(pairs[i]) & 0xFFFFu);
            const int32_t hi = int16_t(uint32_t(pairs[i]) >> 16);
            sum += w[2 * i] * lo + w[2 * i + 1] * hi;
        }
        out[j] = Rectify(sum);
    }
}

}  // namespace

KernelSet PortableKernels() { return {FilterPortable<BAND_PAIRS>, FilterPortable<ENV_PAIRS>}; }

}  // namespace detail

namespace {

using detail::BAND_PAIRS;
using detail::ENV_PAIRS;
using detail::FILTER_SLACK;
using detail::KernelSet;

constexpr int BAND_HISTORY = QRS_BAND_TAPS - 1;
constexpr int ENV_HISTORY = QRS_ENV_TAPS - 1;
static_assert(2 * BAND_PAIRS >= QRS_BAND_TAPS && 2 * BAND_PAIRS - QRS_BAND_TAPS < 2);
static_assert(2 * ENV_PAIRS >= QRS_ENV_TAPS && 2 * ENV_PAIRS - QRS_ENV_TAPS < 2);

struct TapPairs {
    alignas(64) int32_t band[BAND_PAIRS];
    alignas(64) int32_t env[ENV_PAIRS];
};

template <int P, int N>
void MakePairs(const int16_t (&taps)[N], int32_t (&pairs)[P])
{
    for (int i = 0; i < P; ++i) {
        const uint16_t lo = uint16_t(taps[2 * i]);
        const uint16_t hi = 2 * i + 1 < N ? uint16_t(taps[2 * i + 1]) : 0;
        pairs[i] = int32_t(uint32_t(lo) | uint32_t(hi) << 16);
    }
}

const TapPairs& Pairs()
{
    static const TapPairs pairs = [] {
        TapPairs p{};
        MakePairs(kBandPassTaps, p.band);
        MakePairs(kEnvelopeTaps, p.env);
        return p;
    }();
    return pairs;
}

KernelSet KernelsOf(Kernel k)
{
    switch (k) {
#if defined(__x86_64__) || defined(__i386__)
    case Kernel::Sse2: return detail::Sse2Kernels();
    case Kernel::Avx2: return detail::Avx2Kernels();
    case Kernel::Avx512: return detail::Avx512Kernels();
    case Kernel::Avx512Vnni: return detail::Avx512VnniKernels();
#endif
    default: return detail::PortableKernels();
    }
}

std::atomic<int> g_active{-1};

KernelSet ActiveKernels() { return KernelsOf(ActiveKernel()); }

// Lays the delay line (newest first) out oldest first in front of a block.
template <int N>
void LoadHistory(const int16_t (&delay)[N], int16_t* x)
{
    for (int i = 0; i < N - 1; ++i)
        x[i] = delay[N - 2 - i];
}

// After a block of m >= 1 values at x + N - 1: the delay line holds the N
// newest values of history and block.
template <int N>
void StoreHistory(const int16_t* x, uint32_t m, int16_t (&delay)[N])
{
    for (int k = 0; k < N; ++k)
        delay[k] = x[N - 2 + m - k];
}

template <int N, int P>
void ZeroSlack(int16_t* x, uint32_t m)
{
    std::fill(x + N - 1 + m, x + m + 2 * P + FILTER_SLACK, int16_t(0));
}

// One filter stage over any number of values, in blocks.
template <int N, int P>
void FilterStream(detail::FilterFn fn, const int32_t* pairs, int16_t (&delay)[N], const int16_t* in,
                  int16_t* out, uint32_t n)
{
    alignas(64) int16_t x[2 * P + QRS_BLOCK + FILTER_SLACK];
    while (n > 0) {
        const uint32_t m = std::min<uint32_t>(n, QRS_BLOCK);
        LoadHistory(delay, x);
        std::memcpy(x + N - 1, in, m * sizeof(int16_t));
        ZeroSlack<N, P>(x, m);
        fn(x, out, m, pairs);
        StoreHistory(x, m, delay);
        in += m;
        out += m;
        n -= m;
    }
}

}  // namespace

const char* KernelName(Kernel k)
{
    switch (k) {
    case Kernel::Portable: return "portable";
    case Kernel::Sse2: return "sse2";
    case Kernel::Avx2: return "avx2";
    case Kernel::Avx512: return "avx512bw";
    case Kernel::Avx512Vnni: return "avx512vnni";
    }
    return "?";
}

bool KernelAvailable(Kernel k)
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    switch (k) {
    case Kernel::Portable: return true;
    case Kernel::Sse2: return __builtin_cpu_supports("sse2");
    case Kernel::Avx2: return __builtin_cpu_supports("avx2");
    case Kernel::Avx512: return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
    case Kernel::Avx512Vnni:
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
               __builtin_cpu_supports("avx512vnni");
    }
    return false;
#else
    return k == Kernel::Portable;
#endif
}

Kernel BestKernel()
{
    for (int k = KERNEL_COUNT - 1; k > 0; --k)
        if (KernelAvailable(Kernel(k)))
            return Kernel(k);
    return Kernel::Portable;
}

Kernel ActiveKernel()
{
    int k = g_active.load(std::memory_order_relaxed);
    if (k < 0) {
        k = int(BestKernel());
        g_active.store(k, std::memory_order_relaxed);
    }
    return Kernel(k);
}

bool SelectKernel(Kernel k)
{
    if (int(k) < 0 || int(k) >= KERNEL_COUNT || !KernelAvailable(k))
        return false;
    g_active.store(int(k), std::memory_order_relaxed);
    return true;
}

void BandPass(QrsDetector& det, const int16_t* in, int16_t* out, uint32_t n)
{
    FilterStream<QRS_BAND_TAPS, BAND_PAIRS>(ActiveKernels().band, Pairs().band, det.m_bandDelay, in,
                                            out, n);
}

void Envelope(QrsDetector& det, const int16_t* in, int16_t* out, uint32_t n)
{
    FilterStream<QRS_ENV_TAPS, ENV_PAIRS>(ActiveKernels().env, Pairs().env, det.m_envDelay, in, out,
                                          n);
}

bool Detect(QrsDetector& det, const int16_t* input, uint32_t count, uint32_t* output,
            uint32_t* outCount)
{
    *outCount = 0;
    if (count == 0)
        return true;
    const KernelSet kernels = ActiveKernels();
    const TapPairs& pairs = Pairs();

    // Both stages run over windows that stay in place across the blocks of
    // the call: only the histories move, and the delay lines are written back
    // once at the end.
    alignas(64) int16_t bx[2 * BAND_PAIRS + QRS_BLOCK + FILTER_SLACK];
    alignas(64) int16_t ex[2 * ENV_PAIRS + QRS_BLOCK + FILTER_SLACK];
    LoadHistory(det.m_bandDelay, bx);
    LoadHistory(det.m_envDelay, ex);

    uint32_t total = 0;
    int16_t bandOldest = 0;
    int16_t envOldest = 0;
    for (uint32_t pos = 0; pos < count;) {
        const uint32_t m = std::min<uint32_t>(QRS_BLOCK, count - pos);
        std::memcpy(bx + BAND_HISTORY, input + pos, m * sizeof(int16_t));
        ZeroSlack<QRS_BAND_TAPS, BAND_PAIRS>(bx, m);
        // The band-pass output lands straight behind the envelope's history.
        kernels.band(bx, ex + ENV_HISTORY, m, pairs.band);
        ZeroSlack<QRS_ENV_TAPS, ENV_PAIRS>(ex, m);
        std::memcpy(det.m_bandOut, ex + ENV_HISTORY, m * sizeof(int16_t));
        kernels.env(ex, det.m_envOut, m, pairs.env);

        uint32_t found = 0;
        det.FindCandidates(det.m_envOut, m, output + total, &found, pos);
        total += found;
        pos += m;

        // The oldest entry of each delay line falls out of the next history.
        bandOldest = bx[m - 1];
        envOldest = ex[m - 1];
        std::memmove(bx, bx + m, BAND_HISTORY * sizeof(int16_t));
        std::memmove(ex, ex + m, ENV_HISTORY * sizeof(int16_t));
    }
    for (int k = 0; k < BAND_HISTORY; ++k)
        det.m_bandDelay[k] = bx[BAND_HISTORY - 1 - k];
    det.m_bandDelay[BAND_HISTORY] = bandOldest;
    for (int k = 0; k < ENV_HISTORY; ++k)
        det.m_envDelay[k] = ex[ENV_HISTORY - 1 - k];
    det.m_envDelay[ENV_HISTORY] = envOldest;

    *outCount = det.RefineCandidates(input, count, output, total);
    return true;
}

}  // namespace QrsFast
