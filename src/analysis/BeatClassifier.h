// What every beat is: N, S, V or Q, from the recording's own beat families
// (template matching of the QRS complex) and from the rhythm (prematurity
// against the local normal RR interval).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "analysis/BeatClass.h"
#include "analysis/SampleReader.h"


// The averaged beat of a family spans these samples around the R mark.
constexpr uint32_t BEAT_SHAPE_BEFORE = 25;  // 100 ms
constexpr uint32_t BEAT_SHAPE_AFTER = 40;   // 160 ms
constexpr uint32_t BEAT_SHAPE_LENGTH = BEAT_SHAPE_BEFORE + 1 + BEAT_SHAPE_AFTER;

struct BeatFamily {
    BeatClass beatClass;         // N or V: the class of its morphology (its S beats are N here)
    uint32_t count;              // beats in the family
    std::vector<int16_t> shape;  // average beat, BEAT_SHAPE_LENGTH samples, R at BEAT_SHAPE_BEFORE, baseline 0
};

struct BeatClassification {
    std::vector<BeatClass> classes;    // one per beat, same order
    std::vector<uint32_t> family;      // family index per beat
    std::vector<BeatFamily> families;  // largest first
};

// beats: R marks in ascending order, each below sampleCount. threads: how
// many threads make the beats' features (0: one per core); the result is the
// same for any number. read is called from the calling thread only.
BeatClassification ClassifyBeats(const SampleReader& read, uint64_t sampleCount, const std::vector<uint32_t>& beats,
                                 unsigned threads = 0);
