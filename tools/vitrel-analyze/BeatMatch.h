// One-to-one matching of detected beats against reference beats.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <tuple>
#include <utility>
#include <vector>

struct BeatMatchResult {
    uint64_t truePositives = 0;
    uint64_t falseNegatives = 0;
    uint64_t falsePositives = 0;
    // Percentages; 0 when undefined.
    double Sensitivity() const
    {
        const uint64_t d = truePositives + falseNegatives;
        return d ? 100.0 * double(truePositives) / double(d) : 0.0;
    }
    double PositivePredictivity() const
    {
        const uint64_t d = truePositives + falsePositives;
        return d ? 100.0 * double(truePositives) / double(d) : 0.0;
    }
};

// Pairs each detected beat with at most one reference beat no more than
// tolerance samples away and vice versa. Closest pairs are taken first,
// earlier ones on ties, so a stray detection never steals the reference
// beat of a better one. Only beats at samples for which scored is true are
// counted: a reference beat there is found or missed, a detection there
// without a partner is false; the pairing itself looks at every beat.
template <class Scored>
BeatMatchResult MatchBeats(std::vector<int64_t> detected, std::vector<int64_t> reference, int64_t tolerance,
                           Scored scored)
{
    std::sort(detected.begin(), detected.end());
    std::sort(reference.begin(), reference.end());
    std::vector<std::tuple<int64_t, size_t, size_t>> pairs;  // distance, detected, reference
    size_t lo = 0;
    for (size_t d = 0; d < detected.size(); ++d) {
        while (lo < reference.size() && reference[lo] < detected[d] - tolerance)
            ++lo;
        for (size_t r = lo; r < reference.size() && reference[r] <= detected[d] + tolerance; ++r)
            pairs.emplace_back(std::llabs(reference[r] - detected[d]), d, r);
    }
    std::sort(pairs.begin(), pairs.end());
    std::vector<bool> detUsed(detected.size()), refUsed(reference.size());
    for (const auto& [dist, d, r] : pairs) {
        if (detUsed[d] || refUsed[r])
            continue;
        detUsed[d] = refUsed[r] = true;
    }
    BeatMatchResult result;
    for (size_t r = 0; r < reference.size(); ++r)
        if (scored(reference[r]))
            ++(refUsed[r] ? result.truePositives : result.falseNegatives);
    for (size_t d = 0; d < detected.size(); ++d)
        if (!detUsed[d] && scored(detected[d]))
            ++result.falsePositives;
    return result;
}

inline BeatMatchResult MatchBeats(std::vector<int64_t> detected, std::vector<int64_t> reference, int64_t tolerance)
{
    return MatchBeats(std::move(detected), std::move(reference), tolerance, [](int64_t) { return true; });
}
