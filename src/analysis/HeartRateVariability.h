// Time-domain heart-rate variability over normal-to-normal (NN) intervals:
// the RR intervals of the final beat list, less every interval that begins
// or ends at an irregular beat.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr uint32_t HRV_SEGMENT_SECONDS = 300;  // SDANN and SDNN index segments

struct HrvMeasures {
    size_t nnCount = 0;          // NN intervals
    size_t successiveCount = 0;  // pairs of adjacent NN intervals (RMSSD, pNN50)
    size_t segmentCount = 0;     // 5-minute segments with at least two NN intervals
    double meanNN = 0;           // ms; nnCount >= 1
    double sdnn = 0;             // ms, n - 1 in the denominator; nnCount >= 2
    double sdann = 0;            // ms, SD of the segment means; segmentCount >= 2
    double sdnnIndex = 0;        // ms, mean of the segment SDs; segmentCount >= 1
    double rmssd = 0;            // ms; successiveCount >= 1
    double pnn50 = 0;            // percent of successive differences above 50 ms; successiveCount >= 1
    double triangularIndex = 0;  // NN count / tallest bin of 1/128 s; nnCount >= 1

    bool HasMean() const { return nnCount >= 1; }
    bool HasSdnn() const { return nnCount >= 2; }
    bool HasSdann() const { return segmentCount >= 2; }
    bool HasSdnnIndex() const { return segmentCount >= 1; }
    bool HasSuccessive() const { return successiveCount >= 1; }
};

// beats: sorted sample positions; irregular: the irregular beats among them.
// Segments are counted from sample 0; an interval belongs to the segment of
// the beat that ends it.
HrvMeasures ComputeHrv(const std::vector<uint32_t>& beats, const std::vector<uint32_t>& irregular,
                       uint32_t sampleRate);
