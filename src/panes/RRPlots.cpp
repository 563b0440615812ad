#include "panes/RRPlots.h"

#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>

#include "analysis/EcgDocument.h"
#include "figures/HolterText.h"
#include "resources/QtResources.h"

namespace {

const QColor kBackground(0, 50, 50);
const QColor kGrid(0, 80, 80);
const QColor kText(0, 255, 255);
const QColor kPoints(0, 255, 0);
const QColor kAfShade(255, 140, 0, 110);
const QColor kViewMark(255, 255, 0);

constexpr int kGridStepMs = 500;

int RRMs(const std::vector<uint32_t>& beats, size_t i)
{
    return static_cast<int>((uint64_t(beats[i] - beats[i - 1]) * 1000 + ECG_SAMPLE_RATE / 2) / ECG_SAMPLE_RATE);
}

const QFont& PlotFont()
{
    static const QFont font = CellHeightFont(Text::kFaceSong, 12);
    return font;
}

// Plot area inside a widget: room for the title above and the labels at the left and below.
QRect PlotArea(const QWidget* w)
{
    return w->rect().adjusted(40, 16, -8, -16);
}

int YOfMs(const QRect& plot, int ms)
{
    ms = std::clamp(ms, 0, rrplot::kAxisMaxMs);
    return plot.bottom() - static_cast<int>(int64_t(ms) * (plot.height() - 1) / rrplot::kAxisMaxMs);
}

void DrawFrame(QPainter& p, const QWidget* w, const QRect& plot, const char* title, bool msGrid)
{
    p.fillRect(w->rect(), kBackground);
    p.setFont(PlotFont());
    p.setPen(kText);
    p.drawText(QRect(plot.left(), 0, plot.width(), plot.top()), Qt::AlignCenter, ToQString(title));
    if (msGrid) {
        for (int ms = 0; ms <= rrplot::kAxisMaxMs; ms += kGridStepMs) {
            const int y = YOfMs(plot, ms);
            p.setPen(kGrid);
            p.drawLine(plot.left(), y, plot.right(), y);
            p.setPen(kText);
            p.drawText(QRect(0, y - 8, plot.left() - 3, 16), Qt::AlignRight | Qt::AlignVCenter, QString::number(ms));
        }
    }
    p.setPen(kGrid);
    p.drawRect(plot.adjusted(0, 0, -1, -1));
}

}  // namespace

// ---- tachogram ----

CRRTachogram::CRRTachogram(QWidget* parent) : QWidget(parent)
{
    setMinimumSize(200, 120);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Qt::PointingHandCursor);
}

void CRRTachogram::SetResults(std::shared_ptr<const AnalysisResults> results, uint64_t sampleCount)
{
    m_results = std::move(results);
    m_span = sampleCount;
    if (m_results && !m_results->beats.empty())
        m_span = std::max<uint64_t>(m_span, uint64_t(m_results->beats.back()) + 1);
    update();
}

void CRRTachogram::SetViewPosition(uint32_t first, uint32_t length)
{
    m_viewFirst = first;
    m_viewLength = length;
    m_hasView = true;
    update();
}

QRect CRRTachogram::GetPlotRect() const
{
    return PlotArea(this);
}

int CRRTachogram::XOfSample(uint64_t sample) const
{
    const QRect plot = GetPlotRect();
    if (m_span == 0 || plot.width() <= 0)
        return plot.left();
    sample = std::min(sample, m_span - 1);
    return plot.left() + static_cast<int>(sample * uint64_t(plot.width()) / m_span);
}

uint32_t CRRTachogram::SampleAtX(int x) const
{
    const QRect plot = GetPlotRect();
    if (m_span == 0 || plot.width() <= 0)
        return 0;
    const int column = std::clamp(x - plot.left(), 0, plot.width() - 1);
    // The middle of the samples the column covers.
    const uint64_t sample = (uint64_t(column) * 2 + 1) * m_span / (uint64_t(plot.width()) * 2);
    return static_cast<uint32_t>(std::min<uint64_t>(sample, UINT32_MAX));
}

void CRRTachogram::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QRect plot = GetPlotRect();
    DrawFrame(p, this, plot, Text::kTachogramTitle, true);
    if (!m_results || m_span == 0 || plot.width() <= 0)
        return;
    const AnalysisResults& r = *m_results;

    // Episodes that meet within a column are shaded as one: a day of short
    // AF stretches would otherwise blend thousands of rectangles.
    int shadeFrom = INT_MIN, shadeTo = INT_MIN;
    const auto flushShade = [&] {
        if (shadeFrom != INT_MIN)
            p.fillRect(QRect(shadeFrom, plot.top(), shadeTo - shadeFrom + 1, plot.height()), kAfShade);
    };
    for (const Episode& e : r.episodes) {
        if (e.type != EpisodeType::AF)
            continue;
        const int x1 = XOfSample(e.first), x2 = std::max(x1, XOfSample(e.last));
        if (shadeFrom != INT_MIN && x1 <= shadeTo + 1 && x2 >= shadeFrom - 1) {
            shadeFrom = std::min(shadeFrom, x1);
            shadeTo = std::max(shadeTo, x2);
            continue;
        }
        flushShade();
        shadeFrom = x1;
        shadeTo = x2;
    }
    flushShade();

    // One vertical stroke per column from its shortest to its longest interval.
    const int columns = plot.width();
    std::vector<int> lo(size_t(columns), INT_MAX), hi(size_t(columns), INT_MIN);
    for (size_t i = 1; i < r.beats.size(); ++i) {
        const int column = XOfSample(r.beats[i]) - plot.left();
        const int ms = RRMs(r.beats, i);
        lo[size_t(column)] = std::min(lo[size_t(column)], ms);
        hi[size_t(column)] = std::max(hi[size_t(column)], ms);
    }
    p.setPen(kPoints);
    for (int c = 0; c < columns; ++c) {
        if (lo[size_t(c)] == INT_MAX)
            continue;
        const int x = plot.left() + c;
        p.drawLine(x, YOfMs(plot, hi[size_t(c)]), x, YOfMs(plot, lo[size_t(c)]));
    }

    if (m_hasView) {
        const int x1 = XOfSample(m_viewFirst);
        const int x2 = XOfSample(uint64_t(m_viewFirst) + m_viewLength);
        p.setPen(QPen(kViewMark, 1));
        p.drawLine(x1, plot.top(), x1, plot.bottom());
        if (x2 > x1 + 1)
            p.drawLine(x2, plot.top(), x2, plot.bottom());
    }

    // Elapsed-time ticks below the plot, at most about one per 60 pixels.
    p.setPen(kText);
    static const uint64_t kStepsMinutes[] = {1, 5, 10, 30, 60, 120, 240, 480};
    uint64_t step = 0;
    for (uint64_t minutes : kStepsMinutes) {
        step = minutes * 60 * ECG_SAMPLE_RATE;
        if (m_span / step <= uint64_t(std::max(1, columns / 60)))
            break;
    }
    for (uint64_t s = 0; s < m_span; s += step) {
        const int x = XOfSample(s);
        const uint64_t minutes = s / (60 * ECG_SAMPLE_RATE);
        p.drawLine(x, plot.bottom(), x, plot.bottom() + 3);
        const int labelLeft = std::clamp(x - 24, 0, std::max(0, width() - 48));
        p.drawText(QRect(labelLeft, plot.bottom() + 2, 48, 14), Qt::AlignCenter,
                   FormatText("%llu:%02llu", (unsigned long long)(minutes / 60), (unsigned long long)(minutes % 60)));
    }
}

void CRRTachogram::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !m_results || m_span == 0)
        return;
    const QPoint pos = event->position().toPoint();
    if (!GetPlotRect().contains(pos))
        return;
    emit sampleClicked(SampleAtX(pos.x()));
}

// ---- histogram ----

CRRHistogram::CRRHistogram(QWidget* parent) : QWidget(parent)
{
    setMinimumSize(160, 120);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CRRHistogram::SetResults(std::shared_ptr<const AnalysisResults> results)
{
    m_bins.clear();
    if (results && results->beats.size() >= 2) {
        m_bins.assign(rrplot::kAxisMaxMs / rrplot::kBinMs, 0);
        for (size_t i = 1; i < results->beats.size(); ++i) {
            const size_t bin = size_t(RRMs(results->beats, i) / rrplot::kBinMs);
            ++m_bins[std::min(bin, m_bins.size() - 1)];
        }
    }
    update();
}

void CRRHistogram::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QRect plot = PlotArea(this);
    DrawFrame(p, this, plot, Text::kHistogramTitle, false);
    p.setPen(kText);
    for (int ms = 0; ms <= rrplot::kAxisMaxMs; ms += kGridStepMs) {
        const int x = plot.left() + ms * (plot.width() - 1) / rrplot::kAxisMaxMs;
        p.drawText(QRect(x - 20, plot.bottom() + 2, 40, 14), Qt::AlignCenter, QString::number(ms));
    }
    if (m_bins.empty() || plot.width() <= 0)
        return;
    const uint32_t tallest = *std::max_element(m_bins.begin(), m_bins.end());
    p.drawText(QRect(0, plot.top(), plot.left() - 3, 14), Qt::AlignRight | Qt::AlignTop, FormatCount(tallest));
    if (tallest == 0)
        return;
    const double binWidth = double(plot.width()) / double(m_bins.size());
    for (size_t b = 0; b < m_bins.size(); ++b) {
        if (m_bins[b] == 0)
            continue;
        const int x1 = plot.left() + int(double(b) * binWidth);
        const int x2 = plot.left() + int(double(b + 1) * binWidth);
        const int h = std::max(1, int(int64_t(m_bins[b]) * (plot.height() - 1) / tallest));
        p.fillRect(QRect(x1, plot.bottom() - h + 1, std::max(1, x2 - x1), h), kPoints);
    }
}

// ---- Poincaré plot ----

CPoincarePlot::CPoincarePlot(QWidget* parent) : QWidget(parent)
{
    setMinimumSize(160, 120);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CPoincarePlot::SetResults(std::shared_ptr<const AnalysisResults> results)
{
    m_results = std::move(results);
    update();
}

size_t CPoincarePlot::GetPointCount() const
{
    return m_results && m_results->beats.size() >= 3 ? m_results->beats.size() - 2 : 0;
}

QRect CPoincarePlot::GetPlotRect() const
{
    QRect plot = PlotArea(this);
    // Square, so that the line of identity runs at 45 degrees.
    const int side = std::max(0, std::min(plot.width(), plot.height()));
    plot.setSize(QSize(side, side));
    return plot;
}

void CPoincarePlot::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QRect plot = GetPlotRect();
    const int side = plot.width();
    DrawFrame(p, this, plot, Text::kPoincareTitle, true);
    if (side <= 1)
        return;
    p.setPen(kGrid);
    p.drawLine(plot.bottomLeft(), plot.topRight());
    if (GetPointCount() == 0)
        return;
    const std::vector<uint32_t>& beats = m_results->beats;
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    const QRgb point = kPoints.rgba();
    for (size_t i = 2; i < beats.size(); ++i) {
        const int x = YOfMs(QRect(0, 0, side, side), RRMs(beats, i - 1));
        const int y = YOfMs(QRect(0, 0, side, side), RRMs(beats, i));
        // 2 x 2 pixels: a lone point still shows.
        const int px = std::min(side - 2, side - 1 - x), py = std::min(side - 2, y);
        image.setPixel(px, py, point);
        image.setPixel(px + 1, py, point);
        image.setPixel(px, py + 1, point);
        image.setPixel(px + 1, py + 1, point);
    }
    p.drawImage(plot.topLeft(), image);
}

// ---- the pane ----

CRRPlotsDlg::CRRPlotsDlg()
{
    resize(480, 360);
    m_pTachogram = new CRRTachogram(this);
    m_pHistogram = new CRRHistogram(this);
    m_pPoincare = new CPoincarePlot(this);
    auto* lower = new QHBoxLayout;
    lower->setSpacing(2);
    lower->addWidget(m_pHistogram, 1);
    lower->addWidget(m_pPoincare, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(m_pTachogram, 1);
    layout->addLayout(lower, 1);
    connect(m_pTachogram, &CRRTachogram::sampleClicked, this, &CDialogEx::centerRequested);
}

void CRRPlotsDlg::Refresh()
{
    std::shared_ptr<const AnalysisResults> results = m_pDocument ? m_pDocument->GetResults() : nullptr;
    const uint64_t samples = m_pDocument && m_pDocument->GetEcgFile() ? m_pDocument->GetSampleCount() : 0;
    m_pTachogram->SetResults(results, samples);
    m_pHistogram->SetResults(results);
    m_pPoincare->SetResults(std::move(results));
}

void CRRPlotsDlg::SetViewPosition(uint32_t first, uint32_t length)
{
    m_pTachogram->SetViewPosition(first, length);
}
