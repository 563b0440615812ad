// Fixed-point R-wave detector working on a 500 samples/s stream.
#pragma once

#include <algorithm>
#include <cstdint>

constexpr int QRS_BAND_TAPS = 144;
constexpr int QRS_ENV_TAPS = 51;
constexpr int QRS_BLOCK = 1500;
constexpr int QRS_DECIMATION = 25;
constexpr int QRS_SEARCH = 100;
constexpr int QRS_BACKOFF = 125;
constexpr int QRS_THRESHOLD_FLOOR = 600;

extern const int16_t kBandPassTaps[QRS_BAND_TAPS];
extern const int16_t kEnvelopeTaps[QRS_ENV_TAPS];

// The last pass of detection, in place: moves each candidate c to the first
// largest positive sample of its window c .. c + QRS_SEARCH (clipped to the
// input; it stays at c when there is none) and keeps those more than
// minSpacing after the last one kept. firstMax(input, from, to) gives the
// index of that sample in from..to, or -1. Returns the number kept.
template <class FirstMax>
uint32_t RefineCandidatesWith(const int16_t* input, uint32_t count, uint32_t* positions, uint32_t n,
                              uint32_t minSpacing, FirstMax firstMax)
{
    uint32_t last = 0;
    uint32_t accepted = 0;
    for (uint32_t idx = 0; idx < n; ++idx) {
        const uint32_t c = positions[idx];
        const int64_t cs = int32_t(c);
        // A candidate of a call's first block may begin before the input.
        const int64_t from = std::max<int64_t>(cs, 0);
        const int64_t to = std::min<int64_t>(cs + QRS_SEARCH, int64_t(count) - 1);
        const int64_t best = from <= to ? firstMax(input, from, to) : -1;
        const uint32_t p = best < 0 ? c : c + uint32_t(best - cs);
        if (p - last > minSpacing) {
            positions[accepted++] = p;
            last = p;
        }
    }
    return accepted;
}

class QrsDetector {
public:
    QrsDetector() { Reset(); }

    void Reset();
    // Finds R waves in count samples; positions are indices into input,
    // ascending. output needs room for 31 candidates per 1500 samples.
    bool Detect(const int16_t* input, uint32_t count, uint32_t* output, uint32_t* outCount);

    void BandPass(const int16_t* in, int16_t* out, uint32_t n);
    void Envelope(const int16_t* in, int16_t* out, uint32_t n);

    // The plain arithmetic. Detect, BandPass and Envelope run the vectorised
    // filters of QrsDetectorFast.h, which must match these bit for bit, state
    // included.
    bool DetectReference(const int16_t* input, uint32_t count, uint32_t* output, uint32_t* outCount);
    void BandPassReference(const int16_t* in, int16_t* out, uint32_t n);
    void EnvelopeReference(const int16_t* in, int16_t* out, uint32_t n);
    int16_t UpdateThreshold(const int16_t* run, uint32_t n);
    bool FindCandidates(const int16_t* env, uint32_t m, uint32_t* out, uint32_t* outCount, uint32_t offset);
    // The last pass of Detect: moves each candidate to the largest sample of
    // its 101-sample window and keeps those more than m_nMinSpacing apart,
    // in place. Returns the number kept.
    uint32_t RefineCandidates(const int16_t* input, uint32_t count, uint32_t* positions, uint32_t n) const;

    // RR-irregularity scan; uses no detector state.
    static uint32_t FindIrregularRR(const uint32_t* rr, uint32_t n, int32_t* out, uint32_t cap);

    int32_t m_nThreshold;
    int32_t m_nMinSpacing;
    int16_t m_envDelay[QRS_ENV_TAPS];
    int16_t m_bandDelay[QRS_BAND_TAPS];
    int16_t m_nCarry;
    int16_t m_bandOut[QRS_BLOCK];
    int16_t m_envOut[QRS_BLOCK];
};
