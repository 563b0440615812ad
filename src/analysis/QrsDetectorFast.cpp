#include "analysis/QrsDetectorFast.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <iterator>
#include <memory>
#include <vector>

#include "analysis/QrsDetector.h"
#include "analysis/QrsDetectorFastKernels.h"
#include "analysis/WorkerPool.h"

namespace QrsFast {
namespace detail {
namespace {

inline int16_t Rectify(int32_t sum)
{
    const int16_t v = int16_t(sum >> 11);
    return int16_t(v < 0 ? -v : v);
}

// The tap table as it stands: compilers vectorise this form well enough.
template <int N, const int16_t (&taps)[N]>
void FilterPortable(const int16_t* x, int16_t* out, uint32_t m)
{
    for (uint32_t j = 0; j < m; ++j) {
        const int16_t* w = x + j;
        int32_t sum = 0;
        for (int q = 0; q < N; ++q)
            sum += int32_t(w[q]) * int32_t(taps[q]);
        out[j] = Rectify(sum);
    }
}

template <int P, int N>
void MakeLines(const int16_t (&taps)[N], int32_t (&even)[P][16], int32_t (&odd)[P][16])
{
    static_assert(P == N / 2 + 1);
    auto tap = [&taps](int q) { return uint16_t(q >= 0 && q < N ? taps[q] : 0); };
    auto pair = [&tap](int q) { return int32_t(uint32_t(tap(q)) | uint32_t(tap(q + 1)) << 16); };
    for (int i = 0; i < P; ++i) {
        std::fill(std::begin(even[i]), std::end(even[i]), pair(2 * i));
        std::fill(std::begin(odd[i]), std::end(odd[i]), pair(2 * i - 1));
    }
}

}  // namespace

alignas(64) int32_t g_bandEven[BAND_PAIRS][16];
alignas(64) int32_t g_bandOdd[BAND_PAIRS][16];
alignas(64) int32_t g_envEven[ENV_PAIRS][16];
alignas(64) int32_t g_envOdd[ENV_PAIRS][16];

void PrepareTaps()
{
    static const bool ready = [] {
        MakeLines(kBandPassTaps, g_bandEven, g_bandOdd);
        MakeLines(kEnvelopeTaps, g_envEven, g_envOdd);
        return true;
    }();
    (void)ready;
}

KernelSet PortableKernels()
{
    return {FilterPortable<QRS_BAND_TAPS, kBandPassTaps>, FilterPortable<QRS_ENV_TAPS, kEnvelopeTaps>};
}

}  // namespace detail

namespace {

using detail::BAND_PAIRS;
using detail::ENV_PAIRS;
using detail::FILTER_SLACK;
using detail::KernelSet;

constexpr int BAND_HISTORY = QRS_BAND_TAPS - 1;
constexpr int ENV_HISTORY = QRS_ENV_TAPS - 1;

KernelSet KernelsOf(Kernel k)
{
    switch (k) {
#if defined(__x86_64__)
    case Kernel::Sse2: return detail::Sse2Kernels();
    case Kernel::Avx2: return detail::Avx2Kernels();
    case Kernel::Avx512: return detail::Avx512Kernels();
    case Kernel::Avx512Vnni: return detail::Avx512VnniKernels();
#endif
    default: return detail::PortableKernels();
    }
}

std::atomic<int> g_active{-1};

KernelSet ActiveKernels()
{
    detail::PrepareTaps();
    return KernelsOf(ActiveKernel());
}

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
void FilterStream(detail::FilterFn fn, int16_t (&delay)[N], const int16_t* in, int16_t* out, uint32_t n)
{
    alignas(64) int16_t x[2 * P + QRS_BLOCK + FILTER_SLACK];
    while (n > 0) {
        const uint32_t m = std::min<uint32_t>(n, QRS_BLOCK);
        LoadHistory(delay, x);
        std::memcpy(x + N - 1, in, m * sizeof(int16_t));
        ZeroSlack<N, P>(x, m);
        fn(x, out, m);
        StoreHistory(x, m, delay);
        in += m;
        out += m;
        n -= m;
    }
}

// The first largest positive sample of input[from..to], or -1, with the
// maximum taken eight lanes at a time.
int64_t FirstMax(const int16_t* input, int64_t from, int64_t to)
{
    typedef int16_t Lanes __attribute__((vector_size(16)));
    constexpr int L = int(sizeof(Lanes) / sizeof(int16_t));
    const int16_t* w = input + from;
    const int len = int(to - from + 1);
    Lanes acc = {};
    int k = 0;
    for (; k + L <= len; k += L) {
        Lanes v;
        std::memcpy(&v, w + k, sizeof v);
        acc = acc > v ? acc : v;
    }
    int16_t best = 0;
    for (int l = 0; l < L; ++l)
        best = std::max(best, acc[l]);
    for (; k < len; ++k)
        best = std::max(best, w[k]);
    if (best <= 0)
        return -1;
    return int64_t(std::find(w, w + len, best) - w) + from;
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
#if defined(__x86_64__)
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
    FilterStream<QRS_BAND_TAPS, BAND_PAIRS>(ActiveKernels().band, det.m_bandDelay, in, out, n);
}

void Envelope(QrsDetector& det, const int16_t* in, int16_t* out, uint32_t n)
{
    FilterStream<QRS_ENV_TAPS, ENV_PAIRS>(ActiveKernels().env, det.m_envDelay, in, out, n);
}

bool Detect(QrsDetector& det, const int16_t* input, uint32_t count, uint32_t* output,
            uint32_t* outCount)
{
    *outCount = 0;
    if (count == 0)
        return true;
    const KernelSet kernels = ActiveKernels();

    // The band-pass reads the input in place wherever its window and the
    // kernel's slack lie inside it; the first block (behind the delay line)
    // and the last ones go through bx. The envelope runs over ex, into which
    // the band-pass writes. Blocks start on a cache line in both.
    constexpr uint32_t BAND_AT = 160;  // >= BAND_HISTORY, a multiple of 32
    constexpr uint32_t ENV_AT = 64;    // >= ENV_HISTORY, a multiple of 32
    constexpr uint32_t BAND_REACH = 2 * BAND_PAIRS + FILTER_SLACK - BAND_HISTORY;
    alignas(64) int16_t bx[BAND_AT + QRS_BLOCK + BAND_REACH];
    alignas(64) int16_t ex[ENV_AT + QRS_BLOCK + 2 * ENV_PAIRS + FILTER_SLACK - ENV_HISTORY];
    int16_t* const bandWin = bx + BAND_AT - BAND_HISTORY;
    int16_t* const envWin = ex + ENV_AT - ENV_HISTORY;
    LoadHistory(det.m_bandDelay, bandWin);
    LoadHistory(det.m_envDelay, envWin);

    uint32_t total = 0;
    uint32_t m = 0;
    int16_t envOldest = 0;
    for (uint32_t pos = 0; pos < count; pos += m) {
        m = std::min<uint32_t>(QRS_BLOCK, count - pos);
        const int16_t* bandIn = bandWin;
        if (pos >= uint32_t(BAND_HISTORY) && count - pos - m >= BAND_REACH) {
            bandIn = input + pos - BAND_HISTORY;
        } else {
            if (pos > 0)
                std::memcpy(bandWin, input + pos - BAND_HISTORY, BAND_HISTORY * sizeof(int16_t));
            std::memcpy(bx + BAND_AT, input + pos, m * sizeof(int16_t));
            std::fill(bx + BAND_AT + m, bx + BAND_AT + m + BAND_REACH, int16_t(0));
        }
        kernels.band(bandIn, ex + ENV_AT, m);
        std::fill(ex + ENV_AT + m, std::end(ex), int16_t(0));
        std::memcpy(det.m_bandOut, ex + ENV_AT, m * sizeof(int16_t));
        kernels.env(envWin, det.m_envOut, m);

        uint32_t found = 0;
        det.FindCandidates(det.m_envOut, m, output + total, &found, pos);
        total += found;

        // The oldest entry of the envelope's delay line falls out of the next history.
        envOldest = envWin[m - 1];
        std::memmove(envWin, envWin + m, ENV_HISTORY * sizeof(int16_t));
    }

    if (count >= uint32_t(QRS_BAND_TAPS)) {
        for (int k = 0; k < QRS_BAND_TAPS; ++k)
            det.m_bandDelay[k] = input[count - 1 - k];
    } else {
        StoreHistory(bandWin, count, det.m_bandDelay);  // one block, in bx
    }
    for (int k = 0; k < ENV_HISTORY; ++k)
        det.m_envDelay[k] = envWin[ENV_HISTORY - 1 - k];
    det.m_envDelay[ENV_HISTORY] = envOldest;

    *outCount = RefineCandidatesWith(input, count, output, total, uint32_t(det.m_nMinSpacing), FirstMax);
    return true;
}

namespace {

// Samples a piece of the stream looks back on: the band-pass's history for
// the envelope's history.
constexpr uint32_t PIECE_WARM_UP = QRS_ENV_TAPS + QRS_BAND_TAPS;
// Below this a piece is not worth a thread's wake-up.
constexpr uint32_t PIECE_MIN = 8 * QRS_BLOCK;
static_assert(PIECE_MIN >= PIECE_WARM_UP);

// The envelope of stream[a, b) into env[a, b). The filters' delay lines come
// from the detector at the stream's start, elsewhere from the samples before
// a; they end as the piece leaves them.
void FilterPiece(const KernelSet& kernels, const int16_t* stream, uint32_t a, uint32_t b,
                 int16_t (&band)[QRS_BAND_TAPS], int16_t (&envelope)[QRS_ENV_TAPS], int16_t* env)
{
    if (a > 0) {
        // a >= PIECE_WARM_UP: the band-pass's delay line before the warm-up,
        // then the warm-up's outputs are the envelope's.
        const uint32_t w = a - QRS_ENV_TAPS;
        for (int k = 0; k < QRS_BAND_TAPS; ++k)
            band[k] = stream[w - 1 - uint32_t(k)];
        int16_t warm[QRS_ENV_TAPS];
        FilterStream<QRS_BAND_TAPS, BAND_PAIRS>(kernels.band, band, stream + w, warm, QRS_ENV_TAPS);
        for (int k = 0; k < QRS_ENV_TAPS; ++k)
            envelope[k] = warm[QRS_ENV_TAPS - 1 - k];
    }
    // Every value is written before it is read: no need to clear it.
    const std::unique_ptr<int16_t[]> banded(new int16_t[b - a]);
    FilterStream<QRS_BAND_TAPS, BAND_PAIRS>(kernels.band, band, stream + a, banded.get(), b - a);
    FilterStream<QRS_ENV_TAPS, ENV_PAIRS>(kernels.env, envelope, banded.get(), env + a, b - a);
}

}  // namespace

void DetectCalls(QrsDetector& det, const int16_t* stream, const uint32_t* counts, uint32_t calls,
                 WorkerPool& pool, uint32_t* positions, const std::function<void(uint32_t, uint32_t)>& found)
{
    uint64_t total64 = 0;
    for (uint32_t k = 0; k < calls; ++k)
        total64 += counts[k];
    const uint32_t total = uint32_t(total64);
    if (total == 0) {
        for (uint32_t k = 0; k < calls; ++k)
            found(k, 0);
        return;
    }
    const KernelSet kernels = ActiveKernels();

    // The filters are finite: each piece starts afresh from the samples
    // before it, so the pieces give exactly the one stream's envelope.
    const uint32_t most = std::max<uint32_t>(1, total / PIECE_MIN);
    const uint32_t pieces = std::min<uint32_t>(uint32_t(std::max(pool.Size(), 1)), most);
    std::vector<uint32_t> bounds(pieces + 1);
    for (uint32_t p = 0; p <= pieces; ++p)
        bounds[p] = uint32_t(uint64_t(total) * p / pieces);
    const std::unique_ptr<int16_t[]> env(new int16_t[total]);
    int16_t lastBand[QRS_BAND_TAPS], lastEnv[QRS_ENV_TAPS];
    pool.Run(int(pieces), [&](int p) {
        int16_t band[QRS_BAND_TAPS], envelope[QRS_ENV_TAPS];
        std::copy(std::begin(det.m_bandDelay), std::end(det.m_bandDelay), band);
        std::copy(std::begin(det.m_envDelay), std::end(det.m_envDelay), envelope);
        FilterPiece(kernels, stream, bounds[p], bounds[p + 1], band, envelope, env.get());
        if (uint32_t(p) + 1 == pieces) {
            std::copy(std::begin(band), std::end(band), lastBand);
            std::copy(std::begin(envelope), std::end(envelope), lastEnv);
        }
    });
    std::copy(std::begin(lastBand), std::end(lastBand), det.m_bandDelay);
    std::copy(std::begin(lastEnv), std::end(lastEnv), det.m_envDelay);

    // The threshold follows the stream: one call after another.
    uint32_t offset = 0;
    for (uint32_t k = 0; k < calls; ++k) {
        const uint32_t count = counts[k];
        uint32_t n = 0;
        for (uint32_t pos = 0; pos < count; pos += QRS_BLOCK) {
            const uint32_t m = std::min<uint32_t>(QRS_BLOCK, count - pos);
            uint32_t got = 0;
            det.FindCandidates(env.get() + offset + pos, m, positions + n, &got, pos);
            n += got;
        }
        n = RefineCandidatesWith(stream + offset, count, positions, n, uint32_t(det.m_nMinSpacing), FirstMax);
        found(k, n);
        offset += count;
    }
}

}  // namespace QrsFast
