// Episode-by-episode and duration comparison of rhythm episodes against a
// reference, in the manner of ANSI/AAMI EC57 for atrial fibrillation, and a
// reader for reference rhythm lists ("first,last,rhythm" lines, last inclusive).
#pragma once

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <istream>
#include <sstream>
#include <string>
#include <vector>

// Half-open [begin, end) in samples.
struct EpisodeSpan {
    int64_t begin = 0;
    int64_t end = 0;
    bool operator==(const EpisodeSpan&) const = default;
};

struct RhythmSpan {
    EpisodeSpan span;
    std::string rhythm;  // "N", "AFIB", "AFL", ...
};

// Lines "first,last,rhythm"; blank lines and lines starting with '#' are
// skipped. False on a malformed line (out holds the lines before it).
inline bool ReadRhythmList(std::istream& in, std::vector<RhythmSpan>& out)
{
    out.clear();
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        std::string a, b, rhythm;
        if (!std::getline(fields, a, ',') || !std::getline(fields, b, ',') || !std::getline(fields, rhythm))
            return false;
        try {
            size_t usedA = 0, usedB = 0;
            const long long first = std::stoll(a, &usedA), last = std::stoll(b, &usedB);
            if (usedA != a.size() || usedB != b.size() || first < 0 || last < first || rhythm.empty())
                return false;
            out.push_back({{first, last + 1}, rhythm});
        } catch (...) {
            return false;
        }
    }
    return true;
}

inline bool ReadRhythmList(const std::string& path, std::vector<RhythmSpan>& out)
{
    std::ifstream in(path);
    return in && ReadRhythmList(in, out);
}

// The spans of one rhythm, adjacent ones joined (a change to the same rhythm is none).
inline std::vector<EpisodeSpan> SpansOf(const std::vector<RhythmSpan>& list, const std::string& rhythm)
{
    std::vector<EpisodeSpan> out;
    for (const RhythmSpan& r : list) {
        if (r.rhythm != rhythm)
            continue;
        if (!out.empty() && r.span.begin <= out.back().end)
            out.back().end = std::max(out.back().end, r.span.end);
        else
            out.push_back(r.span);
    }
    return out;
}

struct EpisodeMatchResult {
    uint64_t referenceFound = 0, referenceMissed = 0;  // reference episodes overlapped by a test one, or not
    uint64_t testTrue = 0, testFalse = 0;              // test episodes overlapping a reference one, or not
    int64_t referenceDuration = 0, testDuration = 0, overlap = 0;  // samples

    static double Percent(double a, double b) { return b > 0 ? 100.0 * a / b : 0.0; }
    double EpisodeSensitivity() const { return Percent(double(referenceFound), double(referenceFound + referenceMissed)); }
    double EpisodePositivePredictivity() const { return Percent(double(testTrue), double(testTrue + testFalse)); }
    double DurationSensitivity() const { return Percent(double(overlap), double(referenceDuration)); }
    double DurationPositivePredictivity() const { return Percent(double(overlap), double(testDuration)); }
    EpisodeMatchResult& operator+=(const EpisodeMatchResult& o)
    {
        referenceFound += o.referenceFound;
        referenceMissed += o.referenceMissed;
        testTrue += o.testTrue;
        testFalse += o.testFalse;
        referenceDuration += o.referenceDuration;
        testDuration += o.testDuration;
        overlap += o.overlap;
        return *this;
    }
};

namespace episode_match_detail {

inline std::vector<EpisodeSpan> Clip(std::vector<EpisodeSpan> v, int64_t from, int64_t to)
{
    std::sort(v.begin(), v.end(), [](const EpisodeSpan& a, const EpisodeSpan& b) { return a.begin < b.begin; });
    std::vector<EpisodeSpan> out;
    for (EpisodeSpan s : v) {
        s.begin = std::max(s.begin, from);
        s.end = std::min(s.end, to);
        if (s.end > s.begin)
            out.push_back(s);
    }
    return out;
}

inline int64_t Overlap(const EpisodeSpan& s, const std::vector<EpisodeSpan>& v)
{
    int64_t total = 0;
    for (const EpisodeSpan& o : v)
        total += std::max<int64_t>(0, std::min(s.end, o.end) - std::max(s.begin, o.begin));
    return total;
}

}  // namespace episode_match_detail

// Scores from sample `from` to `to` (episodes are cut at both). A reference
// episode is found when any test episode overlaps it; a test episode is
// true when it overlaps any reference episode. The test duration leaves out
// the excluded spans (reference flutter for AF), so AF called in flutter is
// neither a true nor a false finding; a test episode wholly inside them is
// not counted. The overlap is counted once, for both duration figures.
inline EpisodeMatchResult MatchEpisodes(const std::vector<EpisodeSpan>& reference, const std::vector<EpisodeSpan>& test,
                                        const std::vector<EpisodeSpan>& excluded, int64_t from, int64_t to)
{
    using namespace episode_match_detail;
    const std::vector<EpisodeSpan> ref = Clip(reference, from, to), tst = Clip(test, from, to),
                                   exc = Clip(excluded, from, to);
    EpisodeMatchResult r;
    for (const EpisodeSpan& s : ref) {
        r.referenceDuration += s.end - s.begin;
        ++(Overlap(s, tst) > 0 ? r.referenceFound : r.referenceMissed);
    }
    for (const EpisodeSpan& s : tst) {
        const int64_t kept = (s.end - s.begin) - Overlap(s, exc);
        const int64_t o = Overlap(s, ref);
        r.overlap += o;
        if (kept <= 0)
            continue;
        r.testDuration += kept;
        ++(o > 0 ? r.testTrue : r.testFalse);
    }
    return r;
}
