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

std::string EventText(const CEcgDocument& doc, const Episode& e)
{
    if (!e.beats)
        return "none";
    char buf[96];
    std::snprintf(buf, sizeof buf, "%u beats, %.0f bpm, at %s (sample %u)", e.beats, double(e.rate),
                  ClockOf(doc, e.first).c_str(), e.first);
    return buf;
}

void PrintEctopy(const CEcgDocument& doc, const AnalysisResults& f)
{
    const EctopySummary& e = f.ectopy;
    const auto n = [&](EpisodeType t) { return e.count[size_t(t)]; };
    std::printf("  ectopy:\n");
    std::printf("    ventricular beats %u: isolated %u, couplets %u, runs %u, VT %u, bigeminy %u, trigeminy %u\n",
                e.vBeats, n(EpisodeType::IsolatedV), n(EpisodeType::VCouplet), n(EpisodeType::VRun),
                n(EpisodeType::VT), n(EpisodeType::Bigeminy), n(EpisodeType::Trigeminy));
    std::printf("    supraventricular beats %u: isolated %u, couplets %u, runs %u, SVT %u\n", e.sBeats,
                n(EpisodeType::IsolatedS), n(EpisodeType::SCouplet), n(EpisodeType::SRun), n(EpisodeType::SVT));
    std::printf("    longest run: %s\n", EventText(doc, e.longestRun).c_str());
    std::printf("    fastest run: %s\n", EventText(doc, e.fastestRun).c_str());
    std::printf("    pauses (2.0 s or more): %u", e.pauses);
    if (e.pauses)
        std::printf(", longest %.2f s at %s", double(e.longestPause.last - e.longestPause.first) / ECG_SAMPLE_RATE,
                    ClockOf(doc, e.longestPause.first).c_str());
    std::printf("\n");
}

void PrintAf(const CEcgDocument& doc, const AnalysisResults& f)
{
    const AfSummary& a = f.af;
    if (!a.episodes) {
        std::printf("  atrial fibrillation: none\n");
        return;
    }
    const uint64_t secs = a.totalSamples / ECG_SAMPLE_RATE;
    std::printf("  atrial fibrillation: %u episodes, %llu:%02llu:%02llu in all, burden %.1f %%\n", a.episodes,
                (unsigned long long)(secs / 3600), (unsigned long long)(secs / 60 % 60),
                (unsigned long long)(secs % 60), a.burdenPercent);
    std::printf("    longest %.0f s from %s; ventricular rate %.0f-%.0f bpm\n",
                double(a.longest.last - a.longest.first) / ECG_SAMPLE_RATE, ClockOf(doc, a.longest.first).c_str(),
                double(a.slowestRate), double(a.fastestRate));
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
    PrintEctopy(doc, f);
    PrintAf(doc, f);
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

