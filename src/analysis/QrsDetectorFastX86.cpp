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

// Each instruction set's code is compiled for its own target: GCC takes a
// target pragma, clang (the fuzzing build) an attribute applied to a region.
#define QRS_PRAGMA(x) _Pragma(#x)
#if defined(__clang__)
#define QRS_TARGET_BEGIN(t) QRS_PRAGMA(clang attribute push(__attribute__((target(t))), apply_to = function))
#define QRS_TARGET_END() QRS_PRAGMA(clang attribute pop)
#else
#define QRS_TARGET_BEGIN(t) QRS_PRAGMA(GCC push_options) QRS_PRAGMA(GCC target(t))
#define QRS_TARGET_END() QRS_PRAGMA(GCC pop_options)
#endif

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

// Each instruction set below gives Vec, W (words per vector), Zero, Load,
// Store, Madd and Pack under its own target pragma; QrsDetectorFastPass.h
// then makes its filter kernels from them.

// ---- SSE2: 8 outputs per group ----
QRS_TARGET_BEGIN("sse2")
namespace sse2 {

using Vec = __m128i;
constexpr int W = 8;
inline Vec Zero() { return _mm_setzero_si128(); }
inline Vec Load(const int16_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void Store(int16_t* p, Vec v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

inline Vec Madd(Vec acc, Vec d, const int32_t (&pair)[16])
{
    asm("pmaddwd %2, %1\n\tpaddd %1, %0"
        : "+x"(acc), "+x"(d)
        : "m"(*reinterpret_cast<const __m128i*>(pair)));
    return acc;
}

inline Vec Pack(Vec even, Vec odd)
{
    // Bits 11..26 of each sum: the low word from the even, the high from the odd lane.
    const __m128i lo = _mm_srli_epi32(_mm_slli_epi32(even, 5), 16);
    const __m128i hi = _mm_slli_epi32(_mm_srli_epi32(odd, 11), 16);
    const __m128i v = _mm_or_si128(lo, hi);
    const __m128i sign = _mm_srai_epi16(v, 15);
    return _mm_sub_epi16(_mm_xor_si128(v, sign), sign);
}

#include "analysis/QrsDetectorFastPass.h"

}  // namespace sse2
QRS_TARGET_END()

// ---- AVX2: 16 outputs per group ----
QRS_TARGET_BEGIN("avx2")
namespace avx2 {

using Vec = __m256i;
constexpr int W = 16;
inline Vec Zero() { return _mm256_setzero_si256(); }
inline Vec Load(const int16_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
inline void Store(int16_t* p, Vec v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }

inline Vec Madd(Vec acc, Vec d, const int32_t (&pair)[16])
{
    __m256i t;
    asm("vpmaddwd %3, %2, %1\n\tvpaddd %1, %0, %0"
        : "+x"(acc), "=&x"(t)
        : "x"(d), "m"(*reinterpret_cast<const __m256i*>(pair)));
    return acc;
}

inline Vec Pack(Vec even, Vec odd)
{
    const __m256i lo = _mm256_srli_epi32(even, 11);
    const __m256i hi = _mm256_slli_epi32(odd, 5);
    return _mm256_abs_epi16(_mm256_blend_epi16(lo, hi, 0xAA));
}

#include "analysis/QrsDetectorFastPass.h"

}  // namespace avx2
QRS_TARGET_END()

// ---- AVX-512: 32 outputs per group ----
QRS_TARGET_BEGIN("avx512f,avx512bw")
namespace avx512 {

using Vec = __m512i;
constexpr int W = 32;
inline Vec Zero() { return _mm512_setzero_si512(); }
inline Vec Load(const int16_t* p) { return _mm512_loadu_si512(p); }
inline void Store(int16_t* p, Vec v) { _mm512_storeu_si512(p, v); }

inline Vec Madd(Vec acc, Vec d, const int32_t (&pair)[16])
{
    __m512i t;
    asm("vpmaddwd %3, %2, %1\n\tvpaddd %1, %0, %0"
        : "+v"(acc), "=&v"(t)
        : "v"(d), "m"(*reinterpret_cast<const __m512i*>(pair)));
    return acc;
}

inline Vec Pack(Vec even, Vec odd)
{
    const __m512i lo = _mm512_srli_epi32(even, 11);
    const __m512i hi = _mm512_slli_epi32(odd, 5);
    return _mm512_abs_epi16(_mm512_mask_blend_epi16(0xAAAAAAAAu, lo, hi));
}

#include "analysis/QrsDetectorFastPass.h"

}  // namespace avx512
QRS_TARGET_END()

// ---- AVX-512 VNNI: the same with the fused multiply-add ----
QRS_TARGET_BEGIN("avx512f,avx512bw,avx512vnni")
namespace vnni {

using avx512::Load;
using avx512::Pack;
using avx512::Store;
using avx512::Vec;
using avx512::W;
using avx512::Zero;

inline Vec Madd(Vec acc, Vec d, const int32_t (&pair)[16])
{
    asm("vpdpwssd %2%{1to16%}, %1, %0" : "+v"(acc) : "v"(d), "m"(pair[0]));
    return acc;
}

#include "analysis/QrsDetectorFastPass.h"

}  // namespace vnni
QRS_TARGET_END()

}  // namespace

KernelSet Sse2Kernels() { return sse2::Kernels(); }
KernelSet Avx2Kernels() { return avx2::Kernels(); }
KernelSet Avx512Kernels() { return avx512::Kernels(); }
KernelSet Avx512VnniKernels() { return vnni::Kernels(); }

}  // namespace QrsFast::detail

#endif
