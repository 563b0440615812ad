// x86 filter kernels: 16x16->32 bit multiply-adds of word pairs (pmaddwd).
//
// A load at x + 2s gives, in its 32-bit lane l, the words x[2s + 2l] and
// x[2s + 2l + 1]. Multiplied by the tap pair (T[2i], T[2i + 1]) that is the
// contribution of taps 2i and 2i + 1 to the even output 2(s + l - i); by the
// pair (T[2i - 1], T[2i]) it is that of taps 2i - 1 and 2i to the odd output
// 2(s + l - i) + 1. So one stream of loads feeds two accumulators, even and
// odd outputs in 32-bit lanes, with no horizontal reduction, no shuffle and
// no wasted product (but the zero taps that pad the tables).
//
// One pass computes G groups of W outputs (W = the vector's word count). Group
// g needs the load at s = g W/2 + i for pair i, so group g + 1 reuses the
// loads of group g W/2 steps later: the pass walks s once and feeds each load
// to every group it serves. Loads then come to about (P + (G-1) W/2) / (2 G P)
// per multiply-add; the tap pair comes straight from memory, broadcast or from
// a pre-broadcast line, so it costs no register.
//
// Overflow: |x| <= 32768 and the taps' magnitudes sum to 17848 (band-pass) and
// 8965 (envelope), so no sum, partial or complete, exceeds 32768 * 17848 =
// 584 843 264 < 2^31. The order of the additions therefore cannot change a
// result, and the word-pair products never reach pmaddwd's one saturating case
// (both pairs -32768 * -32768).
#include "analysis/QrsDetectorFastKernels.h"

#if defined(__x86_64__)

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
    // A pass reads up to 2P + kOut - 3 words past its first output.
    static_assert(kOut <= FILTER_SLACK);
    uint32_t j = 0;
    for (; j + kOut <= m; j += kOut)
        step(x + j, out + j);
    if (j < m) {
        alignas(64) int16_t tail[kOut];
        step(x + j, tail);
        std::memcpy(out + j, tail, (m - j) * sizeof(int16_t));
    }
}

// The multiply-adds with the tap pair as a memory operand are written in
// assembly, the accumulation included: as intrinsics, the compiler keeps each
// broadcast pair in a register for the W/2 steps until its next use, or
// regroups the additions into a tree of live products, and runs out of
// registers either way.

// ---- SSE2: 8 outputs per group ----

QRS_TARGET_SSE2 inline __m128i MaddSse2(__m128i acc, __m128i d, const int32_t (&pair)[16])
{
    asm("pmaddwd %2, %1\n\tpaddd %1, %0"
        : "+x"(acc), "+x"(d)
        : "m"(*reinterpret_cast<const __m128i*>(pair)));
    return acc;
}

QRS_TARGET_SSE2 inline __m128i PackSse2(__m128i even, __m128i odd)
{
    // Bits 11..26 of each sum: the low word from the even, the high from the odd lane.
    const __m128i lo = _mm_srli_epi32(_mm_slli_epi32(even, 5), 16);
    const __m128i hi = _mm_slli_epi32(_mm_srli_epi32(odd, 11), 16);
    const __m128i v = _mm_or_si128(lo, hi);
    const __m128i sign = _mm_srai_epi16(v, 15);
    return _mm_sub_epi16(_mm_xor_si128(v, sign), sign);
}

template <int P, const int32_t (&even)[P][16], const int32_t (&odd)[P][16]>
QRS_TARGET_SSE2 void FilterSse2(const int16_t* x, int16_t* out, uint32_t m)
{
    constexpr int G = 4, H = 4;
    RunPasses<8 * G>(x, out, m, [](const int16_t* xs, int16_t* os) QRS_TARGET_SSE2 {
        __m128i e[G], o[G];
#pragma GCC unroll 8
        for (int g = 0; g < G; ++g)
            e[g] = o[g] = _mm_setzero_si128();
#pragma GCC unroll 128
        for (int s = 0; s < P + H * (G - 1); ++s) {
            const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(xs + 2 * s));
#pragma GCC unroll 8
            for (int g = 0; g < G; ++g) {
                const int i = s - H * g;
                if (i >= 0 && i < P) {
                    e[g] = MaddSse2(e[g], d, even[i]);
                    o[g] = MaddSse2(o[g], d, odd[i]);
                }
            }
        }
#pragma GCC unroll 8
        for (int g = 0; g < G; ++g)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(os + 8 * g), PackSse2(e[g], o[g]));
    });
}

// ---- AVX2: 16 outputs per group ----

QRS_TARGET_AVX2 inline __m256i MaddAvx2(__m256i acc, __m256i d, const int32_t (&pair)[16])
{
    __m256i t;
    asm("vpmaddwd %3, %2, %1\n\tvpaddd %1, %0, %0"
        : "+x"(acc), "=&x"(t)
        : "x"(d), "m"(*reinterpret_cast<const __m256i*>(pair)));
    return acc;
}

QRS_TARGET_AVX2 inline __m256i PackAvx2(__m256i even, __m256i odd)
{
    const __m256i lo = _mm256_srli_epi32(even, 11);
    const __m256i hi = _mm256_slli_epi32(odd, 5);
    return _mm256_abs_epi16(_mm256_blend_epi16(lo, hi, 0xAA));
}

template <int P, const int32_t (&even)[P][16], const int32_t (&odd)[P][16]>
QRS_TARGET_AVX2 void FilterAvx2(const int16_t* x, int16_t* out, uint32_t m)
{
    constexpr int G = 4, H = 8;
    RunPasses<16 * G>(x, out, m, [](const int16_t* xs, int16_t* os) QRS_TARGET_AVX2 {
        __m256i e[G], o[G];
#pragma GCC unroll 8
        for (int g = 0; g < G; ++g)
            e[g] = o[g] = _mm256_setzero_si256();
#pragma GCC unroll 128
        for (int s = 0; s < P + H * (G - 1); ++s) {
            const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(xs + 2 * s));
#pragma GCC unroll 8
            for (int g = 0; g < G; ++g) {
                const int i = s - H * g;
                if (i >= 0 && i < P) {
                    e[g] = MaddAvx2(e[g], d, even[i]);
                    o[g] = MaddAvx2(o[g], d, odd[i]);
                }
            }
        }
#pragma GCC unroll 8
        for (int g = 0; g < G; ++g)
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(os + 16 * g), PackAvx2(e[g], o[g]));
    });
}

// ---- AVX-512: 32 outputs per group ----

QRS_TARGET_AVX512 inline __m512i MaddAvx512(__m512i acc, __m512i d, const int32_t (&pair)[16])
{
    __m512i t;
    asm("vpmaddwd %3, %2, %1\n\tvpaddd %1, %0, %0"
        : "+v"(acc), "=&v"(t)
        : "v"(d), "m"(*reinterpret_cast<const __m512i*>(pair)));
    return acc;
}

QRS_TARGET_VNNI inline __m512i MaddVnni(__m512i acc, __m512i d, const int32_t (&pair)[16])
{
    asm("vpdpwssd %2%{1to16%}, %1, %0" : "+v"(acc) : "v"(d), "m"(pair[0]));
    return acc;
}

QRS_TARGET_AVX512 inline __m512i PackAvx512(__m512i even, __m512i odd)
{
    const __m512i lo = _mm512_srli_epi32(even, 11);
    const __m512i hi = _mm512_slli_epi32(odd, 5);
    return _mm512_abs_epi16(_mm512_mask_blend_epi16(0xAAAAAAAAu, lo, hi));
}

template <int P, const int32_t (&even)[P][16], const int32_t (&odd)[P][16]>
QRS_TARGET_AVX512 void FilterAvx512(const int16_t* x, int16_t* out, uint32_t m)
{
    constexpr int G = 4, H = 16;
    RunPasses<32 * G>(x, out, m, [](const int16_t* xs, int16_t* os) QRS_TARGET_AVX512 {
        __m512i e[G], o[G];
#pragma GCC unroll 8
        for (int g = 0; g < G; ++g)
            e[g] = o[g] = _mm512_setzero_si512();
#pragma GCC unroll 128
        for (int s = 0; s < P + H * (G - 1); ++s) {
            const __m512i d = _mm512_loadu_si512(xs + 2 * s);
#pragma GCC unroll 8
            for (int g = 0; g < G; ++g) {
                const int i = s - H * g;
                if (i >= 0 && i < P) {
                    e[g] = MaddAvx512(e[g], d, even[i]);
                    o[g] = MaddAvx512(o[g], d, odd[i]);
                }
            }
        }
#pragma GCC unroll 8
        for (int g = 0; g < G; ++g)
            _mm512_storeu_si512(os + 32 * g, PackAvx512(e[g], o[g]));
    });
}

template <int P, const int32_t (&even)[P][16], const int32_t (&odd)[P][16]>
QRS_TARGET_VNNI void FilterVnni(const int16_t* x, int16_t* out, uint32_t m)
{
    constexpr int G = 4, H = 16;
    RunPasses<32 * G>(x, out, m, [](const int16_t* xs, int16_t* os) QRS_TARGET_VNNI {
        __m512i e[G], o[G];
#pragma GCC unroll 8
        for (int g = 0; g < G; ++g)
            e[g] = o[g] = _mm512_setzero_si512();
#pragma GCC unroll 128
        for (int s = 0; s < P + H * (G - 1); ++s) {
            const __m512i d = _mm512_loadu_si512(xs + 2 * s);
#pragma GCC unroll 8
            for (int g = 0; g < G; ++g) {
                const int i = s - H * g;
                if (i >= 0 && i < P) {
                    e[g] = MaddVnni(e[g], d, even[i]);
                    o[g] = MaddVnni(o[g], d, odd[i]);
                }
            }
        }
#pragma GCC unroll 8
        for (int g = 0; g < G; ++g)
            _mm512_storeu_si512(os + 32 * g, PackAvx512(e[g], o[g]));
    });
}

}  // namespace

KernelSet Sse2Kernels() { return {FilterSse2<BAND_PAIRS, g_bandEven, g_bandOdd>, FilterSse2<ENV_PAIRS, g_envEven, g_envOdd>}; }
KernelSet Avx2Kernels() { return {FilterAvx2<BAND_PAIRS, g_bandEven, g_bandOdd>, FilterAvx2<ENV_PAIRS, g_envEven, g_envOdd>}; }
KernelSet Avx512Kernels()
{
    return {FilterAvx512<BAND_PAIRS, g_bandEven, g_bandOdd>, FilterAvx512<ENV_PAIRS, g_envEven, g_envOdd>};
}
KernelSet Avx512VnniKernels()
{
    return {FilterVnni<BAND_PAIRS, g_bandEven, g_bandOdd>, FilterVnni<ENV_PAIRS, g_envEven, g_envOdd>};
}

}  // namespace QrsFast::detail

#endif
