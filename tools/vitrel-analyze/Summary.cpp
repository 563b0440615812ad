#include "Summary.h"

#include <cstdio>

#include "formats/ReviewFile.h"
#include "formats/StandardFile.h"

namespace {

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

}  // namespace

void PrintSummary(const std::string& path, const CEcgDocument& doc, const AnalysisResults* results)
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
    if (!results) {
        std::printf("  analysis:       not completed\n");
        return;
    }
    const AnalysisResults& f = *results;
    if (doc.IsReviewed())
        std::printf("  review:         applied (%s)\n", ReviewPathFor(path).c_str());
    std::printf("  beats:          %zu\n", f.beats.size());
    if (f.beats.size() >= 2) {
        const double meanRR = double(f.beats.back() - f.beats.front()) / double(f.beats.size() - 1);
        std::printf("  mean rate:      %.1f bpm\n", 15000.0 / meanRR);
    } else {
        std::printf("  mean rate:      -\n");
    }
    std::printf("  abnormal beats: %zu\n", f.irregular.size());
    if (f.hasHrv)
        PrintHrv(f.hrv);
    if (f.hours.empty()) {
        std::printf("  hourly statistics: none\n");
        return;
    }
    std::printf("  hourly statistics:\n");
    std::printf("    %-11s %7s %7s %7s  %-8s  %-8s\n", "time", "avg", "min", "max", "slowest", "fastest");
    for (const HourRateStats& h : f.hours) {
        char span[32];
        std::snprintf(span, sizeof span, "%02d:%02d-%02d:%02d", h.nStartHour, h.nStartMinute, h.nEndHour,
                      h.nEndMinute);
        std::printf("    %-11s %7.1f %7.1f %7.1f  %-8s  %-8s\n", span, double(h.fAvgRate), double(h.fMinRate),
                    double(h.fMaxRate), ClockOf(doc, h.nSlowBeatPos).c_str(),
                    ClockOf(doc, h.nFastBeatPos).c_str());
    }
    std::printf("  slowest rate at %s, fastest at %s\n", ClockOf(doc, f.minRatePosition).c_str(),
                ClockOf(doc, f.maxRatePosition).c_str());
}

