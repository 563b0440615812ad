#include "Scoring.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "formats/Reference.h"
#include "recording/File.h"

bool ReadReference(const std::string& path, std::vector<int64_t>* out, std::string* error)
{
    if (ClassifyReference(path) != ReferenceKind::none)
        return ReadReferenceBeats(path, out, error);
    std::ifstream in(path);
    if (!in) {
        *error = CFileException::FormatMessage(CFileException::fileNotFound, path);
        return false;
    }
    std::string line;
    size_t lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        if (line.empty() || line == "\r")
            continue;
        char* end = nullptr;
        const long long v = std::strtoll(line.c_str(), &end, 10);
        if (end == line.c_str() || (*end != ',' && *end != '\0' && *end != '\r')) {
            *error = path + ":" + std::to_string(lineNo) + ": expected \"index,code\"";
            return false;
        }
        out->push_back(v);
    }
    return true;
}

void PrintMatch(const std::string& path, const BeatMatchResult& m, bool toStderr)
{
    std::fprintf(toStderr ? stderr : stdout, "%s: reference TP %llu FN %llu FP %llu Se %.2f%% +P %.2f%%\n",
                 path.c_str(), (unsigned long long)m.truePositives, (unsigned long long)m.falseNegatives,
                 (unsigned long long)m.falsePositives, m.Sensitivity(), m.PositivePredictivity());
}
