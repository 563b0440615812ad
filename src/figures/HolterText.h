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
// A standard recording that cannot tell when it began: its times read as the
// time elapsed since its start. The recorder's kinds keep their clock times.
bool ShowsElapsedClock(const CEcgDocument* doc);
// The clock time of sample from start ("12:03:05"), or the elapsed time.
QString FormatClock(CTime start, bool elapsed, uint64_t sample);
// The same as the document tells it; elapsed time without a document.
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
