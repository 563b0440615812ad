#include "Json.h"

#include <cmath>
#include <cstdio>

#include "recording/File.h"

namespace {

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

std::string JsonHrv(const AnalysisResults& f)
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

// One letter per beat, in the order of "beats".
std::string JsonClasses(const AnalysisResults& f)
{
    std::string letters;
    letters.reserve(f.classes.size());
    for (BeatClass c : f.classes)
        letters += GetBeatClassInfo(c).letter;
    return JsonString(letters);
}

std::string JsonEpisode(const Episode& e)
{
    return "{\"type\":" + JsonString(EpisodeTypeKey(e.type)) + ",\"first\":" + std::to_string(e.first) +
           ",\"last\":" + std::to_string(e.last) + ",\"beats\":" + std::to_string(e.beats) +
           ",\"rate\":" + JsonFloat(e.rate) + "}";
}

std::string JsonEpisodeOrNull(const Episode& e)
{
    return e.beats ? JsonEpisode(e) : "null";
}

std::string JsonEctopy(const AnalysisResults& f)
{
    const EctopySummary& e = f.ectopy;
    std::string out = "{\"counts\":{";
    for (int t = 0; t < EPISODE_TYPE_COUNT; ++t) {
        if (EpisodeType(t) == EpisodeType::AF)
            continue;
        if (t)
            out += ',';
        out += JsonString(EpisodeTypeKey(EpisodeType(t))) + ":" + std::to_string(e.count[size_t(t)]);
    }
    out += "},\"vBeats\":" + std::to_string(e.vBeats) + ",\"sBeats\":" + std::to_string(e.sBeats);
    out += ",\"longestRun\":" + JsonEpisodeOrNull(e.longestRun);
    out += ",\"fastestRun\":" + JsonEpisodeOrNull(e.fastestRun);
    out += ",\"pauses\":" + std::to_string(e.pauses) + ",\"longestPause\":" + JsonEpisodeOrNull(e.longestPause);
    out += ",\"longestRR\":" + std::to_string(e.longestRR) + ",\"longestRRAt\":" + std::to_string(e.longestRRAt);
    return out + "}";
}

std::string JsonAf(const AnalysisResults& f)
{
    const AfSummary& a = f.af;
    return "{\"burden\":" + JsonDouble(true, a.burdenPercent) +
           ",\"totalSeconds\":" + JsonDouble(true, double(a.totalSamples) / ECG_SAMPLE_RATE) +
           ",\"episodes\":" + std::to_string(a.episodes) + ",\"longest\":" + JsonEpisodeOrNull(a.longest) +
           ",\"fastestRate\":" + JsonFloat(a.fastestRate) + ",\"slowestRate\":" + JsonFloat(a.slowestRate) + "}";
}

}  // namespace

void PrintJson(const std::string& path, const CEcgDocument& doc, const AnalysisResults* results)
{
    static const AnalysisResults kNone;
    const bool completed = results != nullptr;
    const AnalysisResults& f = completed ? *results : kNone;
    const auto num = [](uint64_t v) { return std::to_string(v); };
    std::string out = "{\"file\":" + JsonString(CFile::FileTitleOf(path));
    out += ",\"kind\":" + std::to_string(doc.GetFileKind());
    out += ",\"sampleCount\":" + num(doc.GetSampleCount());
    out += ",\"startTime\":" + std::to_string(doc.GetStartTime().GetTime());
    out += std::string(",\"completed\":") + (completed ? "true" : "false");
    out += ", \"beats\":" + JsonArray(f.beats, num);
    out += ",\"abnormalBeats\":" + JsonArray(f.irregular, num);
    out += ", \"minutes\":" + JsonArray(f.minutes, [&](const MinuteRateStats& m) {
        return "{\"index\":" + std::to_string(m.nIndex) + ",\"avg\":" + JsonFloat(m.fAvgRate) +
               ",\"min\":" + JsonFloat(m.fMinRate) + ",\"max\":" + JsonFloat(m.fMaxRate) +
               ",\"slowBeat\":" + num(m.nSlowBeatPos) + ",\"fastBeat\":" + num(m.nFastBeatPos) + "}";
    });
    out += ", \"hours\":" + JsonArray(f.hours, [&](const HourRateStats& h) {
        return "{\"startHour\":" + std::to_string(h.nStartHour) +
               ",\"startMinute\":" + std::to_string(h.nStartMinute) +
               ",\"endHour\":" + std::to_string(h.nEndHour) + ",\"endMinute\":" + std::to_string(h.nEndMinute) +
               ",\"avg\":" + JsonFloat(h.fAvgRate) + ",\"min\":" + JsonFloat(h.fMinRate) +
               ",\"max\":" + JsonFloat(h.fMaxRate) + ",\"slowBeat\":" + num(h.nSlowBeatPos) +
               ",\"fastBeat\":" + num(h.nFastBeatPos) + "}";
    });
    out += ", \"minRatePosition\":" + num(f.minRatePosition);
    out += ",\"maxRatePosition\":" + num(f.maxRatePosition);
    out += ", \"hrv\":" + JsonHrv(f);
    out += ", \"classes\":" + JsonClasses(f);
    out += ", \"ectopy\":" + JsonEctopy(f);
    out += ", \"episodes\":" + JsonArray(f.episodes, JsonEpisode);
    out += ", \"af\":" + JsonAf(f);
    out += std::string(", \"reviewed\":") + (doc.IsReviewed() ? "true" : "false");
    out += "}";
    std::printf("%s\n", out.c_str());
}

