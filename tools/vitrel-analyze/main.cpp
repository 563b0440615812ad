// vitrel-analyze: the document's analysis run without a window.
#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "BeatMatch.h"
#include "analysis/DefaultDetector.h"
#include "analysis/EcgDocument.h"
#include "analysis/HeartRateVariability.h"
#include "formats/Export.h"
#include "formats/Reference.h"
#include "formats/StandardFile.h"
#include "recording/EcgFile.h"
#include "recording/ErrorMessage.h"
#include "recording/File.h"
#include "resources/Version.h"

#ifdef VITREL_HAVE_REPORT
#include "report/BatchReport.h"
#endif

namespace {

enum ExitStatus { kExitOk = 0, kExitFileFailed = 1, kExitUsage = 2 };

void PrintHelp(FILE* out)
{
    std::fprintf(out,
                 "Usage: vitrel-analyze [OPTIONS] FILE...\n"
                 "Analyse ECG recordings as the application does and print the findings.\n"
                 "\n"
                 "  --json               one JSON object per file, on one line\n"
                 "  --detector NAME      R-wave detector for long recordings: standard (the\n"
                 "                       default for the recorder's files, with the results its\n"
                 "                       users know) or precise (the default for standard\n"
                 "                       recordings: finds nearly every beat, wide ventricular\n"
                 "                       ones included, and invents almost none)\n"
                 "  --lead NAME|N        the lead of a standard recording: its channel label or\n"
                 "                       number from 1 (default: II, MLII, ECG, I, V1-V6, ...)\n"
                 "  --reference BEATS    compare the detected beats with a reference: lines\n"
                 "                       \"index,code\" (250 samples/s), a WFDB annotation file\n"
                 "                       (REC.atr beside REC.hea) or an EDF+/BDF+/GDF file's\n"
                 "                       annotations; only beat codes count, a beat matches\n"
                 "                       within 150 ms, and the ventricular flutter episodes\n"
                 "                       the reference marks ([ to ]) are left out\n"
                 "  --score-from SECONDS with --reference: leave the beats of the first SECONDS\n"
                 "                       out of the comparison (300 as in ANSI/AAMI EC57)\n"
                 "  --exclude FIRST-LAST with --reference: leave the beats of samples FIRST to\n"
                 "                       LAST out of the comparison (e.g. ventricular flutter);\n"
                 "                       may be given more than once\n"
                 "  --beats OUT.csv      write the beats: position, clock time, RR ms, irregular\n"
                 "  --export-edf OUT.edf write the ECG and the beats as an EDF+ file\n"
                 "  --export-wfdb DIR    write the ECG and the beats as a WFDB record in DIR\n"
                 "  --report OUT.pdf     write the printed report of the (single) FILE\n"
                 "  --page-size NAME     page size of the report, e.g. A4 (default) or Letter\n"
                 "  --help               show this help\n"
                 "  --version            show the version\n"
                 "\n"
                 "Standard recordings (EDF/EDF+, BDF/BDF+, GDF, WFDB .hea, SCP-ECG, HL7 aECG)\n"
                 "are read at 250 samples/s and analysed as long recordings. --report and the\n"
                 "exports take a single FILE. The start time and clock fields follow the local\n"
                 "time zone (TZ).\n"
                 "\n"
                 "Exit status:\n"
                 "  0  every file was analysed completely\n"
                 "  1  a file could not be opened, its analysis did not complete, or the\n"
                 "     report or an export could not be written\n"
                 "  2  usage error\n");
}

// Records what the analysis run tells its view. Calls arrive on the worker;
// the main thread reads the fields only after the worker has been joined.
class RecordingView : public IAnalysisView {
public:
    void ShowProgress() override {}
    void SetProgress(short percent) override { lastPercent = percent; }
    void OnDetectionFinished(bool completed) override
    {
        detectionFinished = true;
        detectionCompleted = completed;
    }
    void BeginStatisticsProgress() override {}
    void OnStatisticsFinished(bool produced) override { statisticsProduced = produced; }

    bool detectionFinished = false;
    bool detectionCompleted = false;
    bool statisticsProduced = false;
    short lastPercent = 0;
};

struct Options {
    bool json = false;
    std::optional<DetectorKind> detector;  // unset: the default for the file's kind
    std::string lead;
    std::string beatsCsv;
    std::string exportEdf;
    std::string exportWfdb;
    std::string reference;
    int64_t scoreFrom = 0;                            // samples
    std::vector<std::pair<int64_t, int64_t>> exclude;  // inclusive sample spans
    std::string report;
    std::string pageSize;
    std::vector<std::string> files;
};

std::string JsonString(const std::string& s)
{
    std::string out = "\"";
    for (unsigned char c : s) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += char(c);
            }
        }
    }
    return out + "\"";
}

// Nine significant digits read back as the same 32-bit float.
std::string JsonFloat(float f)
{
    if (!std::isfinite(f))
        return "0";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.9g", double(f));
    return buf;
}

std::string JsonDouble(bool present, double v)
{
    if (!present || !std::isfinite(v))
        return "null";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.9g", v);
    return buf;
}

template <class T, class F>
std::string JsonArray(const std::vector<T>& items, F&& each)
{
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i) {
        if (i)
            out += ',';
        out += each(items[i]);
    }
    return out + "]";
}

struct Findings {
    std::vector<uint32_t> beats;
    std::vector<uint32_t> abnormal;
    std::vector<const MinuteRateStats*> minutes;
    std::vector<const HourRateStats*> hours;
    uint64_t minRatePosition = 0;
    uint64_t maxRatePosition = 0;
    bool hasHrv = false;  // long recordings whose run completed
    HrvMeasures hrv;
};

Findings Collect(const CEcgDocument& doc, bool completed)
{
    Findings f;
    if (!completed)
        return f;
    doc.GetBeatsInRange(0, UINT32_MAX, f.beats);
    doc.GetAbnormalBeats(f.abnormal);
    doc.GetMinuteStats(f.minutes);
    doc.GetHourStats(f.hours);
    if (doc.IsStatisticsReady()) {
        f.minRatePosition = doc.FindMinRatePosition();
        f.maxRatePosition = doc.FindMaxRatePosition();
    }
    if (IsLongRecordingKind(doc.GetFileKind())) {
        f.hasHrv = true;
        f.hrv = ComputeHrv(f.beats, f.abnormal, ECG_SAMPLE_RATE);
    }
    return f;
}

std::string JsonHrv(const Findings& f)
{
    if (!f.hasHrv)
        return "null";
    const HrvMeasures& h = f.hrv;
    return "{\"nnCount\":" + std::to_string(h.nnCount) + ",\"meanNN\":" + JsonDouble(h.HasMean(), h.meanNN) +
           ",\"sdnn\":" + JsonDouble(h.HasSdnn(), h.sdnn) + ",\"sdann\":" + JsonDouble(h.HasSdann(), h.sdann) +
           ",\"sdnnIndex\":" + JsonDouble(h.HasSdnnIndex(), h.sdnnIndex) +
           ",\"rmssd\":" + JsonDouble(h.HasSuccessive(), h.rmssd) +
           ",\"pnn50\":" + JsonDouble(h.HasSuccessive(), h.pnn50) +
           ",\"triangularIndex\":" + JsonDouble(h.HasMean(), h.triangularIndex) + "}";
}

void PrintJson(const std::string& path, const CEcgDocument& doc, bool completed, const Findings& f)
{
    const auto num = [](uint64_t v) { return std::to_string(v); };
    std::string out = "{\"file\":" + JsonString(CFile::FileTitleOf(path));
    out += ",\"kind\":" + std::to_string(doc.GetFileKind());
    out += ",\"sampleCount\":" + num(doc.GetSampleCount());
    out += ",\"startTime\":" + std::to_string(doc.GetStartTime().GetTime());
    out += std::string(",\"completed\":") + (completed ? "true" : "false");
    out += ", \"beats\":" + JsonArray(f.beats, num);
    out += ",\"abnormalBeats\":" + JsonArray(f.abnormal, num);
    out += ", \"minutes\":" + JsonArray(f.minutes, [&](const MinuteRateStats* m) {
        return "{\"index\":" + std::to_string(m->nIndex) + ",\"avg\":" + JsonFloat(m->fAvgRate) +
               ",\"min\":" + JsonFloat(m->fMinRate) + ",\"max\":" + JsonFloat(m->fMaxRate) +
               ",\"slowBeat\":" + num(m->nSlowBeatPos) + ",\"fastBeat\":" + num(m->nFastBeatPos) + "}";
    });
    out += ", \"hours\":" + JsonArray(f.hours, [&](const HourRateStats* h) {
        return "{\"startHour\":" + std::to_string(h->nStartHour) +
               ",\"startMinute\":" + std::to_string(h->nStartMinute) +
               ",\"endHour\":" + std::to_string(h->nEndHour) + ",\"endMinute\":" + std::to_string(h->nEndMinute) +
               ",\"avg\":" + JsonFloat(h->fAvgRate) + ",\"min\":" + JsonFloat(h->fMinRate) +
               ",\"max\":" + JsonFloat(h->fMaxRate) + ",\"slowBeat\":" + num(h->nSlowBeatPos) +
               ",\"fastBeat\":" + num(h->nFastBeatPos) + "}";
    });
    out += ", \"minRatePosition\":" + num(f.minRatePosition);
    out += ",\"maxRatePosition\":" + num(f.maxRatePosition);
    out += ", \"hrv\":" + JsonHrv(f) + "}";
    std::printf("%s\n", out.c_str());
}

std::string ClockOf(const CEcgDocument& doc, uint64_t sample)
{
    CTime t;
    doc.GetTimeAt(&t, int32_t(sample / ECG_SAMPLE_RATE), false);
    const LocalFields lf = t.GetLocalFields();
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", lf.hour, lf.minute, lf.second);
    return buf;
}

std::string Measure(bool present, double v, const char* unit)
{
    if (!present)
        return "-";
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.1f%s", v, unit);
    return buf;
}

void PrintHrv(const HrvMeasures& h)
{
    std::printf("  heart-rate variability (%zu NN intervals):\n", h.nnCount);
    std::printf("    mean NN %s, SDNN %s, SDANN %s, SDNN index %s\n", Measure(h.HasMean(), h.meanNN, " ms").c_str(),
                Measure(h.HasSdnn(), h.sdnn, " ms").c_str(), Measure(h.HasSdann(), h.sdann, " ms").c_str(),
                Measure(h.HasSdnnIndex(), h.sdnnIndex, " ms").c_str());
    std::printf("    RMSSD %s, pNN50 %s, triangular index %s\n", Measure(h.HasSuccessive(), h.rmssd, " ms").c_str(),
                Measure(h.HasSuccessive(), h.pnn50, " %").c_str(),
                Measure(h.HasMean(), h.triangularIndex, "").c_str());
}

void PrintSummary(const std::string& path, const CEcgDocument& doc, bool completed, const Findings& f)
{
    static const char* const kKinds[] = {"unknown", "long recording", "normal short recording",
                                         "remote short recording", "standard recording"};
    const int kind = doc.GetFileKind();
    std::printf("%s\n", path.c_str());
    if (const auto* standard = dynamic_cast<const CStandardFile*>(doc.GetEcgFile())) {
        const StandardRecording& r = standard->Recording();
        std::printf("  kind:           %d (%s: %s, lead %d %s, %g samples/s)\n", kind, kKinds[4], r.format.c_str(),
                    r.leadNumber, r.leadLabel.c_str(), r.sourceRate);
    } else {
        std::printf("  kind:           %d (%s)\n", kind, kKinds[kind >= 1 && kind <= 3 ? kind : 0]);
    }
    const int64_t start = doc.GetStartTime().GetTime();
    if (start != 0) {
        const LocalFields lf = doc.GetStartTime().GetLocalFields();
        std::printf("  start time:     %04d-%02d-%02d %02d:%02d:%02d\n", lf.year, lf.month, lf.day, lf.hour,
                    lf.minute, lf.second);
    } else {
        std::printf("  start time:     unknown\n");
    }
    const uint64_t samples = doc.GetSampleCount();
    const uint64_t secs = samples / ECG_SAMPLE_RATE;
    std::printf("  duration:       %llu:%02llu:%02llu (%llu samples)\n", (unsigned long long)(secs / 3600),
                (unsigned long long)(secs / 60 % 60), (unsigned long long)(secs % 60),
                (unsigned long long)samples);
    if (!completed) {
        std::printf("  analysis:       not completed\n");
        return;
    }
    std::printf("  beats:          %zu\n", f.beats.size());
    if (f.beats.size() >= 2) {
        const double meanRR = double(f.beats.back() - f.beats.front()) / double(f.beats.size() - 1);
        std::printf("  mean rate:      %.1f bpm\n", 15000.0 / meanRR);
    } else {
        std::printf("  mean rate:      -\n");
    }
    std::printf("  abnormal beats: %zu\n", f.abnormal.size());
    if (f.hasHrv)
        PrintHrv(f.hrv);
    if (f.hours.empty()) {
        std::printf("  hourly statistics: none\n");
        return;
    }
    std::printf("  hourly statistics:\n");
    std::printf("    %-11s %7s %7s %7s  %-8s  %-8s\n", "time", "avg", "min", "max", "slowest", "fastest");
    for (const HourRateStats* h : f.hours) {
        char span[32];
        std::snprintf(span, sizeof span, "%02d:%02d-%02d:%02d", h->nStartHour, h->nStartMinute, h->nEndHour,
                      h->nEndMinute);
        std::printf("    %-11s %7.1f %7.1f %7.1f  %-8s  %-8s\n", span, double(h->fAvgRate), double(h->fMinRate),
                    double(h->fMaxRate), ClockOf(doc, h->nSlowBeatPos).c_str(),
                    ClockOf(doc, h->nFastBeatPos).c_str());
    }
    std::printf("  slowest rate at %s, fastest at %s\n", ClockOf(doc, f.minRatePosition).c_str(),
                ClockOf(doc, f.maxRatePosition).c_str());
}

void PrintMatch(const std::string& path, const BeatMatchResult& m, bool toStderr)
{
    std::fprintf(toStderr ? stderr : stdout, "%s: reference TP %llu FN %llu FP %llu Se %.2f%% +P %.2f%%\n",
                 path.c_str(), (unsigned long long)m.truePositives, (unsigned long long)m.falseNegatives,
                 (unsigned long long)m.falsePositives, m.Sensitivity(), m.PositivePredictivity());
}

// A whole number of at most 12 decimal digits, nothing else.
bool ParseCount(const std::string& text, int64_t* out)
{
    if (text.empty() || text.size() > 12 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    *out = std::stoll(text);
    return true;
}

int Usage(const char* message)
{
    std::fprintf(stderr, "vitrel-analyze: %s\nTry 'vitrel-analyze --help'.\n", message);
    return kExitUsage;
}

bool WriteExports(CEcgDocument& doc, const Findings& f, const Options& opt)
{
    if (opt.beatsCsv.empty() && opt.exportEdf.empty() && opt.exportWfdb.empty())
        return true;
    ExportInput in;
    in.beats = f.beats;
    in.abnormal = f.abnormal;
    std::sort(in.abnormal.begin(), in.abnormal.end());
    in.hasStartTime = doc.GetEcgFile()->GetStartTime(&in.startTime);
    in.leadLabel = "ECG";
    if (const auto* standard = dynamic_cast<const CStandardFile*>(doc.GetEcgFile()))
        in.leadLabel = standard->Recording().leadLabel;
    bool ok = true;
    std::string error;
    const auto report = [&](bool written) {
        if (!written) {
            std::fprintf(stderr, "vitrel-analyze: %s\n", error.c_str());
            ok = false;
        }
    };
    if (!opt.beatsCsv.empty())
        report(WriteBeatsCsv(opt.beatsCsv, in, &error));
    if (!opt.exportEdf.empty())
        report(WriteEdfPlus(opt.exportEdf, *doc.GetEcgFile(), in, &error));
    if (!opt.exportWfdb.empty())
        report(WriteWfdbRecord(opt.exportWfdb, WfdbRecordName(CFile::FileTitleOf(doc.GetFilePath())),
                               *doc.GetEcgFile(), in, &error));
    return ok;
}

// The files an export would write, and the inputs they must never replace.
std::vector<std::string> OutputsOf(const Options& opt)
{
    std::vector<std::string> out;
    for (const std::string* p : {&opt.beatsCsv, &opt.exportEdf, &opt.report})
        if (!p->empty())
            out.push_back(*p);
    if (!opt.exportWfdb.empty() && opt.files.size() == 1) {
        for (const std::string& p :
             WfdbRecordFiles(opt.exportWfdb, WfdbRecordName(CFile::FileTitleOf(opt.files.front()))))
            out.push_back(p);
    }
    return out;
}

std::vector<std::string> InputsOf(const Options& opt)
{
    std::vector<std::string> in = opt.files;
    if (!opt.reference.empty()) {
        in.push_back(opt.reference);
        if (ClassifyReference(opt.reference) == ReferenceKind::wfdb)
            in.push_back(opt.reference.substr(0, opt.reference.size() - 4) + ".hea");
    }
    for (size_t i = 0, n = in.size(); i < n; ++i)
        for (const std::string& companion : CompanionFiles(in[i]))
            in.push_back(companion);
    return in;
}

int AnalyseFile(const std::string& path, const Options& opt, const ReferenceAnnotations& reference)
{
    CEcgDocument doc;
    doc.OpenFile(path);

    RecordingView view;
    doc.SetDetectorKind(opt.detector.value_or(DefaultDetectorFor(doc.GetFileKind())));
    doc.StartAnalysis(&view);
    doc.WaitAnalysis();
    const bool completed =
        view.detectionFinished && view.detectionCompleted && doc.IsDetectionDone() && !doc.HasRunFailed();
    const Findings f = Collect(doc, completed);
    if (opt.json)
        PrintJson(path, doc, completed, f);
    else
        PrintSummary(path, doc, completed, f);

    int status = completed ? kExitOk : kExitFileFailed;
    if (!completed)
        std::fprintf(stderr, "%s: the analysis did not complete\n", path.c_str());
    if (!opt.reference.empty() && completed) {
        const std::vector<double> detected(f.beats.begin(), f.beats.end());
        std::vector<double> beats;
        for (const ReferenceBeat& b : reference.beats)
            beats.push_back(b.position);
        const auto scored = [&opt](double sample) {
            if (sample < double(opt.scoreFrom))
                return false;
            for (const auto& [from, to] : opt.exclude)
                if (sample >= double(from) && sample <= double(to))
                    return false;
            return true;
        };
        PrintMatch(path, MatchBeats(detected, beats, kMatchWindow, reference.unscored, scored), opt.json);
    }
    if (completed && !WriteExports(doc, f, opt))
        status = kExitFileFailed;
    if (!opt.report.empty()) {
#ifdef VITREL_HAVE_REPORT
        std::string error;
        if (!WriteReportPdf(doc, opt.report, opt.pageSize.empty() ? "A4" : opt.pageSize, &error)) {
            std::fprintf(stderr, "vitrel-analyze: %s\n", error.c_str());
            status = kExitFileFailed;
        }
#endif
    }
    return status;
}

}  // namespace

int main(int argc, char** argv)
{
    Options opt;
    bool endOfOptions = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (endOfOptions || arg.empty() || arg[0] != '-' || arg == "-") {
            opt.files.push_back(arg);
        } else if (arg == "--") {
            endOfOptions = true;
        } else if (arg == "--help" || arg == "-h") {
            PrintHelp(stdout);
            return kExitOk;
        } else if (arg == "--version") {
            std::printf("vitrel-analyze %s\n", VITREL_VERSION);
            return kExitOk;
        } else if (arg == "--json") {
            opt.json = true;
        } else if (arg == "--detector" || arg == "--score-from" || arg == "--exclude") {
            if (i + 1 >= argc)
                return Usage((arg + " needs an argument").c_str());
            const std::string value = argv[++i];
            if (arg == "--detector") {
                if (value == "standard")
                    opt.detector = DetectorKind::Standard;
                else if (value == "precise")
                    opt.detector = DetectorKind::Precise;
                else
                    return Usage(("--detector: standard or precise, not " + value).c_str());
            } else if (arg == "--score-from") {
                int64_t seconds = 0;
                if (!ParseCount(value, &seconds) || seconds > int64_t(UINT32_MAX / ECG_SAMPLE_RATE))
                    return Usage(("--score-from: not a number of seconds: " + value).c_str());
                opt.scoreFrom = seconds * ECG_SAMPLE_RATE;
            } else {
                const size_t dash = value.find('-');
                int64_t from = 0, to = 0;
                if (dash == std::string::npos || !ParseCount(value.substr(0, dash), &from) ||
                    !ParseCount(value.substr(dash + 1), &to) || to < from)
                    return Usage(("--exclude: expected FIRST-LAST sample numbers: " + value).c_str());
                opt.exclude.emplace_back(from, to);
            }
        } else if (arg == "--reference" || arg == "--report" || arg == "--page-size" || arg == "--lead" ||
                   arg == "--beats" || arg == "--export-edf" || arg == "--export-wfdb") {
            if (i + 1 >= argc)
                return Usage((arg + " needs an argument").c_str());
            std::string& target = arg == "--reference"    ? opt.reference
                                  : arg == "--report"     ? opt.report
                                  : arg == "--page-size"  ? opt.pageSize
                                  : arg == "--lead"       ? opt.lead
                                  : arg == "--beats"      ? opt.beatsCsv
                                  : arg == "--export-edf" ? opt.exportEdf
                                                          : opt.exportWfdb;
            target = argv[++i];
            if (target.empty())
                return Usage((arg + " needs an argument").c_str());
        } else {
            return Usage(("unknown option " + arg).c_str());
        }
    }
    if (opt.files.empty())
        return Usage("no FILE given");
    if (!opt.pageSize.empty() && opt.report.empty())
        return Usage("--page-size needs --report");
    if ((opt.scoreFrom > 0 || !opt.exclude.empty()) && opt.reference.empty())
        return Usage("--score-from and --exclude need --reference");
    if (!opt.report.empty()) {
#ifdef VITREL_HAVE_REPORT
        if (opt.files.size() != 1)
            return Usage("--report takes exactly one FILE");
        if (!IsKnownPageSize(opt.pageSize))
            return Usage(("unknown page size: " + opt.pageSize).c_str());
#else
        std::fprintf(stderr, "vitrel-analyze: --report is unavailable: this build has no report renderer\n");
        return kExitUsage;
#endif
    }

    if ((!opt.beatsCsv.empty() || !opt.exportEdf.empty() || !opt.exportWfdb.empty()) && opt.files.size() != 1)
        return Usage("the exports take exactly one FILE");
    // An output that names an input would destroy what it is made from:
    // refused before anything is read or written.
    const std::vector<std::string> inputs = InputsOf(opt);
    for (const std::string& out : OutputsOf(opt)) {
        for (const std::string& in : inputs) {
            if (IsSameFile(out, in)) {
                std::fprintf(stderr, "vitrel-analyze: cannot write %s: it is the input %s\n", out.c_str(), in.c_str());
                return kExitFileFailed;
            }
        }
    }
    RegisterStandardFormats(StandardOpenOptions{opt.lead});
#ifdef VITREL_HAVE_REPORT
    // Ends with main, before static teardown: nothing of the fonts is left behind.
    std::optional<CReportApplication> reportApplication;
    if (!opt.report.empty())
        reportApplication.emplace();
#endif

    ReferenceAnnotations reference;
    if (!opt.reference.empty()) {
        std::string error;
        if (!ReadReferenceAnnotations(opt.reference, &reference, &error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return kExitUsage;
        }
    }

    int status = kExitOk;
    for (const std::string& path : opt.files) {
        int rc = kExitOk;
        try {
            rc = AnalyseFile(path, opt, reference);
        } catch (const std::exception& e) {
            // The file cannot be opened, or failed after that (it vanished, a
            // read failed): its message, and on to the next file. A file error
            // names the file at fault: the path as given, or a file the
            // recording is read from beside it.
            std::fprintf(stderr, "%s\n", ErrorMessageFor(e, path).c_str());
            rc = kExitFileFailed;
        }
        if (rc != kExitOk)
            status = rc;
    }
    return status;
}
