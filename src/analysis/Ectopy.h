// Ectopic events from classified beats: isolated V and S beats, couplets,
// runs and tachycardias, ventricular bigeminy and trigeminy, pauses.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "analysis/BeatClass.h"
#include "analysis/Episodes.h"

constexpr uint32_t ECTOPY_RATE = 250;                     // samples per second
constexpr uint32_t PAUSE_SAMPLES = 2 * ECTOPY_RATE;       // an RR interval this long is a pause
constexpr float TACHYCARDIA_BPM = 100.0f;                 // a run this fast is VT or SVT
constexpr uint32_t ALLORHYTHMIA_MIN_CYCLES = 3;           // bigeminy and trigeminy cycles

// Events in time order (by first sample, then type) from the classified
// beats; beats and classes have the same length, beats ascending. Bigeminy
// and trigeminy episodes are reported beside the isolated V beats they are
// made of.
std::vector<Episode> FindEctopyEvents(const std::vector<uint32_t>& beats, const std::vector<BeatClass>& classes);

struct EctopySummary {
    std::array<uint32_t, EPISODE_TYPE_COUNT> count{};  // events per EpisodeType
    uint32_t vBeats = 0, sBeats = 0;
    Episode longestRun{};   // V or S run (couplets excluded) with the most beats; beats == 0 when none
    Episode fastestRun{};   // the same with the highest rate
    uint32_t pauses = 0;
    Episode longestPause{};  // beats == 0 when none
    uint32_t longestRR = 0;  // samples; 0 with fewer than two beats
    uint32_t longestRRAt = 0;  // sample of the beat that ends it
};

EctopySummary SummarizeEctopy(const std::vector<uint32_t>& beats, const std::vector<BeatClass>& classes,
                              const std::vector<Episode>& events);
