// Small helpers shared by the pane tests: recordings written on the fly.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QString>
#include <cstdint>
#include <cstdlib>
#include <ctime>

namespace panetest {

inline void UseShanghaiTime()
{
    qputenv("TZ", "Asia/Shanghai");
    tzset();
}

inline void PutU16(QByteArray& h, int offset, uint16_t v)
{
    h[offset] = char(v & 0xFF);
    h[offset + 1] = char(v >> 8);
}

// A 3552-byte header with the fields the result pane reads.
struct HeaderFields {
    uint8_t flags = 0;
    uint8_t qrsCount = 0;
    uint16_t avgRate = 0;   // 0.1 bpm
    uint16_t pr = 0, qt = 0;
    int16_t r = 0, p = 0, t = 0, st = 0;
};

inline QByteArray MakeHeader(const HeaderFields& f)
{
    QByteArray h(3552, '\0');
    h[0] = char(10);   // 2010-11-08 14:30:00
    h[1] = char(11);
    h[2] = char(8);
    h[3] = char(14);
    h[4] = char(30);
    h[7] = char(f.flags);
    h[8] = char(f.qrsCount);
    PutU16(h, 14, f.avgRate);
    PutU16(h, 16, f.pr);
    PutU16(h, 18, f.qt);
    PutU16(h, 20, uint16_t(f.r));
    PutU16(h, 22, uint16_t(f.p));
    PutU16(h, 24, uint16_t(f.t));
    PutU16(h, 26, uint16_t(f.st));
    return h;
}

// Kind 2 (14352 bytes) or kind 3 (14374 bytes: 22 lead bytes first).
inline bool WriteShortRecording(const QString& path, int kind, const HeaderFields& f)
{
    QByteArray bytes;
    if (kind == 3)
        bytes.append(QByteArray(22, '\x5A'));
    bytes.append(MakeHeader(f));
    bytes.append(QByteArray(5400 * 2, '\0'));
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A flat long recording of `samples` samples; the name decides the start time.
inline bool WriteLongRecording(const QString& path, qint64 samples)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    return file.resize(samples * 2);
}

// Pixels in rect that differ from the background colour.
inline int InkIn(const QImage& img, const QRect& rect, QRgb background)
{
    int count = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            if (img.rect().contains(x, y) && (img.pixel(x, y) & 0xFFFFFF) != (background & 0xFFFFFF))
                ++count;
    return count;
}

}  // namespace panetest
