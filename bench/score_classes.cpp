// Beat classes against annotated references, beat by beat in the manner of
// ANSI/AAMI EC57 (one-to-one pairing within 150 ms, the first 5 minutes not
// scored): VEB and SVEB sensitivity and positive predictivity.
//
//   score_classes [OPTIONS] RECORDING REFERENCE.csv
//       one line: "VEB TP FN FP SVEB TP FN FP SECONDS DETECTION", seconds for
//       the classes, events and AF episodes and for the analysis run; the SVEB figures with
//       S beats inside the reference's fibrillation (NNN.rhythm.csv) called N
//   score_classes --data DIR [--records LIST]
//       a table of the MIT-BIH records in DIR with gross figures
// Options: --detector standard|precise (default precise), --exclude FIRST-LAST
// (samples left out), --threads N (the classifier's, 0 for every core), --dump FILE (every detected beat: sample, class,
// family, reference letter or '-').
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "ClassMatch.h"
#include "analysis/AtrialFibrillation.h"
#include "analysis/BeatClassifier.h"
#include "analysis/EcgDocument.h"
#include "analysis/Ectopy.h"

namespace {

constexpr int64_t RATE = 250;
constexpr int64_t TOLERANCE = RATE * 150 / 1000;
constexpr int64_t SCORE_FROM = 300 * RATE;

struct Reference {
    std::vector<int64_t> at;
    std::vector<BeatClass> cls;
    std::vector<char> letter;
};

Reference ReadReference(const std::string& path)
{
    Reference ref;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        const size_t comma = line.find(',');
        const int64_t at = std::atoll(line.substr(0, comma).c_str());
        char code = 'N';
        if (comma != std::string::npos && comma + 1 < line.size())
            code = line[comma + 1];
        ref.at.push_back(at);
        ref.letter.push_back(code);
        BeatClass c = BeatClassFromMitLetter(code);
        ref.cls.push_back(c == BeatClass::Unclassified ? BeatClass::Q : c);
    }
    return ref;
}

// Atrial fibrillation and flutter episodes of a rhythm file ("first,last,rhythm").
std::vector<std::pair<int64_t, int64_t>> ReadFibrillation(const std::string& path)
{
    std::vector<std::pair<int64_t, int64_t>> out;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::stringstream ss(line);
        std::string a, b, t;
        if (std::getline(ss, a, ',') && std::getline(ss, b, ',') && std::getline(ss, t) && (t == "AFIB" || t == "AFL"))
            out.emplace_back(std::atoll(a.c_str()), std::atoll(b.c_str()));
    }
    return out;
}

struct Scored {
    ClassMatchResult match;
    ClassMatchResult relabelled;  // S beats inside the reference's fibrillation called N
    double seconds = 0;           // classes and events
    double detectionSeconds = 0;  // the document's analysis run
    size_t events = 0;
    uint32_t vRuns = 0;
};

Scored ScoreRecording(const std::string& file, const std::string& refPath, DetectorKind detector, int64_t excludeFirst,
                      int64_t excludeLast, const std::string& dump, unsigned threads)
{
    CEcgDocument doc;
    doc.OpenFile(file);
    doc.SetDetectorKind(detector);
    const auto d0 = std::chrono::steady_clock::now();
    doc.StartAnalysis(nullptr);
    doc.WaitAnalysis();
    const double detection = std::chrono::duration<double>(std::chrono::steady_clock::now() - d0).count();
    std::vector<uint32_t> beats;
    doc.GetBeatsInRange(0, UINT32_MAX, beats);

    const auto t0 = std::chrono::steady_clock::now();
    const SampleReader reader = [&doc](int16_t* buffer, uint64_t first, uint32_t count) {
        return doc.ReadSamples(buffer, int64_t(first), count);
    };
    const BeatClassification c = ClassifyBeats(reader, doc.GetSampleCount(), beats, threads);
    const std::vector<Episode> events = FindEctopyEvents(beats, c.classes);
    const EctopySummary summary = SummarizeEctopy(beats, c.classes, events);
    const std::vector<Episode> af = FindAfEpisodes(beats, c.classes, doc.GetSampleCount(), reader);
    Scored s;
    s.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    s.detectionSeconds = detection;
    s.events = events.size() + af.size();
    s.vRuns = summary.count[size_t(EpisodeType::VRun)] + summary.count[size_t(EpisodeType::VT)];

    const Reference ref = ReadReference(refPath);
    std::vector<int64_t> detected(beats.begin(), beats.end());
    auto scored = [&](int64_t at) { return at >= SCORE_FROM && (at < excludeFirst || at > excludeLast); };
    s.match = MatchClasses(detected, c.classes, ref.at, ref.cls, TOLERANCE, scored);
    // The document's pipeline calls no beat S inside fibrillation; the
    // reference's episodes stand in for its detector here.
    std::string rhythm = refPath;
    const size_t dot = rhythm.rfind(".beats.csv");
    std::vector<BeatClass> relabelled = c.classes;
    if (dot != std::string::npos) {
        rhythm.replace(dot, std::string::npos, ".rhythm.csv");
        const auto af = ReadFibrillation(rhythm);
        for (size_t i = 0; i < beats.size(); ++i)
            for (const auto& [a, b] : af)
                if (relabelled[i] == BeatClass::S && beats[i] >= a && beats[i] <= b)
                    relabelled[i] = BeatClass::N;
    }
    s.relabelled = MatchClasses(detected, relabelled, ref.at, ref.cls, TOLERANCE, scored);

    if (!dump.empty()) {
        std::ofstream out(dump);
        size_t r = 0;
        for (size_t i = 0; i < beats.size(); ++i) {
            while (r < ref.at.size() && ref.at[r] < int64_t(beats[i]) - TOLERANCE)
                ++r;
            char letter = '-';
            if (r < ref.at.size() && std::llabs(ref.at[r] - int64_t(beats[i])) <= TOLERANCE)
                letter = ref.letter[r];
            out << beats[i] << ',' << GetBeatClassInfo(c.classes[i]).letter << ',' << c.family[i] << ',' << letter
                << '\n';
        }
    }
    return s;
}

std::string Pct(const BeatMatchResult& r, bool se)
{
    const uint64_t d = r.truePositives + (se ? r.falseNegatives : r.falsePositives);
    if (d == 0)
        return "     -";
    char b[16];
    std::snprintf(b, sizeof b, "%6.2f", se ? r.Sensitivity() : r.PositivePredictivity());
    return b;
}

void PrintLine(const std::string& name, const ClassMatchResult& m, const ClassMatchResult& af)
{
    const BeatMatchResult v = m.Veb(), s = m.Sveb(), a = af.Sveb();
    std::printf("  %-8s %5llu %4llu %4llu %s %s   %5llu %4llu %4llu %s %s   %4llu %s %s\n", name.c_str(),
                (unsigned long long)v.truePositives, (unsigned long long)v.falseNegatives,
                (unsigned long long)v.falsePositives, Pct(v, true).c_str(), Pct(v, false).c_str(),
                (unsigned long long)s.truePositives, (unsigned long long)s.falseNegatives,
                (unsigned long long)s.falsePositives, Pct(s, true).c_str(), Pct(s, false).c_str(),
                (unsigned long long)a.falsePositives, Pct(a, true).c_str(), Pct(a, false).c_str());
}

}  // namespace

int main(int argc, char** argv)
{
    std::string data, records, dump;
    unsigned threads = 0;
    DetectorKind detector = DetectorKind::Precise;
    int64_t exFirst = -1, exLast = -2;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--data" && hasValue) data = argv[++i];
        else if (a == "--records" && hasValue) records = argv[++i];
        else if (a == "--dump" && hasValue) dump = argv[++i];
        else if (a == "--threads" && hasValue) threads = unsigned(std::atoi(argv[++i]));
        else if (a == "--detector" && hasValue) {
            const std::string d = argv[++i];
            detector = d == "standard" ? DetectorKind::Standard : DetectorKind::Precise;
        } else if (a == "--exclude" && hasValue) {
            const std::string e = argv[++i];
            exFirst = std::atoll(e.c_str());
            exLast = std::atoll(e.substr(e.find('-') + 1).c_str());
        } else positional.push_back(a);
    }
    try {
        if (data.empty()) {
            if (positional.size() != 2) {
                std::fprintf(stderr, "usage: score_classes [OPTIONS] RECORDING REFERENCE.csv | --data DIR\n");
                return 2;
            }
            const Scored s = ScoreRecording(positional[0], positional[1], detector, exFirst, exLast, dump, threads);
            const BeatMatchResult v = s.match.Veb(), sv = s.relabelled.Sveb();
            std::printf("VEB %llu %llu %llu SVEB %llu %llu %llu %.4f %.4f\n", (unsigned long long)v.truePositives,
                        (unsigned long long)v.falseNegatives, (unsigned long long)v.falsePositives,
                        (unsigned long long)sv.truePositives, (unsigned long long)sv.falseNegatives,
                        (unsigned long long)sv.falsePositives, s.seconds, s.detectionSeconds);
            return 0;
        }
        std::vector<std::string> list;
        if (records.empty()) {
            for (const auto& e : std::filesystem::directory_iterator(data))
                if (e.path().filename().string().rfind("mitdb-", 0) == 0)
                    list.push_back(e.path().filename().string().substr(6));
            std::sort(list.begin(), list.end());
        } else {
            std::stringstream ss(records);
            for (std::string r; std::getline(ss, r, ',');)
                list.push_back(r);
        }
        std::printf("  %-8s %5s %4s %4s %6s %6s   %5s %4s %4s %6s %6s   %4s %6s %6s\n", "record", "V TP", "FN", "FP", "Se %",
                    "+P %", "S TP", "FN", "FP", "Se %", "+P %", "FP", "Se %", "+P %");
        ClassMatchResult gross, grossAf;
        double seconds = 0, detectionSeconds = 0;
        for (const std::string& r : list) {
            const std::filesystem::path dir = std::filesystem::path(data) / ("mitdb-" + r);
            std::string file;
            for (const auto& e : std::filesystem::directory_iterator(dir)) {
                const std::string name = e.path().filename().string();
                if (name.size() == 11 && name[8] == '.' && std::isdigit((unsigned char)name[0]))
                    file = e.path().string();
            }
            // Record 207's ventricular flutter after the first 5 minutes has no beats marked.
            const bool flutter = r == "207";
            const std::string d = dump.empty() ? "" : dump + "/" + r + ".csv";
            const Scored s = ScoreRecording(file, (dir / (r + ".beats.csv")).string(), detector, flutter ? 385196 : -1,
                                            flutter ? 409671 : -2, d, threads);
            PrintLine(r, s.match, s.relabelled);
            gross += s.match;
            grossAf += s.relabelled;
            seconds += s.seconds;
            detectionSeconds += s.detectionSeconds;
        }
        PrintLine("gross", gross, grossAf);
        std::printf("  the last three columns: SVEB with S beats inside the reference's AF and flutter called N\n");
        std::printf("  classes and events: %.3f s, the analysis runs: %.3f s, for %zu records\n", seconds,
                    detectionSeconds, list.size());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "score_classes: %s\n", e.what());
        return 1;
    } catch (...) {
        std::fprintf(stderr, "score_classes: failed\n");
        return 1;
    }
    return 0;
}
