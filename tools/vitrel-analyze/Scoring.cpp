#include "Scoring.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "formats/Reference.h"
#include "recording/File.h"

void PrintMatch(const std::string& path, const BeatMatchResult& m, bool toStderr)
{
    std::fprintf(toStderr ? stderr : stdout, "%s: reference TP %llu FN %llu FP %llu Se %.2f%% +P %.2f%%\n",
                 path.c_str(), (unsigned long long)m.truePositives, (unsigned long long)m.falseNegatives,
                 (unsigned long long)m.falsePositives, m.Sensitivity(), m.PositivePredictivity());
}
