// A simple ECG-like test signal: P wave, a sharp triangular R wave with a
// small S dip, T wave and a little deterministic noise.
#pragma once

#include <cstdint>
#include <vector>

// The R apex of beat k lies exactly at SyntheticFirstPeak(period) + k * period.
inline uint32_t SyntheticFirstPeak(uint32_t period) { return period / 2; }

// period and widths are in samples of the signal's own rate; halfWidth is
// the R wave's rise (10 suits 250 samples/s, 20 suits 500 samples/s).
inline std::vector<int16_t> SyntheticEcg(uint32_t n, uint32_t period, int amplitude, uint32_t seed,
                                         int halfWidth = 20)
{
    std::vector<int16_t> s(n);
    uint32_t rng = seed * 2654435761u + 1;
    for (uint32_t i = 0; i < n; ++i) {
        const int64_t t = int64_t(i % period) - int64_t(period / 2);  // 0 at the apex
        int64_t v = 0;
        if (t > -halfWidth && t < halfWidth)
            v = amplitude - (amplitude * (t < 0 ? -t : t)) / halfWidth;
        else if (t >= halfWidth && t < 2 * halfWidth)
            v = -amplitude / 8;
        const int64_t p = t + 4 * halfWidth * 2;  // P wave before the QRS
        if (p >= 0 && p < 2 * halfWidth)
            v += amplitude / 12;
        const int64_t tw = t - 6 * halfWidth;  // T wave after it
        if (tw >= 0 && tw < 6 * halfWidth)
            v += amplitude / 6 - (amplitude / 6) * (tw > 3 * halfWidth ? tw - 3 * halfWidth : 3 * halfWidth - tw) / (3 * halfWidth);
        rng = rng * 1664525u + 1013904223u;
        v += int64_t(rng >> 29) - 3;  // -3 .. 4
        s[i] = int16_t(v);
    }
    return s;
}
