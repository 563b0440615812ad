// The Holter figures as texts, shared by the summary, events and plot panes
// and by anything else that shows the same figures (the printed report).
#pragma once

#include <QString>
#include <cstdint>

#include "analysis/Episodes.h"
#include "recording/Time.h"

class CEcgDocument;

// "72 bpm"; "-" for a rate of 0 or less (none measured).
QString FormatBpm(double bpm);
// "00:00:05": hours, minutes and seconds since the recording's start.
QString FormatElapsed(uint64_t seconds);
// The clock time of sample: "12:03:05" from start, or the elapsed time
// when the start is unknown (0, a standard recording without a date).
QString FormatClock(CTime start, uint64_t sample);
// The same from the document's start time; elapsed time without a document.
QString FormatClockAt(const CEcgDocument* doc, uint64_t sample);
// A span of samples: "4.2 秒" under a minute, else as FormatElapsed.
QString FormatDuration(uint64_t samples);
// "45.3 ms" / "12.5%" / "17.2"; "-" when the measure is absent.
QString FormatMs(bool present, double ms);
QString FormatPercent(bool present, double percent);
QString FormatRatio(bool present, double value);
QString FormatCount(uint64_t count);
// The window's name of an event type.
QString EpisodeTypeName(EpisodeType type);
