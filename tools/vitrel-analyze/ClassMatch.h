// Beat-by-beat comparison of beat classes against a reference in the manner
// of ANSI/AAMI EC57: the beats are paired one to one as MatchBeats pairs
// them, then every pair, missed and extra beat lands in a table from which
// the VEB and SVEB figures follow.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <tuple>
#include <vector>

#include "BeatMatch.h"
#include "analysis/BeatClass.h"

// Rows: reference N S V F Q, then O (a detection with no reference beat).
// Columns: the detector's N S V F Q, then O (a reference beat not found).
enum ClassMatchIndex { CM_N = 0, CM_S, CM_V, CM_F, CM_Q, CM_O, CM_SIZE };

struct ClassMatchResult {
    std::array<std::array<uint64_t, CM_SIZE>, CM_SIZE> table{};
    BeatMatchResult qrs;  // from MatchBeats itself

    uint64_t At(int reference, int detected) const { return table[size_t(reference)][size_t(detected)]; }
    ClassMatchResult& operator+=(const ClassMatchResult& o)
    {
        for (int r = 0; r < CM_SIZE; ++r)
            for (int d = 0; d < CM_SIZE; ++d)
                table[size_t(r)][size_t(d)] += o.table[size_t(r)][size_t(d)];
        qrs.truePositives += o.qrs.truePositives;
        qrs.falseNegatives += o.qrs.falseNegatives;
        qrs.falsePositives += o.qrs.falsePositives;
        return *this;
    }
    // Every reference V not called V is missed (fusion or Q included); a V
    // call is false on a reference N or S beat or on no beat, while a fusion
    // or unclassifiable reference beat called V is not held against it.
    BeatMatchResult Veb() const
    {
        BeatMatchResult r;
        r.truePositives = At(CM_V, CM_V);
        for (int d : {CM_N, CM_S, CM_F, CM_Q, CM_O})
            r.falseNegatives += At(CM_V, d);
        for (int ref : {CM_N, CM_S, CM_O})
            r.falsePositives += At(ref, CM_V);
        return r;
    }
    // The same for S, where a fusion reference beat called S counts as false.
    BeatMatchResult Sveb() const
    {
        BeatMatchResult r;
        r.truePositives = At(CM_S, CM_S);
        for (int d : {CM_N, CM_V, CM_F, CM_Q, CM_O})
            r.falseNegatives += At(CM_S, d);
        for (int ref : {CM_N, CM_V, CM_F, CM_O})
            r.falsePositives += At(ref, CM_S);
        return r;
    }
};

inline int ClassMatchColumn(BeatClass c)
{
    switch (c) {
    case BeatClass::S: return CM_S;
    case BeatClass::V: return CM_V;
    case BeatClass::F: return CM_F;
    case BeatClass::Q: return CM_Q;
    default: return CM_N;  // an unclassified detection counts as normal
    }
}

// detected/reference: positions with their classes, any order. Pairs the
// closest beats first, then by detected and reference position, the rule of
// MatchBeats; only beats at samples for which scored is true are counted.
template <class Scored>
ClassMatchResult MatchClasses(const std::vector<int64_t>& detected, const std::vector<BeatClass>& detectedClass,
                              const std::vector<int64_t>& reference, const std::vector<BeatClass>& referenceClass,
                              int64_t tolerance, Scored scored)
{
    auto sortedOrder = [](const std::vector<int64_t>& v) {
        std::vector<size_t> o(v.size());
        for (size_t i = 0; i < o.size(); ++i)
            o[i] = i;
        std::stable_sort(o.begin(), o.end(), [&](size_t a, size_t b) { return v[a] < v[b]; });
        return o;
    };
    const std::vector<size_t> dOrder = sortedOrder(detected), rOrder = sortedOrder(reference);
    std::vector<std::tuple<int64_t, size_t, size_t>> candidates;  // distance, rank in dOrder, rank in rOrder
    size_t lo = 0;
    for (size_t d = 0; d < dOrder.size(); ++d) {
        const int64_t at = detected[dOrder[d]];
        while (lo < rOrder.size() && reference[rOrder[lo]] < at - tolerance)
            ++lo;
        for (size_t r = lo; r < rOrder.size() && reference[rOrder[r]] <= at + tolerance; ++r)
            candidates.emplace_back(std::llabs(reference[rOrder[r]] - at), d, r);
    }
    std::sort(candidates.begin(), candidates.end());
    constexpr size_t NONE = ~size_t(0);
    std::vector<size_t> partnerOfDetected(dOrder.size(), NONE), partnerOfReference(rOrder.size(), NONE);
    for (const auto& [distance, d, r] : candidates) {
        if (partnerOfDetected[d] != NONE || partnerOfReference[r] != NONE)
            continue;
        partnerOfDetected[d] = r;
        partnerOfReference[r] = d;
    }

    ClassMatchResult result;
    for (size_t r = 0; r < rOrder.size(); ++r) {
        if (!scored(reference[rOrder[r]]))
            continue;
        const int row = ClassMatchColumn(referenceClass[rOrder[r]]);
        const size_t d = partnerOfReference[r];
        ++result.table[size_t(row)][size_t(d == NONE ? CM_O : ClassMatchColumn(detectedClass[dOrder[d]]))];
    }
    for (size_t d = 0; d < dOrder.size(); ++d)
        if (partnerOfDetected[d] == NONE && scored(detected[dOrder[d]]))
            ++result.table[CM_O][size_t(ClassMatchColumn(detectedClass[dOrder[d]]))];
    result.qrs = MatchBeats(detected, reference, tolerance, scored);
    return result;
}
