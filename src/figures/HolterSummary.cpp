#include "figures/HolterSummary.h"

#include "analysis/EcgDocument.h"
#include "figures/HolterText.h"
#include "resources/QtResources.h"

namespace {

const Episode* FirstOfType(const AnalysisResults& r, EpisodeType type)
{
    for (const Episode& e : r.episodes)
        if (e.type == type)
            return &e;
    return nullptr;
}

QString RunText(const Episode& run)
{
    return ToQString(Text::kRunValue).arg(EpisodeTypeName(run.type), FormatCount(run.beats), FormatBpm(run.rate));
}

}  // namespace

std::vector<HolterFigureGroup> HolterSummaryFigures(const CEcgDocument* doc, const AnalysisResults& r)
{
    std::vector<HolterFigureGroup> groups;
    const auto addGroup = [&](const char* title) { groups.push_back({ToQString(title), {}}); };
    const auto add = [&](const QString& caption, const QString& value, const uint64_t* at = nullptr) {
        HolterFigure f;
        f.caption = caption;
        f.value = value;
        if (at) {
            f.hasTime = true;
            f.sample = static_cast<uint32_t>(*at);
            f.time = FormatClockAt(doc, *at);
        }
        groups.back().figures.push_back(f);
    };
    const auto addEpisode = [&](const QString& caption, const QString& value, const Episode* e) {
        const uint64_t at = e ? e->first : 0;
        add(caption, value, e ? &at : nullptr);
    };

    addGroup(Text::kSummaryGroupRate);
    add(ToQString(Text::kBeatsAnalysed), FormatCount(r.beats.size()));
    double mean = 0;
    if (r.beats.size() >= 2)
        mean = 60.0 * ECG_SAMPLE_RATE * double(r.beats.size() - 1) / double(r.beats.back() - r.beats.front());
    add(ToQString(Text::kMeanRate), FormatBpm(mean));
    if (!r.hours.empty()) {
        // The hour picked is the one the document's own positions come from: the first extreme.
        float slowest = 0, fastest = 0;
        for (const HourRateStats& h : r.hours) {
            if (slowest == 0 || h.fMinRate < slowest)
                slowest = h.fMinRate;
            if (fastest == 0 || h.fMaxRate > fastest)
                fastest = h.fMaxRate;
        }
        add(ToQString(Text::kMinRate), FormatBpm(slowest), &r.minRatePosition);
        add(ToQString(Text::kMaxRate), FormatBpm(fastest), &r.maxRatePosition);
    } else {
        add(ToQString(Text::kMinRate), ToQString(Text::kNoValue));
        add(ToQString(Text::kMaxRate), ToQString(Text::kNoValue));
    }

    const auto addTypes = [&](const char* title, const char* total, uint32_t beats, EpisodeType from, EpisodeType to) {
        addGroup(title);
        add(ToQString(total), FormatCount(beats));
        for (int t = int(from); t <= int(to); ++t) {
            const auto type = static_cast<EpisodeType>(t);
            addEpisode(EpisodeTypeName(type), FormatCount(r.ectopy.count[size_t(t)]), FirstOfType(r, type));
        }
    };
    addTypes(Text::kSummaryGroupV, Text::kVBeats, r.ectopy.vBeats, EpisodeType::IsolatedV, EpisodeType::Trigeminy);
    addTypes(Text::kSummaryGroupS, Text::kSBeats, r.ectopy.sBeats, EpisodeType::IsolatedS, EpisodeType::SVT);

    addGroup(Text::kSummaryGroupRuns);
    const auto addRun = [&](const char* caption, const Episode& run) {
        if (run.beats == 0)
            add(ToQString(caption), ToQString(Text::kNoValue));
        else
            addEpisode(ToQString(caption), RunText(run), &run);
    };
    addRun(Text::kLongestRun, r.ectopy.longestRun);
    addRun(Text::kFastestRun, r.ectopy.fastestRun);

    addGroup(Text::kSummaryGroupPauses);
    add(ToQString(Text::kPauseCount), FormatCount(r.ectopy.pauses));
    const Episode& pause = r.ectopy.longestPause;
    addEpisode(ToQString(Text::kLongestPause),
               pause.beats ? FormatDuration(pause.last - pause.first) : ToQString(Text::kNoValue),
               pause.beats ? &pause : nullptr);

    addGroup(Text::kSummaryGroupAf);
    add(ToQString(Text::kAfBurden), FormatPercent(true, r.af.burdenPercent));
    add(ToQString(Text::kAfEpisodes), FormatCount(r.af.episodes));
    const Episode& af = r.af.longest;
    addEpisode(ToQString(Text::kAfLongest), af.beats ? FormatDuration(af.last - af.first) : ToQString(Text::kNoValue),
               af.beats ? &af : nullptr);

    addGroup(Text::kSummaryGroupHrv);
    const HrvMeasures& h = r.hrv;
    const bool hrv = r.hasHrv;
    add(ToQString(Text::kHrvMeanNN), FormatMs(hrv && h.HasMean(), h.meanNN));
    add(ToQString(Text::kHrvSdnn), FormatMs(hrv && h.HasSdnn(), h.sdnn));
    add(ToQString(Text::kHrvSdann), FormatMs(hrv && h.HasSdann(), h.sdann));
    add(ToQString(Text::kHrvSdnnIndex), FormatMs(hrv && h.HasSdnnIndex(), h.sdnnIndex));
    add(ToQString(Text::kHrvRmssd), FormatMs(hrv && h.HasSuccessive(), h.rmssd));
    add(ToQString(Text::kHrvPnn50), FormatPercent(hrv && h.HasSuccessive(), h.pnn50));
    add(ToQString(Text::kHrvTriangular), FormatRatio(hrv && h.HasMean(), h.triangularIndex));
    return groups;
}

std::vector<HourFigures> HourlyFigures(const CEcgDocument* doc, const AnalysisResults& r)
{
    std::vector<HourFigures> rows;
    for (const HourRateStats& h : r.hours)
        rows.push_back({FormatText(Text::kHourSpan, h.nStartHour, h.nStartMinute, h.nEndHour, h.nEndMinute),
                        h.fAvgRate, h.fMinRate, h.fMaxRate});
    if (rows.empty() || !doc)
        return rows;
    // Beats come in time order, so each one's clock hour names the next hour
    // record with that hour at or after the current one (a day later, the
    // same hour again).
    const CTime start = doc->GetStartTime();
    size_t g = 0;
    for (size_t i = 0; i < r.beats.size() && i < r.classes.size(); ++i) {
        const BeatClass c = r.classes[i];
        if (c != BeatClass::V && c != BeatClass::S)
            continue;
        const int hour = (start + static_cast<int64_t>(r.beats[i] / ECG_SAMPLE_RATE)).GetHour();
        for (size_t k = g; k < r.hours.size() && r.hours[g].nStartHour != hour; ++k)
            if (r.hours[k].nStartHour == hour)
                g = k;
        (c == BeatClass::V ? rows[g].vBeats : rows[g].sBeats)++;
    }
    return rows;
}
