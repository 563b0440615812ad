#include "display/EcgPainter.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPolygon>
#include <QVarLengthArray>
#include <QVector>

#include <cstdio>
#include <new>
#include <vector>

#include "analysis/EcgDocument.h"
#include "app/StringTable.h"

const QColor CEcgPainter::BACKGROUND_COLOR(0, 50, 50);
const QColor CEcgPainter::CAPTION_COLOR(0, 255, 255);
const QColor CEcgPainter::MAJOR_GRID_COLOR(0, 90, 90);
const QColor CEcgPainter::MINOR_GRID_COLOR(0, 60, 60);
const QColor CEcgPainter::TRACE_COLOR(240, 240, 0);
const QColor CEcgPainter::RMARK_COLOR(0, 200, 200);

namespace {

enum PointKind : uint8_t { MOVE_TO, LINE_TO };

QPen SolidPen(const QColor& color)
{
    QPen pen(color, 1, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    pen.setCosmetic(true);
    return pen;
}

// Lines exclude their end point, as the chart's geometry assumes; only
// axis-parallel lines are ever drawn this way.
void AddLine(QVector<QLine>& lines, int x1, int y1, int x2, int y2)
{
    if (x1 == x2) {
        if (y1 == y2)
            return;
        lines.append(QLine(x1, y1, x2, y2 > y1 ? y2 - 1 : y2 + 1));
    } else if (y1 == y2) {
        lines.append(QLine(x1, y1, x2 > x1 ? x2 - 1 : x2 + 1, y2));
    } else {
        lines.append(QLine(x1, y1, x2, y2));
    }
}

void DrawGrid(QPainter* pDC, int left, int top, int width, int height, int phase, float zoom, int step,
              bool skipMajor)
{
    QVector<QLine> lines;
    const double z = zoom;
    const double hLimit = height / z;
    if (hLimit >= 0) {
        for (int k = 0; k <= hLimit; k += step) {
            if (skipMajor && k % 25 == 0)
                continue;
            const int y = static_cast<int>(k * z + top);
            AddLine(lines, left, y, left + width, y);
        }
    }
    const double vLimit = width / z + 25;
    if (vLimit >= 0) {
        for (int k = 0; k <= vLimit; k += step) {
            if (skipMajor && k % 25 == 0)
                continue;
            const int x = static_cast<int>(k * z + left - phase);
            AddLine(lines, x, top, x, top + height);
        }
    }
    pDC->drawLines(lines);
}

// Draws the points as one poly-line honouring move-to/line-to kinds.
void DrawPolyPoints(QPainter* pDC, const std::vector<QPoint>& pts, const std::vector<uint8_t>& kinds)
{
    QPolygon run;
    run.reserve(static_cast<int>(pts.size()));
    auto flush = [&]() {
        if (run.size() >= 2) {
            // The end point of the last segment is not part of the line.
            QPoint& last = run.last();
            const QPoint& prev = run[run.size() - 2];
            if (last.x() == prev.x())
                last.ry() += last.y() > prev.y() ? -1 : 1;
            else if (last.y() == prev.y())
                last.rx() += last.x() > prev.x() ? -1 : 1;
            if (run.size() == 2 && run[0] == run[1])
                pDC->drawPoint(run[0]);
            else
                pDC->drawPolyline(run);
        }
        run.clear();
    };
    for (size_t i = 0; i < pts.size(); ++i) {
        if (kinds[i] == MOVE_TO) {
            flush();
            run.append(pts[i]);
        } else if (run.isEmpty() || run.last() != pts[i]) {
            run.append(pts[i]);
        }
    }
    flush();
}

QString FormatUtf8(const char* format, auto... args)
{
    char buf[256];
    const int len = std::snprintf(buf, sizeof buf, format, args...);
    if (len < 0)
        return {};
    return QString::fromUtf8(buf, std::min<int>(len, sizeof buf - 1));
}

}  // namespace

CEcgPainter::CEcgPainter()
    : m_font(MakeCellHeightFont({QStringLiteral("宋体"), QStringLiteral("Noto Serif CJK SC"),
                                 QStringLiteral("Noto Sans CJK SC"), QStringLiteral("serif")},
                                FONT_CELL_HEIGHT)),
      m_penMajorGrid(SolidPen(MAJOR_GRID_COLOR)),
      m_penMinorGrid(SolidPen(MINOR_GRID_COLOR)),
      m_penTrace(SolidPen(TRACE_COLOR)),
      m_penRMark(SolidPen(RMARK_COLOR))
{
}

CEcgPainter::~CEcgPainter() = default;

QFont CEcgPainter::MakeCellHeightFont(const QStringList& families, int cellHeight)
{
    QFont font;
    font.setFamilies(families);
    font.setWeight(QFont::Normal);
    font.setStyleHint(QFont::Serif);
    font.setHintingPreference(QFont::PreferNoHinting);
    // Start at the cell height and shrink until the cell fits.
    for (int px = cellHeight; px > 1; --px) {
        font.setPixelSize(px);
        if (QFontMetrics(font).height() <= cellHeight)
            break;
    }
    return font;
}

int CEcgPainter::StatusBandHeight(const CEcgDocument* pDoc)
{
    if (pDoc && pDoc->IsDetectionDone() && pDoc->IsStatisticsReady())
        return 0;
    return STATUS_BAND;
}

QString CEcgPainter::FormatZoomCaption(float zoom)
{
    const QByteArray format = Strings::ZoomCaption().toUtf8();
    return FormatUtf8(format.constData(), static_cast<double>(zoom) * 100.0);
}

void CEcgPainter::DrawMinorGrid(QPainter* pDC, int left, int top, int width, int height, int phase, float zoom)
{
    DrawGrid(pDC, left, top, width, height, phase, zoom, 5, true);
}

void CEcgPainter::DrawMajorGrid(QPainter* pDC, int left, int top, int width, int height, int phase, float zoom)
{
    DrawGrid(pDC, left, top, width, height, phase, zoom, 25, false);
}

void CEcgPainter::DrawStrip(CEcgDocument* pDoc, QPainter* pDC, int w, int h, bool bShowStatus)
{
    const double z = m_fZoom;
    const double requested = 2.0 * w / z;
    const uint32_t nRequested = requested > 0 ? static_cast<uint32_t>(std::min(requested, 4.0e9)) : 0;
    const int64_t P = m_bDragging ? m_nDragPos : m_nViewPos;

    std::vector<int16_t> samples;
    std::vector<QPoint> pts;
    std::vector<uint8_t> kinds;
    try {
        samples.resize(nRequested);
    } catch (const std::bad_alloc&) {
        return;   // keep what the window showed before
    }
    const uint32_t n = (pDoc && nRequested) ? pDoc->ReadSamples(samples.data(), P, nRequested) : 0;

    m_nGridPhase = static_cast<int>(static_cast<double>((P / 2) % 25) * z);
    const QString caption = FormatZoomCaption(m_fZoom);
    const int B = StatusBandHeight(pDoc);
    const int h2 = h / 2;

    pDC->save();
    pDC->setRenderHint(QPainter::Antialiasing, false);
    pDC->setBackgroundMode(Qt::TransparentMode);
    pDC->fillRect(QRect(0, 0, w, h), BACKGROUND_COLOR);

    if (m_bShowGrid) {
        pDC->setPen(m_penMinorGrid);
        DrawMinorGrid(pDC, 0, LABEL_BAND, w, h - B - LABEL_BAND, m_nGridPhase, m_fZoom);
        pDC->setPen(m_penMajorGrid);
        DrawMajorGrid(pDC, 0, LABEL_BAND, w, h - B - LABEL_BAND, m_nGridPhase, m_fZoom);
    }

    if (n > 0) {
        try {
            pts.resize(n);
            kinds.assign(n, LINE_TO);
        } catch (const std::bad_alloc&) {
            pDC->restore();
            return;
        }
        const double yScale = m_nGain * z;
        for (uint32_t i = 0; i < n; ++i) {
            const int x = static_cast<int>((i / 2) * z);
            const int y = static_cast<int>(h2 - (samples[i] / 1010.0) * yScale + LABEL_BAND);
            pts[i] = QPoint(x, y);
        }
        kinds[0] = MOVE_TO;
        kinds[n - 1] = MOVE_TO;

        if (n > CALIBRATION_SAMPLES) {
            const int Y0 = h2 + LABEL_BAND;
            const int Y1 = static_cast<int>(h2 - m_nGain * z + LABEL_BAND);
            for (int i = 0; i < CALIBRATION_SAMPLES; ++i)
                pts[i] = pts[CALIBRATION_SAMPLES];
            const int x25 = static_cast<int>(25 * z), x20 = static_cast<int>(20 * z), x30 = static_cast<int>(30 * z);
            pts[0] = QPoint(x25, Y1); kinds[0] = MOVE_TO;
            pts[1] = QPoint(x25, Y0); kinds[1] = LINE_TO;
            pts[2] = QPoint(x20, Y1); kinds[2] = MOVE_TO;
            pts[3] = QPoint(x30, Y1); kinds[3] = LINE_TO;
            pts[4] = QPoint(x20, Y0); kinds[4] = MOVE_TO;
            pts[5] = QPoint(x30, Y0); kinds[5] = LINE_TO;
            kinds[6] = MOVE_TO;
        }
        pDC->setPen(m_penTrace);
        DrawPolyPoints(pDC, pts, kinds);
    }

    if (m_bShowRMarks && pDoc) {
        std::vector<uint32_t> beats;
        pDoc->GetBeatsInRange(static_cast<uint64_t>(std::max<int64_t>(P, 0)), n, beats);
        QVector<QLine> marks;
        for (uint32_t r : beats) {
            const int x = static_cast<int>(static_cast<double>((static_cast<int64_t>(r) - P) / 2) * z);
            if (x >= 50 * z)
                AddLine(marks, x, LABEL_BAND, x, h - B);
        }
        pDC->setPen(m_penRMark);
        pDC->drawLines(marks);
    }

    pDC->setFont(m_font);
    pDC->setPen(CAPTION_COLOR);
    const QFontMetrics fm(m_font);
    if (n > CALIBRATION_SAMPLES) {
        const int T = static_cast<int>(h2 + 5 * z + LABEL_BAND);
        pDC->drawText(QRect(0, T, static_cast<int>(50 * z), 32), Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine,
                      QStringLiteral("1mv"));
    }
    pDC->drawText(QPoint(5, 6 + fm.ascent()), caption);
    if (bShowStatus) {
        const QString status = pDoc && pDoc->IsDetectionDone() ? Strings::StatusStatistics() : Strings::StatusDetecting();
        pDC->drawText(QPoint(5, h - 19 + fm.ascent()), status);
    }
    pDC->restore();
}

void CEcgPainter::DrawTimeLabels(CEcgDocument* pDoc, int x)
{
    const int64_t S = static_cast<int64_t>(2.0 * x / m_fZoom + static_cast<double>(m_nViewPos));
    const uint32_t t = static_cast<uint32_t>(S) / 250;

    LocalFields lf;
    if (pDoc) {
        CTime when;
        pDoc->GetTimeAt(&when, static_cast<int32_t>(t), false);
        lf = when.GetLocalFields();
    }
    m_strAbsTime = FormatUtf8("绝对时间：%04d-%02d-%02d %02d:%02d:%02d", lf.year, lf.month, lf.day, lf.hour,
                              lf.minute, lf.second);
    m_strRelTime = FormatUtf8("相对时间：%02d:%02d:%02d", static_cast<int>(t / 3600),
                              static_cast<int>((t / 60) % 60), static_cast<int>(t % 60));
}

void CEcgPainter::PaintTimeLabels(QPainter* pDC) const
{
    if (m_strAbsTime.isEmpty())
        return;
    pDC->save();
    pDC->setFont(m_font);
    pDC->setBackgroundMode(Qt::OpaqueMode);
    pDC->setBackground(BACKGROUND_COLOR);
    pDC->setPen(CAPTION_COLOR);
    const QFontMetrics fm(m_font);
    pDC->drawText(QPoint(200, 6 + fm.ascent()), m_strAbsTime);
    pDC->drawText(QPoint(450, 6 + fm.ascent()), m_strRelTime);
    pDC->restore();
}

void CEcgPainter::ClearTimeLabels()
{
    m_strAbsTime.clear();
    m_strRelTime.clear();
}
