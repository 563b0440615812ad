#include "recording/HeaderFindings.h"

#include <cstddef>

#include "recording/EcgFile.h"

HeaderFindings DecodeHeaderFindings(const RecordingHeader& header)
{
    constexpr float kUnitsPerMv = ECG_UNITS_PER_MV;
    constexpr int kMsPerSample = 1000 / ECG_SAMPLE_RATE;
    const unsigned flags = header.resultFlags & 0x3F;
    HeaderFindings f{};
    f.fHeartRateBpm = HeaderU16(header, offsetof(RecordingHeader, avgHeartRate)) / 10.0f;
    f.nPrIntervalMs = HeaderU16(header, offsetof(RecordingHeader, avgPR)) * 2;
    f.nQtIntervalMs = HeaderU16(header, offsetof(RecordingHeader, avgQT)) * 2;
    f.nRrIntervalMs = HeaderAverageRR(header) * kMsPerSample;
    f.fRAmplitudeMv = HeaderI16(header, offsetof(RecordingHeader, avgRAmplitude)) / kUnitsPerMv;
    f.fPAmplitudeMv = HeaderI16(header, offsetof(RecordingHeader, avgPAmplitude)) / kUnitsPerMv;
    f.fTAmplitudeMv = HeaderI16(header, offsetof(RecordingHeader, avgTAmplitude)) / kUnitsPerMv;
    f.fStLevelMv = HeaderI16(header, offsetof(RecordingHeader, avgSTLevel)) / kUnitsPerMv;
    f.nQrsCount = header.qrsCount;
    f.bVerdicts = flags & 0x01;
    f.bIrregularRhythm = flags & 0x20;
    f.bPoorWaveform = flags & 0x10;
    f.nRateVerdict = (flags >> 1) & 7;
    return f;
}
