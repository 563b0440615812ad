// Small helpers for the report tests: recordings written on the spot, a
// paint device that keeps what was drawn, pages rendered to images, and the
// text a PDF gives back.
#pragma once

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFontMetricsF>
#include <QImage>
#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTextItem>

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

#include "analysis/EcgDocument.h"
#include "recording/EcgFile.h"
#include "report/EcgReportPrinter.h"
#include "support/Recordings.h"

namespace reporttest {

using testsupport::PutU16;
using testsupport::SetBeats;

// A short recording's header dated 2010-11-08 14:30:59.
inline RecordingHeader MakeHeader()
{
    return testsupport::ShortHeader(10, 11, 8, 14, 30, 59);
}

inline bool WriteShortRecording(const QString& path, const RecordingHeader& h, const std::vector<int16_t>& samples,
                                int kind = ECG_KIND_NORMAL)
{
    return !testsupport::WriteShortRecording(path.toStdString(), h, samples, kind).empty();
}

// A long recording: bare samples; the name (YYMMDDHH.MM) gives the start time.
inline bool WriteLongRecording(const QString& path, const std::vector<int16_t>& samples)
{
    return !testsupport::WriteSamples(path.toStdString(), samples).empty();
}

// A paint device of 254 dots per inch, so one device dot is one logical unit
// (0.1 mm) and device (x, y) is logical (x, -y). Its engine records the drawing.
class CapturingEngine : public QPaintEngine {
public:
    struct Text {
        QPointF baseline;
        QString text;
        QFont font;
        double right;   // baseline x plus the advance of the text
    };
    struct Polyline {
        QPolygonF points;
        double penWidth;
    };

    CapturingEngine() : QPaintEngine(QPaintEngine::AllFeatures) {}
    bool begin(QPaintDevice*) override { return true; }
    bool end() override { return true; }
    Type type() const override { return QPaintEngine::User; }
    void updateState(const QPaintEngineState& state) override
    {
        if (state.state() & QPaintEngine::DirtyPen)
            m_pen = state.pen();
    }
    void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
    void drawTextItem(const QPointF& p, const QTextItem& item) override
    {
        const double advance = QFontMetricsF(item.font(), paintDevice()).horizontalAdvance(item.text());
        texts.push_back({p, item.text(), item.font(), p.x() + advance});
    }
    void drawPolygon(const QPointF* points, int count, PolygonDrawMode mode) override
    {
        if (mode == PolylineMode)
            polylines.push_back({QPolygonF(QList<QPointF>(points, points + count)), m_pen.widthF()});
    }
    void drawLines(const QLineF* lines, int count) override
    {
        this->lines.insert(this->lines.end(), lines, lines + count);
        if (m_pen.isCosmetic())
            cosmeticLines += count;
    }
    void drawRects(const QRectF* rects, int count) override
    {
        this->rects.insert(this->rects.end(), rects, rects + count);
    }
    void drawPoints(const QPointF* points, int count) override
    {
        this->points.insert(this->points.end(), points, points + count);
    }

    // Text runs joined into lines by baseline, left to right.
    std::vector<Text> Lines() const
    {
        std::vector<Text> sorted = texts;
        std::stable_sort(sorted.begin(), sorted.end(), [](const Text& a, const Text& b) {
            if (qAbs(a.baseline.y() - b.baseline.y()) > 0.01)
                return a.baseline.y() < b.baseline.y();
            return a.baseline.x() < b.baseline.x();
        });
        std::vector<Text> out;
        for (const Text& t : sorted) {
            // Runs of one line drawn separately (left and right text) stay apart
            // when there is a gap between them.
            if (!out.empty() && qAbs(out.back().baseline.y() - t.baseline.y()) <= 0.01 &&
                t.baseline.x() <= out.back().right + 0.5) {
                out.back().text += t.text;
                out.back().right = t.right;
                continue;
            }
            out.push_back(t);
        }
        return out;
    }
    bool HasLine(const QString& s) const
    {
        for (const Text& t : Lines())
            if (t.text == s)
                return true;
        return false;
    }
    std::vector<Text> LinesStartingWith(const QString& prefix) const
    {
        std::vector<Text> out;
        for (const Text& t : Lines())
            if (t.text.startsWith(prefix))
                out.push_back(t);
        return out;
    }

    std::vector<Text> texts;
    std::vector<Polyline> polylines;
    std::vector<QLineF> lines;
    std::vector<QRectF> rects;
    std::vector<QPointF> points;
    int cosmeticLines = 0;

private:
    QPen m_pen;
};

class CapturingDevice : public QPaintDevice {
public:
    CapturingDevice(int widthMM = 210, int heightMM = 297) : m_nWidthMM(widthMM), m_nHeightMM(heightMM) {}
    QPaintEngine* paintEngine() const override { return &m_engine; }
    CapturingEngine& Engine() { return m_engine; }

protected:
    int metric(PaintDeviceMetric m) const override
    {
        switch (m) {
        case PdmWidth: return m_nWidthMM * 10;
        case PdmHeight: return m_nHeightMM * 10;
        case PdmWidthMM: return m_nWidthMM;
        case PdmHeightMM: return m_nHeightMM;
        case PdmNumColors: return 256;
        case PdmDepth: return 32;
        case PdmDpiX:
        case PdmDpiY:
        case PdmPhysicalDpiX:
        case PdmPhysicalDpiY: return 254;
        case PdmDevicePixelRatio: return 1;
        case PdmDevicePixelRatioScaled: return static_cast<int>(devicePixelRatioFScale());
        default: return 0;
        }
    }

private:
    mutable CapturingEngine m_engine;
    int m_nWidthMM;
    int m_nHeightMM;
};

inline CPrintInfo PageInfo(int page, int pageCount, int widthMM = 210, int heightMM = 297, bool preview = false)
{
    CPrintInfo info;
    info.m_nMinPage = 1;
    info.m_nMaxPage = pageCount;
    info.m_nCurPage = page;
    info.m_bPreview = preview;
    info.m_nPrintableWidthMM = widthMM;
    info.m_nPrintableHeightMM = heightMM;
    return info;
}

// Draws one page onto the capturing device.
inline void CapturePage(CEcgDocument& doc, CapturingDevice& dev, CPrintInfo info, int gain = 50)
{
    QPainter painter(&dev);
    CEcgReportPrinter printer(&doc, &painter, &info, gain);
    printer.PrintPage();
}

// Draws one page into a white image of the page at dpi dots per inch.
inline QImage RenderPage(CEcgDocument& doc, int dpi, CPrintInfo info, int gain = 50)
{
    const double dotsPerMM = dpi / 25.4;
    QImage img(static_cast<int>(info.m_nPrintableWidthMM * dotsPerMM),
               static_cast<int>(info.m_nPrintableHeightMM * dotsPerMM), QImage::Format_RGB32);
    img.setDotsPerMeterX(qRound(dpi / 0.0254));
    img.setDotsPerMeterY(qRound(dpi / 0.0254));
    img.fill(Qt::white);
    QPainter painter(&img);
    CEcgReportPrinter printer(&doc, &painter, &info, gain);
    printer.PrintPage();
    return img;
}

inline bool IsDark(const QImage& img, int x, int y)
{
    if (x < 0 || y < 0 || x >= img.width() || y >= img.height())
        return false;
    return qGray(img.pixel(x, y)) < 128;
}

// Centres of the dark runs along row y between x0 and x1 (pixels).
inline std::vector<double> DarkRunsInRow(const QImage& img, int y, int x0, int x1)
{
    std::vector<double> centres;
    int start = -1;
    for (int x = x0; x <= x1 + 1; ++x) {
        const bool dark = x <= x1 && IsDark(img, x, y);
        if (dark && start < 0)
            start = x;
        if (!dark && start >= 0) {
            centres.push_back((start + x - 1) / 2.0);
            start = -1;
        }
    }
    return centres;
}

// Length of the longest dark run in column x between y0 and y1 (pixels).
inline int LongestDarkRunInColumn(const QImage& img, int x, int y0, int y1)
{
    int best = 0, run = 0;
    for (int y = y0; y <= y1; ++y) {
        run = IsDark(img, x, y) ? run + 1 : 0;
        best = std::max(best, run);
    }
    return best;
}

// The text pdftotext finds on one page of a PDF, in layout order; empty
// when the tool is missing or fails.
inline QString PdfPageText(const QString& pdf, int page)
{
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    if (tool.isEmpty())
        return {};
    QProcess p;
    p.start(tool, {QStringLiteral("-layout"), QStringLiteral("-enc"), QStringLiteral("UTF-8"), QStringLiteral("-f"),
                   QString::number(page), QStringLiteral("-l"), QString::number(page), pdf, QStringLiteral("-")});
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return {};
    return QString::fromUtf8(p.readAllStandardOutput());
}

// The lines page `page` of the report draws that text extracted from its PDF
// lacks, white space ignored. A date and time alone on a line (the footer's
// printing time) may be up to two minutes later in the PDF.
inline QStringList TextMissingFromPdf(CEcgDocument& doc, int page, int pageCount, const QString& pdfText)
{
    const auto squeeze = [](QString s) {
        s.removeIf([](QChar c) { return c.isSpace(); });
        return s;
    };
    const QString found = squeeze(pdfText);
    const auto timeNear = [&](const QString& drawn) {
        const QDateTime want = QDateTime::fromString(drawn, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        static const QRegularExpression stamp(QStringLiteral("\\d{4}-\\d\\d-\\d\\d\\d\\d:\\d\\d:\\d\\d"));
        for (const QRegularExpressionMatch& m : stamp.globalMatch(found)) {
            const QDateTime got = QDateTime::fromString(m.captured(), QStringLiteral("yyyy-MM-ddHH:mm:ss"));
            if (got.isValid() && want.isValid() && qAbs(want.secsTo(got)) <= 120)
                return true;
        }
        return false;
    };
    CapturingDevice dev;
    CapturePage(doc, dev, PageInfo(page, pageCount));
    QStringList missing;
    for (const CapturingEngine::Text& line : dev.Engine().Lines()) {
        if (!found.contains(squeeze(line.text)) && !timeNear(line.text))
            missing << line.text;
    }
    return missing;
}

}  // namespace reporttest
