// Everything one analysis run found, as one value: published once the run has
// ended, read by the view, the panes, the report and the command line.
#pragma once

#include <cstdint>
#include <vector>

#include "analysis/AtrialFibrillation.h"
#include "analysis/BeatClass.h"
#include "analysis/BeatClassifier.h"
#include "analysis/Ectopy.h"
#include "analysis/Episodes.h"
#include "analysis/HeartRateVariability.h"

struct MinuteRateStats {
    int32_t nIndex;
    float fAvgRate;
    float fMinRate;
    float fMaxRate;
    uint32_t nSlowBeatPos;
    uint32_t nFastBeatPos;
};

struct HourRateStats {
    int32_t nStartHour;
    int32_t nStartMinute;
    int32_t nEndHour;
    int32_t nEndMinute;
    float fAvgRate;
    float fMinRate;
    float fMaxRate;
    uint32_t nSlowBeatPos;
    uint32_t nFastBeatPos;
};

constexpr uint32_t NO_FAMILY = UINT32_MAX;

struct AnalysisResults {
    bool completed = false;                 // the run ended with every beat found
    std::vector<uint32_t> beats;            // sorted, de-duplicated sample positions
    std::vector<BeatClass> classes;         // one per beat; Unclassified where no classifier ran
    std::vector<uint32_t> rrIntervals;      // samples between successive beats
    std::vector<uint32_t> irregular;        // the RR-irregular beats, in the order the scan found them
    std::vector<MinuteRateStats> minutes;
    std::vector<HourRateStats> hours;
    uint64_t minRatePosition = 0;
    uint64_t maxRatePosition = 0;
    bool hasHrv = false;                    // long and standard recordings whose run completed
    HrvMeasures hrv;
    std::vector<Episode> episodes;          // events and rhythm episodes in time order
    EctopySummary ectopy;
    AfSummary af;
    // The classifier's beat families: an index into families per beat
    // (NO_FAMILY for a beat a reviewer added), largest family first.
    std::vector<uint32_t> family;
    std::vector<BeatFamily> families;

    // The class of the beat at position, Unclassified when there is none.
    BeatClass ClassAt(uint32_t position) const;
};
