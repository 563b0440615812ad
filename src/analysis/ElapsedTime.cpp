#include "analysis/ElapsedTime.h"

#include <cstdio>

#include "analysis/EcgDocument.h"

bool ShowsElapsedTime(const CEcgDocument* doc)
{
    CEcgFile* file = doc ? doc->GetEcgFile() : nullptr;
    CTime start;
    return file && file->GetFileKind() == ECG_KIND_STANDARD && !file->GetStartTime(&start);
}

std::string ElapsedText(int64_t seconds)
{
    if (seconds < 0)
        seconds = 0;
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02d:%02d", static_cast<long long>(seconds / 3600),
                  static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
    return text;
}
