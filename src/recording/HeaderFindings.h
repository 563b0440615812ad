// The recorder's own findings in a short recording's header, decoded into the
// units they are shown in. The result pane and the printed report read them.
#pragma once

#include <cstdint>

struct RecordingHeader;

struct HeaderFindings {
    float fHeartRateBpm;     // stored in 0.1 bpm
    int nPrIntervalMs;       // stored in 2 ms units
    int nQtIntervalMs;       // stored in 2 ms units
    int nRrIntervalMs;       // mean RR of the beat table (4 ms a sample); 0 with fewer than two beats
    float fRAmplitudeMv;     // stored in units of 1/ECG_UNITS_PER_MV
    float fPAmplitudeMv;
    float fTAmplitudeMv;
    float fStLevelMv;
    int nQrsCount;           // as stored, even beyond the records the header holds
    // Verdict bits: valid only when bVerdicts is set.
    bool bVerdicts;
    bool bIrregularRhythm;
    bool bPoorWaveform;
    unsigned nRateVerdict;   // 0 normal, 1 slightly slow, 2 too slow, 3 slightly fast, 4 too fast, 5 lead off
};

HeaderFindings DecodeHeaderFindings(const RecordingHeader& header);
