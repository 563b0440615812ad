#include "Scoring.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "Options.h"
#include "formats/Reference.h"
#include "recording/File.h"

void PrintMatch(const std::string& path, const BeatMatchResult& m, bool toStderr)
{
    std::fprintf(toStderr ? stderr : stdout, "%s: reference TP %llu FN %llu FP %llu Se %.2f%% +P %.2f%%\n",
                 path.c_str(), (unsigned long long)m.truePositives, (unsigned long long)m.falseNegatives,
                 (unsigned long long)m.falsePositives, m.Sensitivity(), m.PositivePredictivity());
}

void PrintRhythmMatch(const std::string& path, const AnalysisResults& results, const std::vector<RhythmSpan>& rhythm,
                      const Options& opt, uint64_t sampleCount)
{
    // A found episode lasts to the beat after its last, as a rhythm annotation would.
    std::vector<EpisodeSpan> found;
    for (const Episode& e : results.episodes) {
        if (e.type != EpisodeType::AF)
            continue;
        const auto next = std::upper_bound(results.beats.begin(), results.beats.end(), e.last);
        found.push_back({e.first, next == results.beats.end() ? int64_t(sampleCount) : int64_t(*next)});
    }
    const int64_t from = opt.scoreFrom > 0 ? opt.scoreFrom : 300 * ECG_SAMPLE_RATE;
    const EpisodeMatchResult m =
        MatchEpisodes(SpansOf(rhythm, "AFIB"), found, SpansOf(rhythm, "AFL"), from, int64_t(sampleCount));
    std::fprintf(opt.json ? stderr : stdout,
                 "%s: AF episodes Se %.2f%% +P %.2f%% duration Se %.2f%% +P %.2f%% (reference %.1f s, found %.1f s)\n",
                 path.c_str(), m.EpisodeSensitivity(), m.EpisodePositivePredictivity(), m.DurationSensitivity(),
                 m.DurationPositivePredictivity(), double(m.referenceDuration) / ECG_SAMPLE_RATE,
                 double(m.testDuration) / ECG_SAMPLE_RATE);
}
