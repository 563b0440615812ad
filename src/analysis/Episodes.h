// Events and rhythm episodes found from the classified beats: ectopic runs,
// bigeminy and trigeminy, pauses, atrial fibrillation.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class EpisodeType : uint8_t {
    IsolatedV,   // one V beat between non-V beats
    VCouplet,    // two V beats in a row
    VRun,        // three or more V beats below 100 bpm (idioventricular)
    VT,          // three or more V beats at 100 bpm or more
    Bigeminy,    // V beat after every normal one, at least three cycles
    Trigeminy,   // V beat after every two normal ones, at least three cycles
    IsolatedS,
    SCouplet,
    SRun,        // three or more S beats below 100 bpm
    SVT,         // three or more S beats at 100 bpm or more
    Pause,       // an RR interval of 2.0 s or more
    AF,          // atrial fibrillation (flutter included)
};

constexpr int EPISODE_TYPE_COUNT = 12;

struct Episode {
    EpisodeType type;
    uint32_t first;  // sample of the first beat (a pause: the beat before it)
    uint32_t last;   // sample of the last beat (a pause: the beat after it)
    uint32_t beats;  // beats in the episode (a pause: 2)
    float rate;      // mean rate in bpm over the episode's RR intervals; 0 when it has none
};

// "VT", "SVT", "bigeminy", ... as the JSON and the exports write them.
const char* EpisodeTypeKey(EpisodeType type);
// String id of the type's name for the window and the report.
int EpisodeTypeNameId(EpisodeType type);
