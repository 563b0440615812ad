// --reference: the reference beats and the comparison line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "BeatMatch.h"
#include "ClassMatch.h"
#include "EpisodeMatch.h"
#include "analysis/AnalysisResults.h"
#include "formats/Reference.h"

void PrintMatch(const std::string& path, const BeatMatchResult& m, bool toStderr);

struct Options;
// AF episode and duration figures from the fifth minute (or --score-from),
// as epicmp computes them: flutter in the reference is left out of +P.
void PrintRhythmMatch(const std::string& path, const AnalysisResults& results, const std::vector<RhythmSpan>& rhythm,
                      const Options& opt, uint64_t sampleCount);

// VEB and SVEB figures by the EC57 rules, when the reference gives codes.
template <class Scored>
void PrintClassMatch(const std::string& path, const AnalysisResults& results, const ReferenceAnnotations& reference,
                     Scored scored, bool toStderr)
{
    std::vector<int64_t> refPositions;
    std::vector<BeatClass> refClasses;
    for (const ReferenceBeat& b : reference.beats) {
        if (b.code == 0)
            return;  // a reference without classes
        refPositions.push_back(int64_t(b.position + 0.5));
        refClasses.push_back(BeatClassFromMitCode(b.code));
    }
    const std::vector<int64_t> detected(results.beats.begin(), results.beats.end());
    const ClassMatchResult m = MatchClasses(detected, results.classes, refPositions, refClasses, 37,
                                            [&](int64_t s) { return scored(double(s)); });
    const BeatMatchResult v = m.Veb(), sv = m.Sveb();
    std::fprintf(toStderr ? stderr : stdout, "%s: classes VEB Se %.2f%% +P %.2f%% SVEB Se %.2f%% +P %.2f%%\n",
                 path.c_str(), v.Sensitivity(), v.PositivePredictivity(), sv.Sensitivity(),
                 sv.PositivePredictivity());
}
