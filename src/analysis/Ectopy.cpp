#include "analysis/Ectopy.h"

#include <algorithm>

namespace {

float MeanRate(uint32_t first, uint32_t last, uint32_t intervals)
{
    if (intervals == 0 || last <= first)
        return 0.0f;
    return float(60.0 * ECTOPY_RATE * intervals / double(last - first));
}

Episode Make(EpisodeType type, const std::vector<uint32_t>& beats, size_t from, size_t to)
{
    const uint32_t count = uint32_t(to - from + 1);
    return Episode{type, beats[from], beats[to], count, MeanRate(beats[from], beats[to], count - 1)};
}

// Beats that count as conducted in the bigeminy and trigeminy patterns.
bool Conducted(BeatClass c) { return c == BeatClass::N || c == BeatClass::S; }

void FindRuns(const std::vector<uint32_t>& beats, const std::vector<BeatClass>& classes, BeatClass ectopic,
              EpisodeType single, EpisodeType couplet, EpisodeType slowRun, EpisodeType fastRun,
              std::vector<Episode>& out)
{
    const size_t n = beats.size();
    for (size_t i = 0; i < n;) {
        if (classes[i] != ectopic) {
            ++i;
            continue;
        }
        size_t j = i;
        while (j + 1 < n && classes[j + 1] == ectopic)
            ++j;
        const size_t len = j - i + 1;
        Episode e = Make(len == 1 ? single : len == 2 ? couplet : slowRun, beats, i, j);
        if (len >= 3 && e.rate >= TACHYCARDIA_BPM)
            e.type = fastRun;
        out.push_back(e);
        i = j + 1;
    }
}

// Chains of isolated V beats each preceded by period - 1 conducted beats.
void FindAllorhythmia(const std::vector<uint32_t>& beats, const std::vector<BeatClass>& classes, size_t period,
                      EpisodeType type, std::vector<Episode>& out)
{
    const size_t n = beats.size();
    auto cycleEndsAt = [&](size_t v) {
        if (v < period - 1 || classes[v] != BeatClass::V)
            return false;
        if (v + 1 < n && classes[v + 1] == BeatClass::V)
            return false;
        for (size_t k = v - (period - 1); k < v; ++k)
            if (!Conducted(classes[k]))
                return false;
        return true;
    };
    for (size_t v = 0; v < n;) {
        if (!cycleEndsAt(v)) {
            ++v;
            continue;
        }
        size_t last = v, cycles = 1;
        while (last + period < n && cycleEndsAt(last + period)) {
            last += period;
            ++cycles;
        }
        if (cycles >= ALLORHYTHMIA_MIN_CYCLES)
            out.push_back(Make(type, beats, v - (period - 1), last));
        v = last + 1;
    }
}

}  // namespace

std::vector<Episode> FindEctopyEvents(const std::vector<uint32_t>& beats, const std::vector<BeatClass>& classes)
{
    std::vector<Episode> out;
    const size_t n = std::min(beats.size(), classes.size());
    const std::vector<uint32_t> b(beats.begin(), beats.begin() + std::ptrdiff_t(n));
    const std::vector<BeatClass> c(classes.begin(), classes.begin() + std::ptrdiff_t(n));
    FindRuns(b, c, BeatClass::V, EpisodeType::IsolatedV, EpisodeType::VCouplet, EpisodeType::VRun, EpisodeType::VT, out);
    FindRuns(b, c, BeatClass::S, EpisodeType::IsolatedS, EpisodeType::SCouplet, EpisodeType::SRun, EpisodeType::SVT,
             out);
    FindAllorhythmia(b, c, 2, EpisodeType::Bigeminy, out);
    FindAllorhythmia(b, c, 3, EpisodeType::Trigeminy, out);
    for (size_t i = 1; i < n; ++i)
        if (b[i] - b[i - 1] >= PAUSE_SAMPLES)
            out.push_back(Make(EpisodeType::Pause, b, i - 1, i));
    std::stable_sort(out.begin(), out.end(), [](const Episode& x, const Episode& y) {
        return x.first != y.first ? x.first < y.first : x.type < y.type;
    });
    return out;
}

EctopySummary SummarizeEctopy(const std::vector<uint32_t>& beats, const std::vector<BeatClass>& classes,
                              const std::vector<Episode>& events)
{
    EctopySummary s;
    for (BeatClass c : classes) {
        s.vBeats += c == BeatClass::V;
        s.sBeats += c == BeatClass::S;
    }
    for (const Episode& e : events) {
        ++s.count[size_t(e.type)];
        const bool run = e.type == EpisodeType::VRun || e.type == EpisodeType::VT || e.type == EpisodeType::SRun ||
                         e.type == EpisodeType::SVT;
        if (run && e.beats > s.longestRun.beats)
            s.longestRun = e;
        if (run && (s.fastestRun.beats == 0 || e.rate > s.fastestRun.rate))
            s.fastestRun = e;
        if (e.type == EpisodeType::Pause) {
            ++s.pauses;
            if (e.last - e.first > s.longestPause.last - s.longestPause.first || s.longestPause.beats == 0)
                s.longestPause = e;
        }
    }
    for (size_t i = 1; i < beats.size(); ++i)
        if (beats[i] - beats[i - 1] > s.longestRR) {
            s.longestRR = beats[i] - beats[i - 1];
            s.longestRRAt = beats[i];
        }
    return s;
}
