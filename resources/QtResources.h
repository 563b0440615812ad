// The string table and the font faces as the Qt layers use them.
#pragma once

#include <QFont>
#include <QFontMetrics>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <cstring>
#include <string>

#include "resources/StringTable.h"

inline QString ToQString(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

inline QString LoadQString(int id)
{
    return QString::fromUtf8(LoadString(id));
}

// printf-style formatting into a QString. Every number format of the texts
// goes through the C library, whose rounding (exact halves to even) they follow.
template <class... Args>
QString FormatText(const char* format, Args... args)
{
    char buf[256];
    const int len = std::snprintf(buf, sizeof buf, format, args...);
    if (len < 0)
        return {};
    if (len < static_cast<int>(sizeof buf))
        return QString::fromUtf8(buf, len);
    std::string text(static_cast<size_t>(len) + 1, '\0');
    std::snprintf(text.data(), text.size(), format, args...);
    return QString::fromUtf8(text.data(), len);
}

// A face name of the string table with the installed faces that stand in for
// it ("宋体" a serif, "黑体" a sans-serif CJK face), then the generic family.
inline QStringList FaceFamilies(const char* face)
{
    if (std::strcmp(face, Text::kFaceHei) == 0)
        return {ToQString(face), QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Noto Sans CJK"),
                QStringLiteral("sans-serif")};
    return {ToQString(face), QStringLiteral("Noto Serif CJK SC"), QStringLiteral("Noto Serif CJK"),
            QStringLiteral("Noto Sans CJK SC"), QStringLiteral("serif")};
}

// A screen font of the face whose QFontMetrics::height() is cellHeight: the
// largest pixel size whose cell fits. The CJK faces' cells are about 1.45 em
// and whole pixel sizes step over some heights (13, then 15), so the cell may
// come out a pixel short of the request.
inline QFont CellHeightFont(const char* face, int cellHeight, int weight = QFont::Normal)
{
    QFont font;
    font.setFamilies(FaceFamilies(face));
    font.setWeight(static_cast<QFont::Weight>(weight));
    font.setStyleHint(std::strcmp(face, Text::kFaceHei) == 0 ? QFont::SansSerif : QFont::Serif);
    int best = 1;
    for (int px = 1; px <= cellHeight; ++px) {
        font.setPixelSize(px);
        if (QFontMetrics(font).height() > cellHeight)
            break;
        best = px;
    }
    font.setPixelSize(best);
    return font;
}
