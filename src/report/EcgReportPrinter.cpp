#include "report/EcgReportPrinter.h"

#include <QFontMetrics>
#include <QPaintDevice>
#include <QPainter>
#include <QPen>
#include <QPolygonF>
#include <QStringList>
#include <QVector>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "analysis/EcgDocument.h"
#include "analysis/ElapsedTime.h"
#include "recording/EcgFile.h"
#include "recording/HeaderFindings.h"
#include "report/ReportPdf.h"
#include "resources/QtResources.h"

namespace {

// The calendar fields of the event captions.
constexpr char kClockFields[] = "%04d-%02d-%02d %02d:%02d:%02d";

constexpr int kStripsPerEventPage = 5;
constexpr int kEventSamples = 1750;       // 7 s
constexpr int kEventLead = 875;           // half of it before the event
constexpr int kEventBand = 200;           // +-20 mm about the baseline

// Whole millimetres of a device extent, truncated; the small tolerance keeps
// an exact 210 mm from becoming 209 through rounding of the dot count.
int DeviceMM(int dots, int dpi)
{
    if (dpi <= 0)
        return 0;
    return static_cast<int>(std::floor(dots * 25.4 / dpi + 1e-3));
}

}  // namespace

CEcgReportPrinter::CEcgReportPrinter(CEcgDocument* pDoc, QPainter* pDC, CPrintInfo* pInfo, int nGain)
    : m_pDocument(pDoc), m_pDC(pDC), m_pInfo(pInfo), m_nGain(nGain)
{
    QPaintDevice* dev = pDC ? pDC->device() : nullptr;
    if (dev && dev->logicalDpiX() > 0 && dev->logicalDpiY() > 0) {
        m_fDotsX = dev->logicalDpiX() / 254.0;
        m_fDotsY = dev->logicalDpiY() / 254.0;
    } else if (pInfo && pInfo->m_fDotsPerMM > 0) {
        m_fDotsX = m_fDotsY = pInfo->m_fDotsPerMM / 10.0;
    }
    if (pInfo && pInfo->m_nPrintableWidthMM > 0 && pInfo->m_nPrintableHeightMM > 0) {
        m_nWidthMM = pInfo->m_nPrintableWidthMM;
        m_nHeightMM = pInfo->m_nPrintableHeightMM;
    } else if (dev) {
        m_nWidthMM = DeviceMM(dev->width(), dev->logicalDpiX());
        m_nHeightMM = DeviceMM(dev->height(), dev->logicalDpiY());
    }
}

int CEcgReportPrinter::GetPageCount(const CEcgDocument* pDoc, const ReportOptions& options)
{
    return GetPageCount(pDoc) + GetHolterPageCount(pDoc, options);
}

int CEcgReportPrinter::GetPageCount(const CEcgDocument* pDoc)
{
    if (!pDoc || !IsLongRecordingKind(pDoc->GetFileKind()))
        return 1;
    const size_t n = pDoc->GetAbnormalCount();
    return 1 + static_cast<int>((n + kStripsPerEventPage - 1) / kStripsPerEventPage);
}

void CEcgReportPrinter::GetSummaryGeometry(int widthMM, int heightMM, int* pStripMM, int* pAreaMM)
{
    int L = ((widthMM - 20) / 25) * 25 - 50;
    int G = ((heightMM - 37) / 40) * 40;
    // Too small for the layout: keep its proportions and let it run off the page.
    if (L < 25)
        L = 25;
    if (G < 40)
        G = 40;
    if (pStripMM)
        *pStripMM = L;
    if (pAreaMM)
        *pAreaMM = G;
}

const char* CEcgReportPrinter::VerdictMark(double value, double low, double high)
{
    if (value < low)
        return Text::kMarkBelow;
    if (value > high)
        return Text::kMarkAbove;
    return Text::kMarkNormal;
}

std::string CEcgReportPrinter::FormatResultValues(const RecordingHeader& header)
{
    const HeaderFindings f = DecodeHeaderFindings(header);
    const float hr = f.fHeartRateBpm, r = f.fRAmplitudeMv, p = f.fPAmplitudeMv, t = f.fTAmplitudeMv;
    const int rr = f.nRrIntervalMs, pr = f.nPrIntervalMs, qt = f.nQtIntervalMs;
    char buf[1024];
    const auto format = [&](const char* values, auto... qtc) {
        std::snprintf(buf, sizeof buf, values, hr, VerdictMark(hr, 60, 100), r, VerdictMark(r, 0.5, 2.0), p,
                      VerdictMark(p, 0, 0.25), t, VerdictMark(t, 0.1, 0.5), rr, VerdictMark(rr, 600, 1000), pr,
                      VerdictMark(pr, 120, 200), qt, qtc..., VerdictMark(qt, 340, 430));
    };
    // No QTc without a positive mean RR: fewer than two beats, or a beat table running backwards.
    if (rr > 0)
        format(LoadString(IDS_RESULT_VALUES), static_cast<int>(static_cast<float>(qt) / sqrtf(static_cast<float>(rr) / 1000.0f)));
    else
        format(Text::kResultValuesNoQTc);
    return buf;
}

std::string CEcgReportPrinter::FormatBasicInfo(const RecordingHeader& header, uint64_t sampleCount)
{
    char buf[256];
    std::snprintf(buf, sizeof buf, LoadString(IDS_INFO_VALUES), header.year + 2000, header.month, header.day,
                  header.hour, header.minute, header.second, static_cast<int>(sampleCount / ECG_SAMPLE_RATE));
    return buf;
}

QRectF CEcgReportPrinter::RectMM(double left, double top, double right, double bottom) const
{
    return QRectF(Map(left * 10, -top * 10), Map(right * 10, -bottom * 10));
}

QFont CEcgReportPrinter::MakeFont(bool bHeiti, double heightMM, bool bBold, bool bItalic) const
{
    QFont font;
    font.setFamilies(FaceFamilies(bHeiti ? Text::kFaceHei : Text::kFaceSong));
    font.setWeight(bBold ? QFont::Bold : QFont::Normal);
    font.setItalic(bItalic);
    font.setHintingPreference(QFont::PreferNoHinting);
    font.setStyleStrategy(QFont::PreferOutline);

    // The cell height (ascent + descent) is what the layout gives; pick the
    // pixel size whose metrics come closest to it on this device.
    const int target = std::max(1, static_cast<int>(std::lround(heightMM * 10 * m_fDotsY)));
    QPaintDevice* dev = m_pDC->device();
    auto heightAt = [&](int px) {
        font.setPixelSize(px);
        return QFontMetrics(font, dev).height();
    };
    const int probe = 100;
    const int probeHeight = std::max(1, heightAt(probe));
    int px = std::max(1, static_cast<int>(std::lround(static_cast<double>(target) * probe / probeHeight)));
    int h = heightAt(px);
    for (int i = 0; i < 8 && h < target; ++i)
        h = heightAt(++px);
    for (int i = 0; i < 8 && h > target && px > 1; ++i)
        h = heightAt(--px);
    font.setPixelSize(px);
    return font;
}

void CEcgReportPrinter::DrawTextBlock(const QRectF& rc, const QString& text, HAlign align, bool bVCenter)
{
    const QFontMetricsF fm(m_pDC->font(), m_pDC->device());
    const double lineHeight = QFontMetrics(m_pDC->font(), m_pDC->device()).height();
    const QStringList lines = text.split(QStringLiteral("\r\n"));
    double top = rc.top();
    if (bVCenter)
        top = rc.top() + (rc.height() - lineHeight * lines.size()) / 2;
    for (int i = 0; i < lines.size(); ++i) {
        const QString& line = lines[i];
        if (line.isEmpty())
            continue;
        const double w = fm.horizontalAdvance(line);
        double x = rc.left();
        if (align == AlignRight)
            x = rc.right() - w;
        else if (align == AlignCenter)
            x = rc.left() + (rc.width() - w) / 2;
        m_pDC->drawText(QPointF(x, top + i * lineHeight + fm.ascent()), line);
        CReportPdf::NoteText(m_pDC, line);
    }
}

void CEcgReportPrinter::DrawFrame(const QRectF& rc)
{
    m_pDC->setBrush(Qt::NoBrush);
    m_pDC->drawRect(rc);
}

void CEcgReportPrinter::DrawLineMM(double x1, double y1, double x2, double y2)
{
    m_pDC->drawLine(Map(x1 * 10, -y1 * 10), Map(x2 * 10, -y2 * 10));
}

void CEcgReportPrinter::DrawDots(double leftMM, double topMM, int countX, int countY)
{
    QVector<QPointF> points;
    for (int i = 1; i < countX; ++i) {
        if (i % 5 == 0)
            continue;
        for (int j = 1; j < countY; ++j) {
            if (j % 5 == 0)
                continue;
            points.append(Map((leftMM + i) * 10, -(topMM + j) * 10));
        }
    }
    m_pDC->save();
    if (m_pInfo && m_pInfo->m_bPreview) {
        // One device pixel. The preview records the page as a picture and
        // scales it: recorded points come back as scaled squares that mostly
        // vanish, whereas a cosmetic stroke shorter than a pixel stays one
        // crisp pixel at any zoom.
        QVector<QLineF> marks;
        marks.reserve(points.size());
        for (const QPointF& pt : points)
            marks.append(QLineF(pt, pt + QPointF(0.25, 0)));
        m_pDC->setPen(QPen(Qt::black, 0));
        m_pDC->setRenderHint(QPainter::Antialiasing, false);
        m_pDC->drawLines(marks.constData(), static_cast<int>(marks.size()));
    } else {
        // 0.1 mm squares, but never thinner than a device dot or they vanish.
        const double w = std::max(m_fDotsX, 1.0);
        const double h = std::max(m_fDotsY, 1.0);
        QVector<QRectF> rects;
        rects.reserve(points.size());
        for (const QPointF& pt : points)
            rects.append(QRectF(pt.x(), pt.y(), w, h));
        m_pDC->setPen(Qt::NoPen);
        m_pDC->setBrush(Qt::black);
        m_pDC->drawRects(rects.constData(), static_cast<int>(rects.size()));
    }
    m_pDC->restore();
}

void CEcgReportPrinter::PrintPage()
{
    if (!m_pDocument || !m_pDC)
        return;
    const int kind = m_pDocument->GetFileKind();
    const int specified = GetPageCount(m_pDocument);
    const int page = m_pInfo ? m_pInfo->m_nCurPage : 1;
    if (IsLongRecordingKind(kind) && page > specified && m_pInfo && m_pInfo->m_options.holterPages) {
        if (page - specified == 1)
            PrintHolterSummaryPage();
        else if (page - specified == 2)
            PrintHolterStripPage();
    } else if (IsLongRecordingKind(kind))
        PrintEventPage();
    else if (IsShortRecordingKind(kind))
        PrintSummaryPage();
}

void CEcgReportPrinter::PrintSummaryPage()
{
    const int W = m_nWidthMM;
    int L = 0, G = 0;
    GetSummaryGeometry(m_nWidthMM, m_nHeightMM, &L, &G);

    RecordingHeader header{};
    const bool bHeader = m_pDocument->ReadHeader(&header);

    m_pDC->save();
    m_pDC->setBackgroundMode(Qt::TransparentMode);
    const QPen thinPen(Qt::black, 1 * m_fDotsX, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin);
    m_pDC->setPen(thinPen);

    // 1-2: title
    DrawFrame(RectMM(10, 10, W - 10, 26));
    m_pDC->setFont(MakeFont(true, 8.0, true));
    DrawTextBlock(RectMM(10, 10, W - 10, 26), LoadQString(IDS_REPORT_TITLE), AlignCenter, true);

    // 3-5: strip area with its grid
    DrawFrame(RectMM(10, 27, L + 15, G + 32));
    DrawDots(10, 27, L + 5, G + 5);
    m_pDC->setPen(thinPen);
    for (int k = 1; 5 * k < G + 5; ++k)
        DrawLineMM(10, 27 + 5 * k, L + 15, 27 + 5 * k);
    for (int k = 1; 5 * k < L + 5; ++k)
        DrawLineMM(10 + 5 * k, 27, 10 + 5 * k, G + 32);

    // 6: speed and gain legend
    const QFont captionFont = MakeFont(false, 3.2, true);
    m_pDC->setFont(captionFont);
    char buf[512];
    std::snprintf(buf, sizeof buf, LoadString(IDS_STRIP_LEGEND), 25, m_nGain * 5 / 25);
    DrawTextBlock(RectMM(10, 28, L + 14, G + 32), ToQString(buf), AlignRight);

    // 7: strips
    DrawSummaryStrips(L);

    // 8-10: basic information
    m_pDC->setPen(thinPen);
    DrawFrame(RectMM(L + 16, 27, W - 10, G + 32));
    const QFont headingFont = MakeFont(false, 4.8, true);
    const QFont regularFont = MakeFont(false, 3.2, false);
    m_pDC->setFont(headingFont);
    DrawTextBlock(RectMM(L + 16, 27, W - 10, 37), LoadQString(IDS_INFO_HEADING), AlignCenter, true);
    m_pDC->setFont(regularFont);
    const QRectF infoRect = RectMM(L + 19, 37, W - 13, 49);
    DrawTextBlock(infoRect, LoadQString(IDS_INFO_LABELS), AlignLeft);
    if (bHeader)
        DrawTextBlock(infoRect, ToQString(FormatBasicInfo(header, m_pDocument->GetSampleCount()).c_str()),
                      AlignRight);

    // 11-12: analysis results
    m_pDC->setFont(headingFont);
    DrawTextBlock(RectMM(L + 16, 57, W - 10, 67), LoadQString(IDS_RESULT_HEADING), AlignCenter, true);
    m_pDC->setFont(regularFont);
    const QRectF resultRect = RectMM(L + 19, 67, W - 13, G + 32);
    DrawTextBlock(resultRect, LoadQString(IDS_RESULT_LABELS), AlignLeft);
    if (bHeader)
        DrawTextBlock(resultRect, ToQString(FormatResultValues(header).c_str()), AlignRight);

    // 13: note
    m_pDC->setFont(MakeFont(false, 3.2, false, true));
    DrawTextBlock(RectMM(L + 16, G + 24, W - 10, G + 32), LoadQString(IDS_RESULT_NOTE), AlignCenter, true);

    // 14: footer with the maker and the printing time
    m_pDC->setFont(regularFont);
    const QRectF footer = RectMM(10, G + 33, W - 10, G + 43);
    DrawTextBlock(footer, LoadQString(IDS_COMPANY), AlignLeft);
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) && std::strftime(buf, sizeof buf, Text::kFooterTime, &local) > 0)
        DrawTextBlock(footer, ToQString(buf), AlignRight);

    m_pDC->restore();
}

void CEcgReportPrinter::DrawSummaryStrips(int L)
{
    const QPen thickPen(Qt::black, 2 * m_fDotsX, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    const uint32_t lineSamples = static_cast<uint32_t>(10 * L);
    const uint64_t total = m_pDocument->GetSampleCount();
    std::vector<int16_t> samples(lineSamples);
    int64_t S = 0;
    for (int k = 0;; ++k) {
        if (static_cast<uint64_t>(S) >= total)
            break;
        const uint32_t n = m_pDocument->ReadSamples(samples.data(), S, lineSamples);
        if (n == 0)
            break;

        char buf[64];
        std::snprintf(buf, sizeof buf, LoadString(IDS_STRIP_CAPTION), static_cast<int>(S / ECG_SAMPLE_RATE),
                      static_cast<int>((S + n) / ECG_SAMPLE_RATE));
        m_pDC->setPen(QPen(Qt::black));
        DrawTextBlock(RectMM(16, 38 + 40 * k, L + 15, 66 + 40 * k), ToQString(buf), AlignLeft);

        m_pDC->setPen(thickPen);
        const int B = 520 + 400 * k;
        const int g2 = 2 * m_nGain;
        const QPointF pulse[] = {Map(110, -B), Map(115, -B), Map(115, -B + g2),
                                 Map(135, -B + g2), Map(135, -B), Map(140, -B)};
        m_pDC->drawPolyline(pulse, 6);

        QPolygonF trace;
        trace.reserve(n);
        for (uint32_t i = 0; i < n; ++i) {
            const int dy = static_cast<int>(std::trunc(-samples[i] * 2.0 * m_nGain / ECG_UNITS_PER_MV));
            trace.append(Map(150 + i, -(B + dy)));
        }
        m_pDC->drawPolyline(trace);

        S += n;
    }
}

void CEcgReportPrinter::PrintEventPage()
{
    m_pDC->save();
    m_pDC->setBackgroundMode(Qt::TransparentMode);
    m_pDC->setPen(QPen(Qt::black));
    m_pDC->setFont(MakeFont(false, 3.0, false));

    const int page = m_pInfo ? m_pInfo->m_nCurPage : 1;
    DrawPageHeading(LoadQString(IDS_EVENT_TITLE));

    int depth = 10;
    if (page == 1) {
        DrawEventStrip(m_pDocument->FindMinRatePosition(), LoadString(IDS_MIN_RATE_CAPTION), &depth);
        DrawEventStrip(m_pDocument->FindMaxRatePosition(), LoadString(IDS_MAX_RATE_CAPTION), &depth);
    } else if (page >= 2) {
        std::vector<uint32_t> beats;
        m_pDocument->GetAbnormalBeats(beats);
        const size_t first = static_cast<size_t>(page - 2) * kStripsPerEventPage;
        for (size_t i = first; i < beats.size() && i < first + kStripsPerEventPage; ++i)
            DrawEventStrip(beats[i], LoadString(IDS_ABNORMAL_CAPTION), &depth);
    }
    m_pDC->restore();
}

void CEcgReportPrinter::DrawPageHeading(const QString& heading)
{
    const int page = m_pInfo ? m_pInfo->m_nCurPage : 1;
    const int pageCount = m_pInfo ? m_pInfo->m_nMaxPage : GetPageCount(m_pDocument);
    QString title = heading;
    if (m_pDocument->GetAnalysisDetector() == DetectorKind::Precise)
        title += ToQString(Text::kPreciseDetectorNote);
    DrawTextBlock(RectMM(13.5, 10, 200, 20), title, AlignLeft);
    char label[260];
    std::snprintf(label, sizeof label, Text::kPageLabel, page, pageCount);
    DrawTextBlock(RectMM(155, 10, 250, 20), ToQString(label), AlignLeft);
}

void CEcgReportPrinter::DrawEventStrip(uint64_t position, const char* captionFormat, int* pDepthMM)
{
    CTime when;
    m_pDocument->GetTimeAt(&when, static_cast<int32_t>(position / ECG_SAMPLE_RATE), false);
    LocalFields f = when.GetLocalFields();
    if (!f.valid) {
        f.year = f.month = f.day = 0;
        f.hour = f.minute = f.second = -1;
    }
    char caption[260];
    std::string elapsedFormat = captionFormat;
    const size_t clock = elapsedFormat.find(kClockFields);
    if (ShowsElapsedTime(m_pDocument) && clock != std::string::npos) {
        // The caption's calendar fields give way to the time since the start.
        elapsedFormat.replace(clock, std::strlen(kClockFields), "%s");
        std::snprintf(caption, sizeof caption, elapsedFormat.c_str(),
                      ElapsedText(int64_t(position / ECG_SAMPLE_RATE)).c_str());
    } else {
        std::snprintf(caption, sizeof caption, captionFormat, f.year, f.month, f.day, f.hour, f.minute, f.second);
    }
    DrawStrip(position, ToQString(caption), m_pInfo && m_pInfo->m_options.beatClasses, pDepthMM);
}

void CEcgReportPrinter::DrawStrip(uint64_t position, const QString& caption, bool bClasses, int* pDepthMM)
{
    const int D = *pDepthMM;
    m_pDC->setPen(QPen(Qt::black));
    DrawTextBlock(RectMM(13.5, D + 5, 200, D + 10), caption, AlignLeft);

    // Grid: 175 x 40 mm.
    DrawDots(13.5, D + 10, 176, 41);
    m_pDC->setPen(QPen(Qt::black, 1 * m_fDotsX, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    for (int k = 0; k <= 35; ++k)
        DrawLineMM(13.5 + 5 * k, D + 10, 13.5 + 5 * k, D + 50);
    for (int k = 0; k <= 8; ++k)
        DrawLineMM(13.5, D + 10 + 5 * k, 188.5, D + 10 + 5 * k);

    // Trace: 7 s around the event, clamped to its band.
    std::vector<int16_t> samples(kEventSamples);
    const int64_t first = std::max<int64_t>(0, static_cast<int64_t>(position) - kEventLead);
    const uint32_t n = m_pDocument->ReadSamples(samples.data(), first, kEventSamples);
    const int B = 10 * (D + 30);
    if (n > 0) {
        QPolygonF trace;
        trace.reserve(n);
        for (uint32_t i = 0; i < n; ++i) {
            int y = static_cast<int>(std::trunc(samples[i] * 2.0 * m_nGain / ECG_UNITS_PER_MV - B));
            y = std::clamp(y, -B - kEventBand, -B + kEventBand);
            trace.append(Map(135 + i, y));
        }
        m_pDC->setPen(QPen(Qt::black, 2 * m_fDotsX, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        m_pDC->drawPolyline(trace);
        if (bClasses)
            DrawClassMarks(first, n, D);
    }
    *pDepthMM = D + 50;
}

void CEcgReportPrinter::DrawClassMarks(int64_t first, uint32_t count, int D)
{
    const std::shared_ptr<const AnalysisResults> results = m_pDocument->GetResults();
    if (!results)
        return;
    std::vector<uint32_t> beats;
    m_pDocument->GetBeatsInRange(static_cast<uint64_t>(first), count, beats);
    m_pDC->save();
    m_pDC->setFont(MakeFont(false, 3.0, true));
    for (uint32_t r : beats) {
        const BeatClassInfo& info = GetBeatClassInfo(results->ClassAt(r));
        const QColor colour(QRgb(0xFF000000u | info.rgb));
        const double x = 13.5 + (static_cast<int64_t>(r) - first) / 10.0;
        // A tick at the top of the grid, the letter beside it, clear of the trace.
        m_pDC->setPen(QPen(colour, 3 * m_fDotsX, Qt::SolidLine, Qt::FlatCap));
        DrawLineMM(x, D + 10, x, D + 13);
        if (info.beatClass != BeatClass::N && info.beatClass != BeatClass::Unclassified)
            DrawTextBlock(RectMM(x + 0.6, D + 10.2, x + 5, D + 13.5), QString(QChar(info.letter)), AlignLeft);
    }
    m_pDC->restore();
}
