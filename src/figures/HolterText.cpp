#include "figures/HolterText.h"

#include "analysis/EcgDocument.h"
#include "resources/QtResources.h"

QString FormatBpm(double bpm)
{
    if (!(bpm > 0))
        return ToQString(Text::kNoValue);
    return FormatText(Text::kBpmValue, bpm);
}

QString FormatElapsed(uint64_t seconds)
{
    return FormatText(Text::kClockValue, static_cast<int>(seconds / 3600), static_cast<int>(seconds / 60 % 60),
                      static_cast<int>(seconds % 60));
}

bool ShowsElapsedClock(const CEcgDocument* doc)
{
    CEcgFile* file = doc ? doc->GetEcgFile() : nullptr;
    CTime start;
    return file && file->GetFileKind() == ECG_KIND_STANDARD && !file->GetStartTime(&start);
}

QString FormatClock(CTime start, bool elapsed, uint64_t sample)
{
    const uint64_t seconds = sample / ECG_SAMPLE_RATE;
    if (elapsed)
        return FormatElapsed(seconds);
    const LocalFields f = (start + static_cast<int64_t>(seconds)).GetLocalFields();
    return FormatText(Text::kClockValue, f.hour, f.minute, f.second);
}

QString FormatClockAt(const CEcgDocument* doc, uint64_t sample)
{
    if (!doc)
        return FormatElapsed(sample / ECG_SAMPLE_RATE);
    return FormatClock(doc->GetStartTime(), ShowsElapsedClock(doc), sample);
}

QString FormatDuration(uint64_t samples)
{
    if (samples < 60 * ECG_SAMPLE_RATE)
        return FormatText(Text::kSecondsValue, static_cast<double>(samples) / ECG_SAMPLE_RATE);
    return FormatElapsed(samples / ECG_SAMPLE_RATE);
}

QString FormatMs(bool present, double ms)
{
    return present ? FormatText(Text::kMsValue, ms) : ToQString(Text::kNoValue);
}

QString FormatPercent(bool present, double percent)
{
    return present ? FormatText(Text::kPercentValue, percent) : ToQString(Text::kNoValue);
}

QString FormatRatio(bool present, double value)
{
    return present ? FormatText(Text::kRatioValue, value) : ToQString(Text::kNoValue);
}

QString FormatCount(uint64_t count)
{
    return FormatText("%llu", static_cast<unsigned long long>(count));
}

QString EpisodeTypeName(EpisodeType type)
{
    return LoadQString(EpisodeTypeNameId(type));
}
