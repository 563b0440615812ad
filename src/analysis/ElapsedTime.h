// Times of a recording that cannot tell when it began.
#pragma once

#include <cstdint>
#include <string>

class CEcgDocument;

// A standard recording without a start time: its times read as the time
// elapsed since its start. The recorder's kinds keep their calendar times,
// counted from 1970 when the name gave none.
bool ShowsElapsedTime(const CEcgDocument* doc);
// "hh:mm:ss" since the start; the hours go past 99 when they must.
std::string ElapsedText(int64_t seconds);
