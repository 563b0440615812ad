#include <QCursor>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "analysis/EcgDocument.h"
#include "analysis/ElapsedTime.h"
#include "panes/Panes.h"
#include "resources/QtResources.h"

namespace {

const QColor kBackground(0, 50, 50);
const QColor kGrid(0, 60, 60);
const QColor kAxis(0, 90, 90);
const QColor kAvgColour(0, 255, 0);
const QColor kMinColour(255, 255, 0);
const QColor kMaxColour(255, 0, 0);
const QColor kTextColour(0, 255, 255);

// A 1-pixel pen that, like the window system's line primitive, leaves out the
// end point of every line (Qt's cosmetic stroker does so with a flat cap).
QPen LinePen(const QColor& colour)
{
    QPen pen(colour);
    pen.setWidth(1);
    pen.setCosmetic(true);
    pen.setCapStyle(Qt::FlatCap);
    pen.setJoinStyle(Qt::MiterJoin);
    return pen;
}

void Line(QPainter& dc, int x1, int y1, int x2, int y2)
{
    if (x1 != x2 || y1 != y2)
        dc.drawLine(x1, y1, x2, y2);
}

QRect RectLTRB(int l, int t, int r, int b) { return QRect(l, t, r - l, b - t); }


// The document when its statistics can be read, else null.
const CEcgDocument* StatisticsDocument(const CEcgDocument* doc)
{
    return doc && doc->IsStatisticsReady() ? doc : nullptr;
}

// Minute slot under x: the plot width split into n equal slots.
double MinuteAt(int x, int left, int width, size_t n)
{
    if (n == 0 || width <= 0)
        return 0.0;
    return (x - left) / (static_cast<double>(width) / static_cast<double>(n));
}

}  // namespace

CHeartRateTrendDlg::CHeartRateTrendDlg()
{
    resize(480, 117);   // 320 x 72 dialog units
    m_fontChart = CellHeightFont(Text::kFaceSong, 12);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QRect CHeartRateTrendDlg::GetLegendBox(int series) const
{
    switch (series) {
    case 0: return m_rcAvgBox;
    case 1: return m_rcMinBox;
    case 2: return m_rcMaxBox;
    default: return {};
    }
}

bool CHeartRateTrendDlg::IsSeriesShown(int series) const
{
    switch (series) {
    case 0: return m_bShowAvg;
    case 1: return m_bShowMin;
    case 2: return m_bShowMax;
    default: return false;
    }
}

void CHeartRateTrendDlg::ComputeLayout(const QRect& rcClient)
{
    const int L = rcClient.left() + 40;
    const int T = rcClient.top() + 50;
    const int R = rcClient.left() + rcClient.width() - 110;
    const int B = rcClient.top() + rcClient.height() - 30;
    m_rcChart = RectLTRB(L, T, R, B);
    m_rcAvgBox = RectLTRB(R + 20, T, R + 32, T + 12);
    m_rcMinBox = RectLTRB(R + 20, T + 20, R + 32, T + 32);
    m_rcMaxBox = RectLTRB(R + 20, T + 40, R + 32, T + 52);
}

void CHeartRateTrendDlg::DrawChart(QPainter& dc, const QRect& rcClient)
{
    ComputeLayout(rcClient);
    const int L = m_rcChart.left();
    const int T = m_rcChart.top();
    const int R = L + m_rcChart.width();
    const int B = T + m_rcChart.height();
    const int w = R - L;
    const int h = B - T;

    dc.save();
    dc.setRenderHint(QPainter::Antialiasing, false);
    dc.setBackgroundMode(Qt::TransparentMode);
    dc.fillRect(rcClient, kBackground);

    dc.setFont(m_fontChart);

    // Horizontal grid, fixed at 0 to 160 bpm; crowded steps label every other line.
    const double s = h * 0.0625;
    for (int i = 0; i <= 16; ++i) {
        const int y = static_cast<int>(T + i * s);
        dc.setPen(LinePen(kGrid));
        Line(dc, L, y, R, y);
        if (s >= 12.0 || i % 2 == 0) {
            dc.setPen(kTextColour);
            dc.drawText(RectLTRB(L - 35, static_cast<int>(T + i * s - 10), L - 5, static_cast<int>(T + i * s + 10)),
                        Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine, FormatText("%d", 160 - 10 * i));
        }
    }
    dc.setPen(LinePen(kGrid));
    Line(dc, R, T, R, B);

    // Legend.
    const QColor seriesColours[3] = {kAvgColour, kMinColour, kMaxColour};
    const bool shown[3] = {m_bShowAvg, m_bShowMin, m_bShowMax};
    const QRect boxes[3] = {m_rcAvgBox, m_rcMinBox, m_rcMaxBox};
    for (int k = 0; k < 3; ++k) {
        dc.setPen(seriesColours[k]);
        dc.drawText(RectLTRB(R + 40, T + 20 * k, R + 120, T + 20 * k + 12), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                    ToQString(Text::kTrendLegend[k]));
        const QRect& box = boxes[k];
        dc.fillRect(box, seriesColours[k]);
        if (!shown[k]) {
            const int bl = box.left(), bt = box.top(), br = box.left() + box.width(), bb = box.top() + box.height();
            dc.setPen(LinePen(kBackground));
            Line(dc, bl + 1, bt + 1, br - 1, bb - 1);
            Line(dc, bl + 1, bb - 2, br - 1, bt);
        }
    }

    const CEcgDocument* doc = StatisticsDocument(m_pDocument);
    std::vector<const MinuteRateStats*> stats;
    const size_t n = doc ? doc->GetMinuteStats(stats) : 0;

    // Crosshair with the pointer's clock time and the rates of its minute.
    if (m_bPointerInChart) {
        const QPoint P = m_ptPointer;
        dc.setPen(LinePen(kAxis));
        Line(dc, L, P.y(), R, P.y());
        Line(dc, P.x(), T, P.x(), B);
        if (doc && IsLongRecordingKind(doc->GetFileKind())) {
            const double m = MinuteAt(P.x(), L, w, n);
            CTime t;
            doc->GetTimeAt(&t, static_cast<int32_t>(m * 60), false);
            const LocalFields f = t.GetLocalFields();
            dc.setPen(kTextColour);
            dc.drawText(RectLTRB(P.x() - 30, B + 5, P.x() + 30, B + 20), Qt::AlignHCenter | Qt::AlignTop,
                        ShowsElapsedTime(doc) ? QString::fromStdString(ElapsedText(int64_t(m * 60))).left(5)
                                              : FormatText("%02d:%02d", f.hour, f.minute));

            const int32_t index = static_cast<int32_t>(m);
            for (const MinuteRateStats* rec : stats) {
                if (rec->nIndex != index)
                    continue;
                const int x0 = L + (w - 300) / 2;
                const float rates[3] = {rec->fAvgRate, rec->fMinRate, rec->fMaxRate};
                for (int k = 0; k < 3; ++k) {
                    dc.setPen(seriesColours[k]);
                    dc.drawText(RectLTRB(x0 + 100 * k, T - 20, x0 + 100 * (k + 1), T - 5),
                                Qt::AlignCenter | Qt::TextSingleLine,
                                FormatText(Text::kTrendReadOut[k], static_cast<double>(rates[k])));
                }
                break;
            }
        }
    }

    // Series: n points from L to R, 10 bpm per grid step, not clipped to the plot.
    if (doc && n > 1) {
        auto plot = [&](float MinuteRateStats::*rate, const QColor& colour) {
            QPolygon points(static_cast<int>(n));
            for (size_t k = 0; k < n; ++k) {
                const int x = static_cast<int>(L + static_cast<double>(k) * w / static_cast<double>(n - 1));
                const int y = static_cast<int>(B - static_cast<double>((*stats[k]).*rate) * s / 10.0);
                points.setPoint(static_cast<int>(k), x, y);
            }
            dc.setPen(LinePen(colour));
            dc.drawPolyline(points);
        };
        if (m_bShowAvg)
            plot(&MinuteRateStats::fAvgRate, kAvgColour);
        if (m_bShowMin)
            plot(&MinuteRateStats::fMinRate, kMinColour);
        if (m_bShowMax)
            plot(&MinuteRateStats::fMaxRate, kMaxColour);
    }

    // Axes with arrow heads.
    dc.setPen(LinePen(kAxis));
    Line(dc, L, B, R + 20, B);
    Line(dc, R + 20, B, R + 10, B - 5);
    Line(dc, R + 19, B + 1, R + 10, B + 5);
    Line(dc, L, B, L, T - 20);
    Line(dc, L, T - 20, L - 5, T - 10);
    Line(dc, L + 1, T - 19, L + 5, T - 10);

    dc.setPen(kTextColour);
    dc.drawText(RectLTRB(0, 10, 80, 26), Qt::AlignCenter | Qt::TextSingleLine, ToQString(Text::kTrendRateAxis));
    dc.drawText(RectLTRB(R + 30, B - 10, R + 130, B + 10), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                ToQString(Text::kTrendTimeAxis));
    dc.restore();
}

void CHeartRateTrendDlg::paintEvent(QPaintEvent*)
{
    // Composed off-screen, then copied in one transfer.
    const qreal dpr = devicePixelRatioF();
    QImage buffer(size() * dpr, QImage::Format_RGB32);
    buffer.setDevicePixelRatio(dpr);
    buffer.fill(Qt::white);
    {
        QPainter mem(&buffer);
        DrawChart(mem, rect());
    }
    QPainter dc(this);
    dc.drawImage(0, 0, buffer);
}

void CHeartRateTrendDlg::resizeEvent(QResizeEvent* event)
{
    ComputeLayout(rect());
    update();
    CDialogEx::resizeEvent(event);
}

void CHeartRateTrendDlg::mouseMoveEvent(QMouseEvent* event)
{
    QPoint pos = event->position().toPoint();
    if (m_bConfined && !m_rcChart.contains(pos)) {
        // No cursor clipping here: put the pointer back inside the plot.
        pos.setX(std::clamp(pos.x(), m_rcChart.left(), std::max(m_rcChart.left(), m_rcChart.right())));
        pos.setY(std::clamp(pos.y(), m_rcChart.top(), std::max(m_rcChart.top(), m_rcChart.bottom())));
        QCursor::setPos(mapToGlobal(pos));
    }
    m_ptPointer = pos;
    m_bPointerInChart = m_rcChart.contains(pos);
    setCursor(m_bPointerInChart ? Qt::BlankCursor : Qt::ArrowCursor);
    if (m_bTracking)
        MoveViewToX(pos.x());
    update();
}

void CHeartRateTrendDlg::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        CDialogEx::mousePressEvent(event);
        return;
    }
    // Qt grabs the mouse for the widget while the button is held.
    m_bTracking = true;
    const QPoint pos = event->position().toPoint();
    if (m_rcAvgBox.contains(pos)) {
        m_bShowAvg = !m_bShowAvg;
        update();
    } else if (m_rcMinBox.contains(pos)) {
        m_bShowMin = !m_bShowMin;
        update();
    } else if (m_rcMaxBox.contains(pos)) {
        m_bShowMax = !m_bShowMax;
        update();
    } else if (m_rcChart.contains(pos)) {
        m_bConfined = true;
        MoveViewToX(pos.x());
    }
}

void CHeartRateTrendDlg::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        CDialogEx::mouseReleaseEvent(event);
        return;
    }
    m_bTracking = false;
    m_bConfined = false;
}

void CHeartRateTrendDlg::MoveViewToX(int x)
{
    const CEcgDocument* doc = StatisticsDocument(m_pDocument);
    if (!doc)
        return;
    const int L = m_rcChart.left();
    const int w = m_rcChart.width();
    // A drag that began outside the plot may wander off it: never map a
    // point left of the plot (a negative sample) or past its last pixel.
    x = std::clamp(x, L, std::max(L, L + w - 1));
    std::vector<const MinuteRateStats*> stats;
    const double m = MinuteAt(x, L, w, doc->GetMinuteStats(stats));
    const int64_t seconds = static_cast<int64_t>(m * 60);
    const uint32_t sample = static_cast<uint32_t>(static_cast<uint64_t>(seconds * ECG_SAMPLE_RATE));
    emit centerRequested(sample);
}
