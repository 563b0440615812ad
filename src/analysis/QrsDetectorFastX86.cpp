// x86 filter kernels: 16x16->32 bit multiply-adds of word pairs (pmaddwd).
//
// Outputs are split by parity. A load at x + j + 2i gives, in its 32-bit lane
// l, the words x[j + 2l + 2i] and x[j + 2l + 2i + 1]: multiplied by the tap
// pair (T[2i], T[2i + 1]) that is the contribution of taps 2i and 2i + 1 to
// output j + 2l. The load at x + j + 2i + 1 does the same for output
// j + 2l + 1. Summing over i gives the even and the odd outputs in 32-bit
// lanes, with no horizontal reduction and no wasted product.
//
// Overflow: |x| <= 32768 and the taps' magnitudes sum to 17848 (band-pass) and
// 8965 (envelope), so no sum, partial or complete, exceeds 32768 * 17848 =
// 584 843 264 < 2^31. The order of the additions therefore cannot change a
// result, and the word-pair products never hit pmaddwd's one saturating case.
//
// Each kernel computes several groups of outputs per pass so that the
// multiply-adds of one tap pair share its broadcast and keep enough
// independent accumulators in flight.
#include "analysis/QrsDetectorFastKernels.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include <cstring>

// GCC 12 reports the deliberately undefined pass-through operand of the
// AVX-512 shift intrinsics as maybe uninitialised.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#define QRS_TARGET_SSE2 __attribute__((target("sse2")))
#define QRS_TARGET_AVX2 __attribute__((target("avx2")))
#define QRS_TARGET_AVX512 __attribute__((target("avx512f,avx512bw")))
#define QRS_TARGET_VNNI __attribute__((target("avx512f,avx512bw,avx512vnni")))

namespace QrsFast::detail {
namespace {

// Runs Step over whole passes of kOut outputs; the last partial pass goes
// through a scratch buffer so that nothing past out[m) is written.
template <uint32_t kOut, typename StepFn>
inline __attribute__((always_inline)) void RunPasses(const int16_t* x, int16_t* out, uint32_t m,
                                                     StepFn step)
{
    uint32_t j = 0;
    for (; j + kOut <= m; j += kOut)
        step(x + j, out + j);
    if (j < m) {
        alignas(64) int16_t tail[kOut];
        step(x + j, tail);
        std::memcpy(out + j, tail, (m - j) * sizeof(int16_t));
    }
}

// ---- SSE2: 8 outputs per group ----

QRS_TARGET_SSE2 inline __m128i PackSse2(__m128i even, __m128i odd)
{
    // Bits 11..26 of each sum: the low word from the even, the high from the odd lane.
    const __m128i lo = _mm_srli_epi32(_mm_slli_epi32(even, 5), 16);
    const __m128i hi = _mm_slli_epi32(_mm_srli_epi32(odd, 11), 16);
    const __m128i v = _mm_or_si128(lo, hi);
    const __m128i sign = _mm_srai_epi16(v, 15);
    return _mm_sub_epi16(_mm_xor_si128(v, sign), sign);
}

template <int P>
QRS_TARGET_SSE2 void FilterSse2(const int16_t* x, int16_t* out, uint32_t m, const int32_t* pairs)
{
    constexpr int G = 4;
    RunPasses<8 * G>(x, out, m, [pairs](const int16_t* xs, int16_t* os) QRS_TARGET_SSE2 {
        __m128i e[G], o[G];
#pragma GCC unroll 8
        for (int g = 0; g < G; ++g)
            e[g] = o[g] = _mm_setzero_si128();
        for (int i = 0; i < P; ++i) {
            const __m128i c = _mm_set1_epi32(pairs[i]);
            const int16_t* p = xs + 2 * i;
#pragma GCC unroll 8
            for (int g = 0; g < G; ++g) {
                const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8 * g));
                const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8 * g + 1));
                e[g] = _mm_add_epi32(e[g], _mm_madd_epi16(a, c));
                o[g] = _mm_add_epi32(o[g], _mm_madd_epi16(b, c));
            }
        }
#pragma GCC unroll 8
        for (int g = 0; g < G; ++g)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(os + 8 * g), PackSse2(e[g], o[g]));
    });
}

// ---- AVX2: 16 outputs per group ----

QRS_TARGET_AVX2 inline __m256i PackAvx2(__m256i even, __m256i odd)
{
    const __m256i lo = _mm256_srli_epi32(even, 11);
    const __m256i hi = _mm256_slli_epi32(odd, 5);
    return _mm256_abs_epi16(_mm256_blend_epi16(lo, hi, 0xAA));
}

template <int P>
QRS_TARGET_AVX2 void FilterAvx2(const int16_t* x, int16_t* out, uint32_t m, const int32_t* pairs)
{
    constexpr int G = 4;
    RunPasses<16 * G>(x, out, m, [pairs](const int16_t* xs, int16_t* os) QRS_TARGET_AVX2 {
        __m256i e[G], o[G];
#pragma GCC unroll 8
        for (int g = 0; g < G; ++g)
            e[g] = o[g] = _mm256_setzero_si256();
        for (int i = 0; i < P; ++i) {
            const __m256i c = _mm256_set1_epi32(pairs[i]);
            const int16_t* p = xs + 2 * i;
#pragma GCC unroll 8
            for (int g = 0; g < G; ++g) {
                const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 16 * g));
                const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 16 * g + 1));
                e[g] = _mm256_add_epi32(e[g], _mm256_madd_epi16(a, c));
                o[g] = _mm256_add_epi32(o[g], _mm256_madd_epi16(b, c));
            }
        }
#pragma GCC unroll 8
        for (int g = 0; g < G; ++g)
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(os + 16 * g), PackAvx2(e[g], o[g]));
    });
}

// ---- AVX-512: 32 outputs per group ----

QRS_TARGET_AVX512 inline __m512i PackAvx512(__m512i even, __m512i odd)
{
    const __m512i lo = _mm512_srli_epi32(even, 11);
    const __m512i hi = _mm512_slli_epi32(odd, 5);
    return _mm512_abs_epi16(_mm512_mask_blend_epi16(0xAAAAAAAAu, lo, hi));
}

template <int P>
QRS_TARGET_AVX512 void FilterAvx512(const int16_t* x, int16_t* out, uint32_t m, const int32_t* pairs)
{
    constexpr int G = 4;
    RunPasses<32 * G>(x, out, m, [pairs](const int16_t* xs, int16_t* os) QRS_TARGET_AVX512 {
        __m512i e[G], o[G];
#pragma GCC unroll 8
        for (int g = 0; g < G; ++g)
            e[g] = o[g] = _mm512_setzero_si512();
        for (int i = 0; i < P; ++i) {
            const __m512i c = _mm512_set1_epi32(pairs[i]);
            const int16_t* p = xs + 2 * i;
#pragma GCC unroll 8
            for (int g = 0; g < G; ++g) {
                e[g] = _mm512_add_epi32(e[g], _mm512_madd_epi16(_mm512_loadu_si512(p + 32 * g), c));
                o[g] = _mm512_add_epi32(o[g], _mm512_madd_epi16(_mm512_loadu_si512(p + 32 * g + 1), c));
            }
        }
#pragma GCC unroll 8
        for (int g = 0; g < G; ++g)
            _mm512_storeu_si512(os + 32 * g, PackAvx512(e[g], o[g]));
    });
}

template <int P>
QRS_TARGET_VNNI void FilterVnni(const int16_t* x, int16_t* out, uint32_t m, const int32_t* pairs)
{
    constexpr int G = 4;
    RunPasses<32 * G>(x, out, m, [pairs](const int16_t* xs, int16_t* os) QRS_TARGET_VNNI {
        __m512i e[G], o[G];
#pragma GCC unroll 8
        for (int g = 0; g < G; ++g)
            e[g] = o[g] = _mm512_setzero_si512();
        for (int i = 0; i < P; ++i) {
            const __m512i c = _mm512_set1_epi32(pairs[i]);
            const int16_t* p = xs + 2 * i;
#pragma GCC unroll 8
            for (int g = 0; g < G; ++g) {
                e[g] = _mm512_dpwssd_epi32(e[g], _mm512_loadu_si512(p + 32 * g), c);
                o[g] = _mm512_dpwssd_epi32(o[g], _mm512_loadu_si512(p + 32 * g + 1), c);
            }
        }
#pragma GCC unroll 8
        for (int g = 0; g < G; ++g)
            _mm512_storeu_si512(os + 32 * g, PackAvx512(e[g], o[g]));
    });
}

}  // namespace

KernelSet Sse2Kernels() { return {FilterSse2<BAND_PAIRS>, FilterSse2<ENV_PAIRS>}; }
KernelSet Avx2Kernels() { return {FilterAvx2<BAND_PAIRS>, FilterAvx2<ENV_PAIRS>}; }
KernelSet Avx512Kernels() { return {FilterAvx512<BAND_PAIRS>, FilterAvx512<ENV_PAIRS>}; }
KernelSet Avx512VnniKernels() { return {FilterVnni<BAND_PAIRS>, FilterVnni<ENV_PAIRS>}; }

}  // namespace QrsFast::detail

#endif
