// The Holter pages a long recording's report gains after its event pages:
// the summary with the hourly table and the tachogram, then the strips of
// the longest and the fastest run, the longest pause and the first AF onset.
#include <QPainter>
#include <QPen>
#include <QVector>

#include <algorithm>
#include <memory>
#include <vector>

#include "analysis/EcgDocument.h"
#include "figures/HolterSummary.h"
#include "figures/HolterText.h"
#include "recording/EcgFile.h"
#include "report/EcgReportPrinter.h"
#include "resources/QtResources.h"

namespace {

constexpr double kLeftMM = 13.5;
constexpr double kRightMM = 188.5;
constexpr double kRowMM = 3.6;
constexpr double kFontMM = 2.8;
constexpr int kAxisMaxMs = 2000;   // longer intervals are drawn at the top edge

struct HolterStrip {
    const char* caption;
    QString detail;
    uint64_t position;   // the strip's centre
    uint64_t at;         // the time its caption gives
};

const Episode* FirstAf(const AnalysisResults& r)
{
    for (const Episode& e : r.episodes)
        if (e.type == EpisodeType::AF)
            return &e;
    return nullptr;
}

std::vector<HolterStrip> HolterStrips(const AnalysisResults& r)
{
    const auto run = [](const Episode& e) {
        return ToQString(Text::kRunValue).arg(EpisodeTypeName(e.type), FormatCount(e.beats), FormatBpm(e.rate));
    };
    std::vector<HolterStrip> strips;
    if (r.ectopy.longestRun.beats)
        strips.push_back({Text::kLongestRun, run(r.ectopy.longestRun), r.ectopy.longestRun.first,
                          r.ectopy.longestRun.first});
    if (r.ectopy.fastestRun.beats)
        strips.push_back({Text::kFastestRun, run(r.ectopy.fastestRun), r.ectopy.fastestRun.first,
                          r.ectopy.fastestRun.first});
    const Episode& pause = r.ectopy.longestPause;
    if (pause.beats)
        // Centred on the gap, so that both beats around it show.
        strips.push_back({Text::kLongestPause, FormatDuration(pause.last - pause.first),
                          pause.first + (pause.last - pause.first) / 2, pause.first});
    if (const Episode* af = FirstAf(r))
        strips.push_back({Text::kFirstAfCaption, FormatDuration(af->last - af->first), af->first, af->first});
    return strips;
}

}  // namespace

int CEcgReportPrinter::GetHolterPageCount(const CEcgDocument* pDoc, const ReportOptions& options)
{
    if (!options.holterPages || !pDoc || !IsLongRecordingKind(pDoc->GetFileKind()))
        return 0;
    const std::shared_ptr<const AnalysisResults> results = pDoc->GetResults();
    if (!results)
        return 0;
    return HolterStrips(*results).empty() ? 1 : 2;
}

// The results, with the painter saved and set for a Holter page and its
// heading drawn; null (nothing drawn) without results.
std::shared_ptr<const AnalysisResults> CEcgReportPrinter::BeginHolterPage()
{
    std::shared_ptr<const AnalysisResults> results = m_pDocument->GetResults();
    if (!results)
        return results;
    m_pDC->save();
    m_pDC->setBackgroundMode(Qt::TransparentMode);
    m_pDC->setPen(QPen(Qt::black));
    m_pDC->setFont(MakeFont(false, 3.0, false));
    DrawPageHeading(ToQString(Text::kHolterPageTitle));
    return results;
}

void CEcgReportPrinter::PrintHolterSummaryPage()
{
    const std::shared_ptr<const AnalysisResults> results = BeginHolterPage();
    if (!results)
        return;

    DrawHolterFigures(20);
    // The tachogram takes the foot of the page, the hourly table what is between.
    const double bottom = std::max(150.0, m_nHeightMM - 12.0);
    DrawHourlyTable(100, bottom - 72);
    DrawTachogram(bottom - 66, bottom);
    m_pDC->restore();
}

void CEcgReportPrinter::DrawHolterFigures(double top)
{
    const std::vector<HolterFigureGroup> groups = HolterSummaryFigures(m_pDocument, *m_pDocument->GetResults());
    size_t rows = 0;
    for (const HolterFigureGroup& g : groups)
        rows += 1 + g.figures.size();

    const QFont regular = MakeFont(false, kFontMM, false);
    const QFont bold = MakeFont(false, kFontMM, true);
    const double columnWidth = (kRightMM - kLeftMM - 6) / 2;
    double x = kLeftMM, y = top;
    size_t done = 0;
    bool secondColumn = false;
    for (const HolterFigureGroup& g : groups) {
        // Groups stay whole; the second column starts once half the rows are down.
        if (!secondColumn && done >= (rows + 1) / 2) {
            secondColumn = true;
            x = kLeftMM + columnWidth + 6;
            y = top;
        }
        m_pDC->setFont(bold);
        DrawTextBlock(RectMM(x, y, x + columnWidth, y + kRowMM), g.title, AlignLeft);
        y += kRowMM;
        m_pDC->setFont(regular);
        for (const HolterFigure& f : g.figures) {
            DrawTextBlock(RectMM(x + 2, y, x + columnWidth, y + kRowMM), f.caption, AlignLeft);
            DrawTextBlock(RectMM(x + 26, y, x + columnWidth, y + kRowMM), f.value, AlignLeft);
            if (f.hasTime)
                DrawTextBlock(RectMM(x, y, x + columnWidth, y + kRowMM), f.time, AlignRight);
            y += kRowMM;
        }
        done += 1 + g.figures.size();
    }
}

void CEcgReportPrinter::DrawHourlyTable(double top, double bottom)
{
    const std::vector<HourFigures> hours = HourlyFigures(m_pDocument, *m_pDocument->GetResults());
    m_pDC->setFont(MakeFont(false, 3.2, true));
    DrawTextBlock(RectMM(kLeftMM, top, kRightMM, top + 5), ToQString(Text::kHourlyHeading), AlignLeft);
    top += 5;

    const double rowMM = 3.4;
    const size_t fit = static_cast<size_t>(std::max(1.0, (bottom - top) / rowMM - 1));
    // Two tables side by side, each as long as half the hours need.
    const size_t perColumn = std::min(fit, std::max<size_t>(1, (hours.size() + 1) / 2));
    const double width = (kRightMM - kLeftMM - 6) / 2;
    // Column right edges from the table's left; the first column is left-aligned.
    const double edges[] = {24, 40, 54, 68, 76, width};
    const char* headings[] = {Text::kColumnHour,    Text::kColumnMeanRate, Text::kColumnMinRate,
                              Text::kColumnMaxRate, Text::kColumnVBeats,   Text::kColumnSBeats};
    const QFont regular = MakeFont(false, kFontMM, false);
    const QFont bold = MakeFont(false, kFontMM, true);
    const auto row = [&](double x, double y, const QString (&cells)[6]) {
        DrawTextBlock(RectMM(x, y, x + edges[0], y + rowMM), cells[0], AlignLeft);
        for (int c = 1; c < 6; ++c)
            DrawTextBlock(RectMM(x + edges[c - 1], y, x + edges[c], y + rowMM), cells[c], AlignRight);
    };
    const auto rate = [](float bpm) { return bpm > 0 ? FormatText("%.0f", bpm) : ToQString(Text::kNoValue); };
    for (int column = 0; column < 2; ++column) {
        const size_t from = column * perColumn;
        if (from >= hours.size() && column > 0)
            break;
        const double x = kLeftMM + column * (width + 6);
        m_pDC->setFont(bold);
        QString head[6];
        for (int c = 0; c < 6; ++c)
            head[c] = ToQString(headings[c]);
        row(x, top, head);
        m_pDC->setPen(QPen(Qt::black, 1 * m_fDotsX));
        DrawLineMM(x, top + rowMM + 0.3, x + width, top + rowMM + 0.3);
        m_pDC->setFont(regular);
        for (size_t i = from; i < hours.size() && i < from + perColumn; ++i) {
            const HourFigures& h = hours[i];
            const QString cells[6] = {h.span, rate(h.avgRate), rate(h.minRate), rate(h.maxRate),
                                      FormatCount(h.vBeats), FormatCount(h.sBeats)};
            row(x, top + rowMM * (1 + double(i - from)) + 0.6, cells);
        }
    }
    if (hours.size() > 2 * perColumn)
        DrawTextBlock(RectMM(kLeftMM, bottom - rowMM, kRightMM, bottom),
                      FormatText(Text::kHoursLeftOut, static_cast<int>(hours.size() - 2 * perColumn)), AlignRight);
}

void CEcgReportPrinter::DrawTachogram(double top, double bottom)
{
    const AnalysisResults& r = *m_pDocument->GetResults();
    m_pDC->setFont(MakeFont(false, 3.2, true));
    DrawTextBlock(RectMM(kLeftMM, top, kRightMM, top + 5), ToQString(Text::kTachogramTitle), AlignLeft);
    const double left = kLeftMM + 10, right = kRightMM, plotTop = top + 6, plotBottom = bottom - 4;
    const uint64_t span = std::max<uint64_t>(1, m_pDocument->GetSampleCount());
    const double mmPerSample = (right - left) / double(span);
    const auto yOf = [&](double ms) {
        return plotBottom - (plotBottom - plotTop) * std::clamp(ms, 0.0, double(kAxisMaxMs)) / kAxisMaxMs;
    };

    // AF shaded behind the intervals.
    m_pDC->setPen(Qt::NoPen);
    m_pDC->setBrush(QColor(210, 210, 210));
    for (const Episode& e : r.episodes)
        if (e.type == EpisodeType::AF)
            m_pDC->drawRect(RectMM(left + e.first * mmPerSample, plotTop,
                                   left + std::max(e.last * mmPerSample, e.first * mmPerSample + 0.2), plotBottom));

    // One stroke per tenth of a millimetre, from its shortest to its longest interval.
    const int columns = static_cast<int>((right - left) * 10);
    std::vector<double> low(columns, -1), high(columns, -1);
    for (size_t i = 0; i + 1 < r.beats.size() && i < r.rrIntervals.size(); ++i) {
        const int c = std::clamp(static_cast<int>(r.beats[i + 1] * mmPerSample * 10), 0, columns - 1);
        const double ms = r.rrIntervals[i] * 1000.0 / ECG_SAMPLE_RATE;
        low[c] = low[c] < 0 ? ms : std::min(low[c], ms);
        high[c] = std::max(high[c], ms);
    }
    QVector<QLineF> strokes;
    for (int c = 0; c < columns; ++c)
        if (high[c] >= 0) {
            const double x = left + c / 10.0;
            strokes.append(QLineF(Map(x * 10, -yOf(high[c]) * 10), Map(x * 10, -(yOf(low[c]) + 0.1) * 10)));
        }
    m_pDC->setPen(QPen(Qt::black, 1.5 * m_fDotsX, Qt::SolidLine, Qt::FlatCap));
    m_pDC->drawLines(strokes.constData(), static_cast<int>(strokes.size()));

    // Frame, the RR scale at the left and the times beneath.
    m_pDC->setPen(QPen(Qt::black, 1 * m_fDotsX));
    DrawFrame(RectMM(left, plotTop, right, plotBottom));
    m_pDC->setFont(MakeFont(false, 2.5, false));
    for (int ms = 0; ms <= kAxisMaxMs; ms += 500) {
        const double y = yOf(ms);
        DrawLineMM(left - 1, y, left, y);
        DrawTextBlock(RectMM(kLeftMM - 4, y - 1.5, left - 1.5, y + 1.5), QString::number(ms), AlignRight, true);
    }
    DrawTextBlock(RectMM(left + 1, plotTop + 0.5, left + 20, plotTop + 3.5), ToQString(Text::kRRAxis), AlignLeft);
    for (int k = 0; k <= 4; ++k) {
        const double x = left + (right - left) * k / 4;
        DrawLineMM(x, plotBottom, x, plotBottom + 1);
        const HAlign align = k == 0 ? AlignLeft : k == 4 ? AlignRight : AlignCenter;
        DrawTextBlock(RectMM(k == 0 ? x : x - 15, plotBottom + 1, k == 4 ? x : x + 15, plotBottom + 4),
                      FormatClockAt(m_pDocument, span * k / 4), align);
    }
}

void CEcgReportPrinter::PrintHolterStripPage()
{
    const std::shared_ptr<const AnalysisResults> results = BeginHolterPage();
    if (!results)
        return;
    int depth = 10;
    for (const HolterStrip& s : HolterStrips(*results))
        DrawStrip(s.position,
                  ToQString(Text::kHolterStripCaption)
                      .arg(ToQString(s.caption), s.detail, FormatClockAt(m_pDocument, s.at)),
                  true, &depth);
    m_pDC->restore();
}
