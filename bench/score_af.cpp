// Atrial fibrillation found on the annotated records, scored against their
// reference rhythm episodes in the manner of ANSI/AAMI EC57 (episode and
// duration sensitivity and positive predictivity from the fifth minute,
// reference flutter left out of the positive predictivity). Beats come from
// the precise detector; AF is looked for three times: with the classes of the
// document's own classifier (what the program reports), with the reference
// classes of the matched beats, and with every beat unclassified.
//
// Usage: score_af [--data DIR] [--records LIST] [--reference-beats] [--rr-only]
//                 [--irregularity X] [--coherence X] [--window N] [--check FILE]
//                 [--edge-coherence X] [--reach N]
//                 [RECORDING...]
//   RECORDING          a synthetic recording; the rhythm.csv beside it, when there is
//                      one, gives its AF stretches, and any AF found outside them
//                      fails the check (all AF found, without one)
//   --reference-beats  the reference beat list instead of the detector's
//   --rr-only          no atrial activity from the signal
//   --verbose          where the AF found lies, by reference rhythm
//   --check FILE       lines "af TABLE ITEM MIN_SE MIN_PP" (TABLE pipeline, reference,
//                      unclassified or synthetic, ITEM a record or gross; duration
//                      figures); exit status 1 when a figure falls below its line
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/AtrialFibrillation.h"
#include "analysis/BeatClass.h"
#include "analysis/EcgDocument.h"
#include "tools/vitrel-analyze/EpisodeMatch.h"

namespace fs = std::filesystem;

namespace {

constexpr int64_t SCORE_FROM = 300 * 250;
constexpr int64_t MATCH_TOLERANCE = 37;  // 150 ms

struct Reference {
    std::vector<uint32_t> beats;
    std::vector<char> codes;
};

bool ReadBeats(const std::string& path, Reference& ref)
{
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        const size_t comma = line.find(',');
        if (comma == std::string::npos || comma + 1 >= line.size())
            continue;
        ref.beats.push_back(uint32_t(std::stoul(line.substr(0, comma))));
        ref.codes.push_back(line[comma + 1]);
    }
    return bool(in.eof());
}

// The class of each beat: that of the nearest beat of another list within
// 150 ms, unclassified without one.
template <class ClassOf>
std::vector<BeatClass> MatchedClasses(const std::vector<uint32_t>& beats, const std::vector<uint32_t>& other,
                                      ClassOf classOf)
{
    std::vector<BeatClass> out(beats.size(), BeatClass::Unclassified);
    for (size_t i = 0; i < beats.size(); ++i) {
        const auto it = std::lower_bound(other.begin(), other.end(), beats[i]);
        int64_t best = MATCH_TOLERANCE + 1;
        size_t at = 0;
        for (auto j = it == other.begin() ? it : it - 1; j != other.end() && j <= it; ++j) {
            const int64_t d = std::llabs(int64_t(*j) - int64_t(beats[i]));
            if (d < best) {
                best = d;
                at = size_t(j - other.begin());
            }
        }
        if (best <= MATCH_TOLERANCE)
            out[i] = classOf(at);
    }
    return out;
}

std::vector<BeatClass> ReferenceClasses(const std::vector<uint32_t>& beats, const Reference& ref)
{
    return MatchedClasses(beats, ref.beats, [&](size_t k) { return BeatClassFromMitLetter(ref.codes[k]); });
}

constexpr int TABLES = 3;
const char* const TABLE_KEY[TABLES] = {"pipeline", "reference", "unclassified"};
const char* const TABLE_TITLE[TABLES] = {"Classes of the document's classifier (what the program reports)",
                                         "Reference classes of the matched beats",
                                         "Every beat unclassified (RR intervals and the lead)"};

// Test episodes as a rhythm annotation file would hold them: from the first
// beat in AF to the beat after the last one (the end of the recording after
// the last beat).
std::vector<EpisodeSpan> Spans(const std::vector<Episode>& af, const std::vector<uint32_t>& beats, uint64_t samples)
{
    std::vector<EpisodeSpan> out;
    for (const Episode& e : af) {
        const auto next = std::upper_bound(beats.begin(), beats.end(), e.last);
        out.push_back({e.first, next == beats.end() ? int64_t(samples) : int64_t(*next)});
    }
    return out;
}

struct Row {
    std::string record;
    EpisodeMatchResult result[TABLES];
    double seconds[TABLES] = {};       // AF found, whole recording
    std::string missedLong[TABLES];    // reference AF episodes of 30 s or more not overlapped
};

void PrintTable(const std::vector<Row>& rows, int table, std::map<std::string, std::pair<double, double>>& figures)
{
    std::printf("\n%s\n", TABLE_TITLE[table]);
    std::printf("  %-8s %8s %8s %5s %5s %5s %5s %7s %7s %7s %7s\n", "record", "ref s", "found s", "TPs", "FN", "TPp",
                "FP", "ESe %", "E+P %", "DSe %", "D+P %");
    EpisodeMatchResult gross;
    for (const Row& r : rows) {
        const EpisodeMatchResult& m = r.result[table];
        gross += m;
        std::printf("  %-8s %8.1f %8.1f %5llu %5llu %5llu %5llu %7.2f %7.2f %7.2f %7.2f\n", r.record.c_str(),
                    m.referenceDuration / 250.0, m.testDuration / 250.0, (unsigned long long)m.referenceFound,
                    (unsigned long long)m.referenceMissed, (unsigned long long)m.testTrue,
                    (unsigned long long)m.testFalse, m.EpisodeSensitivity(), m.EpisodePositivePredictivity(),
                    m.DurationSensitivity(), m.DurationPositivePredictivity());
        figures[std::string(TABLE_KEY[table]) + " " + r.record] = {m.referenceDuration ? m.DurationSensitivity() : 100.0,
                                   m.testDuration ? m.DurationPositivePredictivity() : 100.0};
    }
    std::printf("  %-8s %8.1f %8.1f %5llu %5llu %5llu %5llu %7.2f %7.2f %7.2f %7.2f\n", "gross",
                gross.referenceDuration / 250.0, gross.testDuration / 250.0, (unsigned long long)gross.referenceFound,
                (unsigned long long)gross.referenceMissed, (unsigned long long)gross.testTrue,
                (unsigned long long)gross.testFalse, gross.EpisodeSensitivity(), gross.EpisodePositivePredictivity(),
                gross.DurationSensitivity(), gross.DurationPositivePredictivity());
    figures[std::string(TABLE_KEY[table]) + " gross"] = {gross.DurationSensitivity(),
                                                                                  gross.DurationPositivePredictivity()};
    // The whole-recording AF time of the records without reference AF: none is the aim.
    std::string none;
    for (const Row& r : rows)
        if (r.result[table].referenceDuration == 0 && r.seconds[table] > 0) {
            char b[64];
            std::snprintf(b, sizeof b, " %s (%.0f s)", r.record.c_str(), r.seconds[table]);
            none += b;
        }
    std::printf("  AF found in records without it:%s\n", none.empty() ? " none" : none.c_str());
    std::string missed;
    for (const Row& r : rows)
        missed += r.missedLong[table];
    std::printf("  Reference AF episodes of 30 s or more missed:%s\n", missed.empty() ? " none" : missed.c_str());
}

}  // namespace

int main(int argc, char** argv)
{
    std::string data = std::string(VITREL_DATA_DIR), records, check;
    bool referenceBeats = false, rrOnly = false, verbose = false;
    AfParameters p;
    std::vector<std::string> plain;  // recordings without AF
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool value = i + 1 < argc;
        if (a == "--data" && value)
            data = argv[++i];
        else if (a == "--records" && value)
            records = argv[++i];
        else if (a == "--check" && value)
            check = argv[++i];
        else if (a == "--irregularity" && value)
            p.irregularity = std::atof(argv[++i]);
        else if (a == "--coherence" && value)
            p.pWaveCoherence = std::atof(argv[++i]);
        else if (a == "--window" && value)
            p.window = uint32_t(std::atoi(argv[++i]));
        else if (a == "--premature" && value)
            p.premature = std::atof(argv[++i]);
        else if (a == "--pause" && value)
            p.pause = std::atof(argv[++i]);
        else if (a == "--turning" && value)
            p.turningPoints = std::atof(argv[++i]);
        else if (a == "--shortest" && value)
            p.shortest = uint32_t(std::atoi(argv[++i]));
        else if (a == "--bridge" && value)
            p.bridge = uint32_t(std::atoi(argv[++i]));
        else if (a == "--piece" && value)
            p.piece = uint32_t(std::atoi(argv[++i]));
        else if (a == "--edge-coherence" && value)
            p.edgeCoherence = std::atof(argv[++i]);
        else if (a == "--reach" && value)
            p.reach = uint32_t(std::atoi(argv[++i]));
        else if (a == "--reference-beats")
            referenceBeats = true;
        else if (a == "--verbose")
            verbose = true;
        else if (a == "--rr-only")
            rrOnly = true;
        else if (!a.empty() && a[0] != '-')
            plain.push_back(a);
        else {
            std::fprintf(stderr, "score_af: unknown argument %s\n", a.c_str());
            return 2;
        }
    }
    std::vector<std::string> list;
    if (records.empty() && fs::is_directory(data)) {
        for (const auto& e : fs::directory_iterator(data))
            if (e.is_directory() && e.path().filename().string().rfind("mitdb-", 0) == 0)
                list.push_back(e.path().filename().string().substr(6));
        std::sort(list.begin(), list.end());
    } else {
        std::stringstream ss(records);
        for (std::string r; std::getline(ss, r, ',');)
            list.push_back(r);
    }
    // Synthetic recordings, analysed as the program does: the AF found
    // against the stretches vitrel-synth wrote (none without a rhythm.csv).
    bool plainFalse = false;
    EpisodeMatchResult synthetic;
    std::map<std::string, std::pair<double, double>> figures;
    for (const std::string& path : plain) {
        CEcgDocument doc;
        doc.OpenFile(path);
        doc.SetDetectorKind(DetectorKind::Precise);
        doc.StartAnalysis(nullptr);
        doc.WaitAnalysis();
        const auto results = doc.GetResults();
        if (!results) {
            std::fprintf(stderr, "score_af: %s could not be analysed\n", path.c_str());
            return 1;
        }
        const SampleReader read = [&doc](int16_t* buffer, uint64_t first, uint32_t count) {
            return doc.ReadSamples(buffer, int64_t(first), count);
        };
        const uint64_t samples = doc.GetSampleCount();
        const std::vector<Episode> af =
            FindAfEpisodes(results->beats, results->classes, samples, rrOnly ? SampleReader{} : read, p);
        std::vector<RhythmSpan> rhythm;
        const fs::path rhythmFile = fs::path(path).parent_path() / "rhythm.csv";
        if (fs::exists(rhythmFile) && !ReadRhythmList(rhythmFile.string(), rhythm)) {
            std::fprintf(stderr, "score_af: %s unreadable\n", rhythmFile.string().c_str());
            return 1;
        }
        const EpisodeMatchResult m =
            MatchEpisodes(SpansOf(rhythm, "AFIB"), Spans(af, results->beats, samples), {}, 0, int64_t(samples));
        synthetic += m;
        std::printf("synthetic: %s: %zu beats, AF %.1f s, found %.1f s in %zu episodes (%llu false), DSe %.2f D+P %.2f\n",
                    path.c_str(), results->beats.size(), m.referenceDuration / 250.0, m.testDuration / 250.0,
                    af.size(), (unsigned long long)m.testFalse, m.referenceDuration ? m.DurationSensitivity() : 100.0,
                    m.testDuration ? m.DurationPositivePredictivity() : 100.0);
        plainFalse = plainFalse || m.testFalse > 0;
    }
    if (!plain.empty()) {
        figures["synthetic gross"] = {synthetic.referenceDuration ? synthetic.DurationSensitivity() : 100.0,
                                      synthetic.testDuration ? synthetic.DurationPositivePredictivity() : 100.0};
        std::printf("synthetic gross: AF %.1f s, found %.1f s, DSe %.2f D+P %.2f, false episodes %llu\n",
                    synthetic.referenceDuration / 250.0, synthetic.testDuration / 250.0, figures["synthetic gross"].first,
                    figures["synthetic gross"].second, (unsigned long long)synthetic.testFalse);
    }
    if (list.empty() && plain.empty()) {
        std::printf("score_af: no records in %s\n", data.c_str());
        return 0;
    }

    std::vector<Row> rows;
    for (const std::string& r : list) {
        const fs::path dir = fs::path(data) / ("mitdb-" + r);
        std::string file;
        if (fs::is_directory(dir))
            for (const auto& e : fs::directory_iterator(dir)) {
                const std::string n = e.path().filename().string();
                if (n.size() == 11 && n[8] == '.' && std::all_of(n.begin(), n.begin() + 8, ::isdigit))
                    file = e.path().string();
            }
        Reference ref;
        std::vector<RhythmSpan> rhythm;
        if (file.empty() || !ReadBeats((dir / (r + ".beats.csv")).string(), ref) ||
            !ReadRhythmList((dir / (r + ".rhythm.csv")).string(), rhythm)) {
            std::fprintf(stderr, "score_af: record %s not found in %s\n", r.c_str(), data.c_str());
            return 1;
        }
        CEcgDocument doc;
        doc.OpenFile(file);
        const uint64_t samples = doc.GetSampleCount();
        doc.SetDetectorKind(DetectorKind::Precise);
        doc.StartAnalysis(nullptr);
        doc.WaitAnalysis();
        const auto results = doc.GetResults();
        if (!results) {
            std::fprintf(stderr, "score_af: record %s could not be analysed\n", r.c_str());
            return 1;
        }
        const std::vector<uint32_t> beats = referenceBeats ? ref.beats : results->beats;
        const std::vector<BeatClass> pipeline =
            referenceBeats ? MatchedClasses(beats, results->beats, [&](size_t k) { return results->classes[k]; })
                           : results->classes;
        SampleReader read;
        if (!rrOnly)
            read = [&doc](int16_t* buffer, uint64_t first, uint32_t count) {
                return doc.ReadSamples(buffer, int64_t(first), count);
            };
        const std::vector<EpisodeSpan> afib = SpansOf(rhythm, "AFIB"), flutter = SpansOf(rhythm, "AFL");
        Row row;
        row.record = r;
        for (int t = 0; t < TABLES; ++t) {
            const std::vector<BeatClass> classes =
                t == 0   ? pipeline
                : t == 1 ? ReferenceClasses(beats, ref)
                         : std::vector<BeatClass>(beats.size(), BeatClass::Unclassified);
            const std::vector<Episode> af = FindAfEpisodes(beats, classes, samples, read, p);
            const std::vector<EpisodeSpan> found = Spans(af, beats, samples);
            row.result[t] = MatchEpisodes(afib, found, flutter, SCORE_FROM, int64_t(samples));
            for (const EpisodeSpan& ref : afib) {
                const int64_t from = std::max(ref.begin, SCORE_FROM);
                if (ref.end - from < 30 * 250 || MatchEpisodes({{from, ref.end}}, found, {}, 0, int64_t(samples)).referenceFound)
                    continue;
                row.missedLong[t] += " " + r + ":" + std::to_string(from) + "-" + std::to_string(ref.end);
            }
            for (const Episode& e : af)
                row.seconds[t] += (e.last - e.first) / 250.0;
            if (verbose) {
                // Where the AF found lies, by reference rhythm.
                std::map<std::string, double> where;
                for (const EpisodeSpan& s : Spans(af, beats, samples))
                    for (const RhythmSpan& rs : rhythm) {
                        const int64_t o = std::min(s.end, rs.span.end) - std::max(s.begin, rs.span.begin);
                        if (o > 0)
                            where[rs.rhythm] += o / 250.0;
                    }
                std::printf("%s %s:", r.c_str(), TABLE_KEY[t]);
                for (const auto& [k, v] : where)
                    std::printf(" %s %.0f s", k.c_str(), v);
                std::printf("\n");
            }
        }
        rows.push_back(row);
    }

    if (!rows.empty()) {
        std::printf("AF episodes in the manner of EC57: from the fifth minute, reference flutter left out of +P.\n");
        std::printf("Beats: %s; atrial activity: %s.\n", referenceBeats ? "the reference beats" : "the precise detector",
                    rrOnly ? "not used" : "used");
        for (int t = 0; t < TABLES; ++t)
            PrintTable(rows, t, figures);
    }

    if (check.empty())
        return 0;
    std::ifstream floors(check);
    std::string line;
    bool bad = false;
    while (std::getline(floors, line)) {
        std::istringstream f(line);
        std::string kind, table, item;
        double se = 0, pp = 0;
        if (!(f >> kind >> table >> item >> se >> pp) || kind != "af")
            continue;
        const auto it = figures.find(table + " " + item);
        if (it == figures.end())
            continue;
        if (it->second.first < se || it->second.second < pp) {
            std::printf("below the floor: af %s %s DSe %.2f D+P %.2f (floor %.2f %.2f)\n", table.c_str(),
                        item.c_str(), it->second.first, it->second.second, se, pp);
            bad = true;
        }
    }
    if (plainFalse) {
        std::printf("AF found in a synthetic recording outside its AF stretches\n");
        bad = true;
    }
    if (bad)
        return 1;
    std::printf("\nEvery AF figure is at or above its floor in %s.\n", check.c_str());
    return 0;
}
