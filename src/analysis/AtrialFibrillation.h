// Atrial fibrillation from the final beat list: the ventricular response is
// irregular at every short lag (unlike ectopy, bigeminy or a pause), helped,
// when the lead can be read, by the absence of a P wave locked to the QRS.
// Flutter with variable conduction is reported as AF; flutter with a fixed
// ratio is regular and is not.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "analysis/BeatClass.h"
#include "analysis/SampleReader.h"
#include "analysis/Episodes.h"


struct AfParameters {
    uint32_t window = 48;          // usable RR intervals around each one
    double irregularity = 0.06;    // least lag-1..3 median |RR difference| over the median RR
    double turningPoints = 0.45;   // least share of turning points (2/3 when the RR intervals are random)
    double pWaveCoherence = 0.15;  // with a reader: above this the P waves line up (sinus)
    double premature = 0.85;       // a beat is premature under this share of the local mean RR...
    double pause = 1.25;           // ...when the interval after it is this much longer
    uint32_t reach = 10;           // usable intervals an episode edge may move out to the irregularity's onset or end
    double edgeCoherence = 0.35;   // an edge stops at a beat whose P waves line up better than this
    uint32_t bridge = 2500;        // samples: shorter gaps between irregular stretches are closed
    uint32_t shortest = 7500;      // samples: shorter stretches are not reported (an AF episode lasts 30 s)
    // Classified beats: AF stops at a run of V beats, ventricular bigeminy or
    // trigeminy (three cycles), as rhythm annotations change there.
    bool cutVentricularRhythms = true;
    uint32_t piece = 1250;         // samples: shorter AF left between ventricular rhythms is not reported,
                                   // and one piece at least must be the shortest episode
};

// AF episodes (type AF, first and last beat sample, beats, mean ventricular
// rate) from the sorted beat positions and their classes. classes may be
// empty or all Unclassified: then the RR intervals alone decide.
std::vector<Episode> FindAfEpisodes(const std::vector<uint32_t>& beats, const std::vector<BeatClass>& classes,
                                    uint64_t sampleCount, const SampleReader& read = {});
std::vector<Episode> FindAfEpisodes(const std::vector<uint32_t>& beats, const std::vector<BeatClass>& classes,
                                    uint64_t sampleCount, const SampleReader& read, const AfParameters& parameters);

struct AfSummary {
    double burdenPercent = 0;   // AF time over the analysed time
    uint64_t totalSamples = 0;  // AF time: first to last beat of every episode
    uint32_t episodes = 0;
    Episode longest{EpisodeType::AF, 0, 0, 0, 0};  // the earliest of equal ones; beats 0 when there is none
    // Mean rate of the fastest and the slowest whole minute of AF (an episode
    // shorter than a minute counts as one stretch); 0 without AF.
    float fastestRate = 0;
    float slowestRate = 0;
};

// af: the episodes of FindAfEpisodes; the rates come from their beats.
AfSummary SummarizeAf(const std::vector<Episode>& af, uint64_t analysedSamples,
                      const std::vector<uint32_t>& beats = {});
