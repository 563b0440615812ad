// One-to-one matching of detected beats against reference beats, by the
// rules of the beat-by-beat comparison of ANSI/AAMI EC57: beat annotations
// only, a 150 ms window, and nothing scored inside the ventricular flutter
// or fibrillation episodes the reference marks.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
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

// 150 ms at 250 samples/s.
constexpr double kMatchWindow = 0.150 * 250;

// Walks both lists in time order. The earlier of the current detection and
// reference beat is paired with the other when they are within window of
// each other, unless the next beat of the other list is a closer partner and
// is not itself better matched by the next beat of the first: so a stray
// detection never takes the reference beat of a better one. Reference beats
// inside an unscored span are left out; a detection there is no error.
// Only beats at positions for which scored is true are counted: a reference
// beat there is found or missed, a detection there without a partner is false.
template <class Scored>
BeatMatchResult MatchBeats(std::vector<double> detected, std::vector<double> reference, double window,
                           const std::vector<std::pair<double, double>>& unscored, Scored scored)
{
    const auto inUnscored = [&](double p) {
        return std::any_of(unscored.begin(), unscored.end(),
                           [p](const std::pair<double, double>& s) { return p >= s.first && p <= s.second; });
    };
    std::sort(detected.begin(), detected.end());
    std::sort(reference.begin(), reference.end());
    reference.erase(std::remove_if(reference.begin(), reference.end(), inUnscored), reference.end());
    constexpr double kNever = 1e18;
    const auto at = [kNever](const std::vector<double>& v, size_t i) { return i < v.size() ? v[i] : kNever; };
    BeatMatchResult result;
    size_t r = 0, d = 0;
    while (r < reference.size() || d < detected.size()) {
        const double T = at(reference, r), nextT = at(reference, r + 1);
        const double t = at(detected, d), nextt = at(detected, d + 1);
        if (t < T) {
            if (T - t <= window && (T - t < std::fabs(T - nextt) || std::fabs(nextT - nextt) < std::fabs(T - nextt))) {
                if (scored(T))
                    ++result.truePositives;
                ++r;
                ++d;
            } else {
                if (scored(t) && !inUnscored(t))
                    ++result.falsePositives;
                ++d;
            }
        } else {
            if (t - T <= window && (t - T < std::fabs(t - nextT) || std::fabs(nextt - nextT) < std::fabs(t - nextT))) {
                if (scored(T))
                    ++result.truePositives;
                ++r;
                ++d;
            } else {
                if (scored(T))
                    ++result.falseNegatives;
                ++r;
            }
        }
    }
    return result;
}

// Whole-sample positions, every beat scored.
template <class Scored>
BeatMatchResult MatchBeats(const std::vector<int64_t>& detected, const std::vector<int64_t>& reference,
                           int64_t tolerance, Scored scored)
{
    return MatchBeats(std::vector<double>(detected.begin(), detected.end()),
                      std::vector<double>(reference.begin(), reference.end()), double(tolerance), {},
                      [&scored](double p) { return scored(int64_t(std::llround(p))); });
}

inline BeatMatchResult MatchBeats(const std::vector<int64_t>& detected, const std::vector<int64_t>& reference,
                                  int64_t tolerance)
{
    return MatchBeats(detected, reference, tolerance, [](int64_t) { return true; });
}
