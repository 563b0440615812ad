// The strip painter on real pixels.
#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QtTest>

#include "analysis/BeatClass.h"
#include "analysis/EcgDocument.h"
#include "display/EcgPainter.h"
#include "support/AnalysisViews.h"
#include "support/QtSupport.h"
#include "support/DocumentAccess.h"

using namespace testsupport;

namespace {

const QRgb kBackground = qRgb(0, 50, 50);
const QRgb kMinor = qRgb(0, 60, 60);
const QRgb kMajor = qRgb(0, 90, 90);
const QRgb kTrace = qRgb(240, 240, 0);
const QRgb kRMark = qRgb(0, 200, 200);
const QRgb kCaption = qRgb(0, 255, 255);

QImage Paint(CEcgPainter& painter, const DisplaySettings& settings, CEcgDocument* doc, int w = 1000, int h = 400,
             bool status = false)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(Qt::magenta);
    QPainter p(&image);
    painter.DrawStrip(doc, settings, &p, w, h, status);
    p.end();
    return image;
}

QRgb At(const QImage& image, int x, int y)
{
    return image.pixel(x, y) | 0xff000000u;
}

bool IsKnownColour(QRgb c)
{
    return c == kBackground || c == kMinor || c == kMajor || c == kTrace || c == kRMark;
}

// Bounding box of pixels that belong to no line or background (text).
QRect TextBox(const QImage& image, const QRect& area)
{
    QRect box;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (!IsKnownColour(At(image, x, y)))
                box |= QRect(x, y, 1, 1);
    return box;
}

}  // namespace

class TestEcgPainter : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void traceCalibrationAndCaptions();
    void gridPhaseFollowsPosition();
    void requestedSampleCount();
    void shortStripHasNoCalibration();
    void statusBandAndRMarks();
    void gridRowsMatchGridPasses();
    void timeLabels();
    void fontAndFormats();

private:
    QTemporaryDir m_dir;
};

void TestEcgPainter::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

void TestEcgPainter::traceCalibrationAndCaptions()
{
    std::vector<int16_t> samples(3000, 0);
    samples[400] = 1010;    // +1 mV at x = 200
    samples[600] = -1010;   // -1 mV at x = 300
    const QString path = WriteSamples(m_dir.path(), QStringLiteral("10110814.30"), samples);
    CEcgDocument doc;
    doc.OpenFile(path.toStdString());

    CEcgPainter painter;
    DisplaySettings settings;
    const QImage img = Paint(painter, settings, &doc);

    // Background, grids and caption colours are exact.
    QCOMPARE(At(img, 1, 27), kBackground);
    QCOMPARE(At(img, 5, 27), kMinor);
    QCOMPARE(At(img, 0, 27), kMajor);

    // Zero line at (h div 2) + 25, 1 mV = 50 pixels.
    QCOMPARE(At(img, 150, 225), kTrace);
    QVERIFY(At(img, 150, 224) != kTrace);
    QVERIFY(At(img, 150, 226) != kTrace);
    QCOMPARE(At(img, 200, 175), kTrace);
    QVERIFY(At(img, 200, 174) != kTrace);
    QCOMPARE(At(img, 300, 275), kTrace);
    QVERIFY(At(img, 300, 276) != kTrace);

    // Calibration bar at x = 25 from y = 175 down to the zero line, strokes 20..29.
    for (int y = 175; y < 225; ++y)
        QCOMPARE(At(img, 25, y), kTrace);
    QVERIFY(At(img, 25, 174) != kTrace);
    for (int x = 20; x < 30; ++x) {
        QCOMPARE(At(img, x, 175), kTrace);
        QCOMPARE(At(img, x, 225), kTrace);
    }
    QVERIFY(At(img, 30, 175) != kTrace);
    QVERIFY(At(img, 19, 175) != kTrace);
    QCOMPARE(At(img, 24, 201), kBackground);
    // Between the pulse and the trace proper (sample 100 at x = 50) nothing is drawn.
    for (int x = 31; x < 50; ++x)
        QVERIFY2(At(img, x, 225) != kTrace, qPrintable(QString::number(x)));
    QCOMPARE(At(img, 50, 225), kTrace);

    // "1mv" sits in x 0..49 from y = 230, centred.
    const QRect box = TextBox(img, QRect(0, 226, 120, 80));
    QVERIFY(!box.isEmpty());
    QVERIFY2(box.left() >= 0 && box.right() < 50 && box.top() >= 230 && box.bottom() < 262,
             qPrintable(QStringLiteral("%1,%2 %3x%4").arg(box.x()).arg(box.y()).arg(box.width()).arg(box.height())));
    QVERIFY(qAbs((box.left() + box.right()) / 2 - 25) <= 2);

    // The zoom caption starts near (5, 6) in the label band, in the caption colour.
    const QRect caption = TextBox(img, QRect(0, 0, 200, 25));
    QVERIFY(!caption.isEmpty());
    QVERIFY(caption.left() >= 5 && caption.left() <= 8);
    QVERIFY(caption.top() >= 6 && caption.bottom() <= 20);
    bool exact = false;
    for (int y = caption.top(); y <= caption.bottom() && !exact; ++y)
        for (int x = caption.left(); x <= caption.right() && !exact; ++x)
            exact = At(img, x, y) == kCaption;
    QVERIFY(exact);

    // Without the grid only the trace and captions are on the background.
    settings.m_bShowGrid = false;
    const QImage bare = Paint(painter, settings, &doc);
    QCOMPARE(At(bare, 0, 27), kBackground);
    QCOMPARE(At(bare, 5, 27), kBackground);
    QCOMPARE(At(bare, 150, 225), kTrace);
}

void TestEcgPainter::gridPhaseFollowsPosition()
{
    const QString path = WriteSamples(m_dir.path(), QStringLiteral("10110814.31"), std::vector<int16_t>(20000, 0));
    CEcgDocument doc;
    doc.OpenFile(path.toStdString());
    CEcgPainter painter;
    DisplaySettings settings;
    settings.m_nViewPos = 1234;
    QImage img = Paint(painter, settings, &doc);
    QCOMPARE(painter.GetGridPhase(), 17);
    // Major vertical lines at x = -17 + 25k; row 31 has no horizontal line.
    for (int x : {8, 33, 58, 983})
        QCOMPARE(At(img, x, 31), kMajor);
    for (int x : {13, 18, 23, 28})
        QCOMPARE(At(img, x, 31), kMinor);
    QCOMPARE(At(img, 7, 31), kBackground);
    // Horizontal lines never move.
    QCOMPARE(At(img, 1, 25), kMajor);
    QCOMPARE(At(img, 1, 30), kMinor);

    // A drag paints from the drag position, not the committed one.
    settings.m_bDragging = true;
    settings.m_nDragPos = 1250;
    Paint(painter, settings, &doc);
    QCOMPARE(painter.GetGridPhase(), 0);
    settings.m_bDragging = false;
    Paint(painter, settings, &doc);
    QCOMPARE(painter.GetGridPhase(), 17);

    // At 200 % the phase scales: (617 mod 25) * 2.
    settings.m_fZoom = 2.0f;
    Paint(painter, settings, &doc);
    QCOMPARE(painter.GetGridPhase(), 34);
    settings.m_fZoom = 0.75f;
    img = Paint(painter, settings, &doc);
    QCOMPARE(painter.GetGridPhase(), 12);   // trunc(17 * 0.75)
    QCOMPARE(At(img, static_cast<int>(25 * 0.75 - 12), 26), kMajor);
}

void TestEcgPainter::requestedSampleCount()
{
    // At 50 % a 1000-pixel strip asks for 4000 samples: the last one read is a
    // move-to point, so sample 3998 is joined and sample 3999 is not.
    std::vector<int16_t> samples(10000, 0);
    samples[3998] = 1010;
    samples[3999] = -1010;
    samples[4000] = -1010;
    const QString path = WriteSamples(m_dir.path(), QStringLiteral("10110814.32"), samples);
    CEcgDocument doc;
    doc.OpenFile(path.toStdString());
    CEcgPainter painter;
    DisplaySettings settings;
    settings.m_fZoom = 0.5f;
    settings.m_bShowGrid = false;
    const QImage img = Paint(painter, settings, &doc);
    // Zero line 225; +1 mV at 50 % is 25 pixels up.
    QCOMPARE(At(img, 999, 210), kTrace);
    QVERIFY(At(img, 999, 235) != kTrace);
    // Four samples share a pixel column: sample 400 (x = 100) and 403 are in the same column.
    QCOMPARE(At(img, 500, 225), kTrace);
}

void TestEcgPainter::shortStripHasNoCalibration()
{
    std::vector<int16_t> samples(100, 505);   // half a millivolt, 100 samples only
    const QString path = WriteSamples(m_dir.path(), QStringLiteral("10110814.33"), samples);
    CEcgDocument doc;
    doc.OpenFile(path.toStdString());
    CEcgPainter painter;
    DisplaySettings settings;
    settings.m_bShowGrid = false;
    const QImage img = Paint(painter, settings, &doc);
    // The trace starts at its first sample, at y = 200, and there is no pulse or "1mv".
    QCOMPARE(At(img, 0, 200), kTrace);
    QCOMPARE(At(img, 25, 200), kTrace);
    QCOMPARE(At(img, 25, 180), kBackground);
    QVERIFY(TextBox(img, QRect(0, 226, 120, 80)).isEmpty());

    // y = trunc(h/2 - (s / 1010.0) * gain * zoom + 25) in that order: 59.99..
    // at 75 %, where scaling by gain * zoom first would give 60.
    const QString high = WriteSamples(m_dir.path(), QStringLiteral("10110814.34"), std::vector<int16_t>(100, 4444));
    CEcgDocument highDoc;
    highDoc.OpenFile(high.toStdString());
    settings.m_fZoom = 0.75f;
    const QImage img75 = Paint(painter, settings, &highDoc);
    QCOMPARE(At(img75, 10, 59), kTrace);
    QVERIFY(At(img75, 10, 60) != kTrace);
    settings.m_fZoom = 1.0f;

    // No document at all: background, grid and the zoom caption.
    settings.m_bShowGrid = true;
    const QImage empty = Paint(painter, settings, nullptr);
    QCOMPARE(At(empty, 1, 27), kBackground);
    QCOMPARE(At(empty, 0, 27), kMajor);
    QVERIFY(!TextBox(empty, QRect(0, 0, 200, 25)).isEmpty());
}

void TestEcgPainter::statusBandAndRMarks()
{
    QString path = RunSynth({QStringLiteral("long"), QStringLiteral("--minutes"), QStringLiteral("2"),
                             QStringLiteral("--rate"), QStringLiteral("75"), m_dir.path()});
    if (path.isEmpty())
        path = WriteSamples(m_dir.path(), QStringLiteral("10110814.34"), SpikeTrain(30000));
    CEcgDocument doc;
    doc.OpenFile(path.toStdString());
    CEcgPainter painter;
    DisplaySettings settings;
    settings.m_bShowRMarks = true;
    const int w = 1000, h = 400;

    // Before the analysis: no marks, the status band below 375 stays background.
    QImage img = Paint(painter, settings, &doc, w, h, true);
    for (int x = 0; x < w; ++x) {
        QVERIFY(At(img, x, 27) != kRMark);
        for (int y = 376; y < h; ++y)
            if (x >= 100)
                QCOMPARE(At(img, x, y), kBackground);
    }
    QCOMPARE(At(img, 0, 399), kBackground);
    // The status caption at (5, h - 19): IDS_STATUS_DETECTING while detecting, IDS_STATUS_STATISTICS once
    // the beats are final and the statistics run.
    const QRect status = TextBox(img, QRect(0, 376, 100, 24));
    QVERIFY(!status.isEmpty());
    QVERIFY(status.left() >= 5 && status.top() >= h - 19);
    const auto caption = [&](const QString& text) {
        QImage ref(100, 24, QImage::Format_RGB32);
        ref.fill(kBackground);
        QPainter p(&ref);
        p.setFont(painter.GetFont());
        p.setPen(kCaption);
        p.drawText(QPoint(5, 5 + QFontMetrics(painter.GetFont()).ascent()), text);
        return ref;
    };
    QCOMPARE(img.copy(0, h - 24, 100, 24), caption(QStringLiteral("正在分析数据")));
    DocAccess::SetDetectionDone(doc, true);
    QCOMPARE(Paint(painter, settings, &doc, w, h, true).copy(0, h - 24, 100, 24), caption(QStringLiteral("正在统计心律")));
    DocAccess::SetDetectionDone(doc, false);
    // Without the show-status flag the band is empty.
    img = Paint(painter, settings, &doc, w, h, false);
    QVERIFY(TextBox(img, QRect(0, 376, 100, 24)).isEmpty());

    NullAnalysisView sink;
    doc.StartAnalysis(&sink);
    doc.WaitAnalysis();
    QVERIFY(doc.IsDetectionDone());
    QVERIFY(doc.IsStatisticsReady());
    std::vector<uint32_t> beats;
    doc.GetBeatsInRange(0, 1000000, beats);
    QVERIFY(beats.size() > 10);

    // A beat 40 samples into the strip lies in the calibration room: no mark.
    const int64_t P = static_cast<int64_t>(beats[5]) - 40;
    settings.m_nViewPos = P;
    img = Paint(painter, settings, &doc, w, h, false);
    int marks = 0;
    for (uint32_t r : beats) {
        if (static_cast<int64_t>(r) < P || static_cast<int64_t>(r) > P + 2000)
            continue;
        const int x = static_cast<int>((static_cast<int64_t>(r) - P) / 2);
        if (x >= 50) {
            ++marks;
            QCOMPARE(At(img, x, 27), kRMark);
            QCOMPARE(At(img, x, 26), kRMark);
            QVERIFY(At(img, x, 24) != kRMark);
        } else {
            for (int y = 26; y < 150; ++y)
                QVERIFY(At(img, x, y) != kRMark);
        }
    }
    QVERIFY(marks > 3);
    // After both phases the grid and marks reach the bottom edge.
    int gridAtBottom = 0;
    for (int x = 0; x < w; ++x)
        gridAtBottom += At(img, x, 399) == kMajor || At(img, x, 399) == kMinor;
    if (gridAtBottom <= 100)
        SaveForInspection(img, "painter-after.png");
    QVERIFY2(gridAtBottom > 100, qPrintable(QString::number(gridAtBottom)));
    QVERIFY(TextBox(img, QRect(0, 376, 100, 24)).isEmpty());

    // The selected beat: a band at both ends of its mark, the trace between left clear.
    {
        const QRgb kSelection = CEcgPainter::SELECTION_COLOR.rgb();
        const int xs = static_cast<int>((static_cast<int64_t>(beats[7]) - P) / 2);
        settings.m_nSelectedBeat = beats[7];
        const QImage selected = Paint(painter, settings, &doc, w, h, false);
        for (int dx = -3; dx <= 3; ++dx) {
            QCOMPARE(At(selected, xs + dx, 30), kSelection);
            QCOMPARE(At(selected, xs + dx, h - 5), kSelection);
            QVERIFY(At(selected, xs + dx, h / 2 + 60) != kSelection);
        }
        QVERIFY(At(selected, xs + 5, 30) != kSelection);
        const int xo = static_cast<int>((static_cast<int64_t>(beats[8]) - P) / 2);
        QCOMPARE(At(selected, xo, 30), kRMark);
        // A position that is no beat selects nothing.
        settings.m_nSelectedBeat = beats[7] + 1;
        QCOMPARE(Paint(painter, settings, &doc, w, h, false), img);
        settings.m_nSelectedBeat = -1;
    }

    // Classes on the marks: a V beat in its colour with its letter; normal
    // beats, and everything with the classes off, as before.
    const QImage plain = img;
    auto results = std::make_shared<AnalysisResults>(*doc.GetResults());
    results->classes.assign(results->beats.size(), BeatClass::N);
    results->classes[7] = BeatClass::V;
    DocAccess::SetResults(doc, results);
    QCOMPARE(Paint(painter, settings, &doc, w, h, false), plain);
    settings.m_bShowBeatClasses = true;
    img = Paint(painter, settings, &doc, w, h, false);
    const int xv = static_cast<int>((static_cast<int64_t>(beats[7]) - P) / 2);
    const QRgb vColour = 0xFF000000u | GetBeatClassInfo(BeatClass::V).rgb;
    QCOMPARE(At(img, xv, 200), vColour);
    const int xn = static_cast<int>((static_cast<int64_t>(beats[6]) - P) / 2);
    QCOMPARE(At(img, xn, 200), kRMark);
    int letterPixels = 0;
    for (int y = 27; y < 27 + 16; ++y)
        for (int x = xv + 1; x <= xv + 14; ++x)
            letterPixels += x != xv && qRed(At(img, x, y)) > 150 && qGreen(At(img, x, y)) < 120;
    if (letterPixels <= 5)
        SaveForInspection(img, "painter-classes.png");
    QVERIFY2(letterPixels > 5, qPrintable(QString::number(letterPixels)));
    settings.m_bShowBeatClasses = false;

    settings.m_bShowRMarks = false;
    img = Paint(painter, settings, &doc, w, h, false);
    for (int x = 0; x < w; ++x)
        QVERIFY(At(img, x, 27) != kRMark);
}

void TestEcgPainter::gridRowsMatchGridPasses()
{
    // The one-sweep grid must give exactly the pixels of the two passes.
    for (float zoom : {0.5f, 0.75f, 1.0f, 1.25f, 1.5f, 2.0f, 3.0f, 4.0f}) {
        for (int phase : {0, 7, 24, 49, 96}) {
            for (int height : {375, 350, 3, 0}) {
                QImage slow(640, 400, QImage::Format_ARGB32_Premultiplied);
                slow.fill(kBackground);
                CEcgPainter::DrawMinorGrid(&slow, kMinor, 0, 25, 640, height, phase, zoom);
                CEcgPainter::DrawMajorGrid(&slow, kMajor, 0, 25, 640, height, phase, zoom);
                QImage fast(640, 400, QImage::Format_ARGB32_Premultiplied);
                CEcgPainter::DrawGridRows(&fast, kBackground, kMinor, kMajor, 0, 25, 640, height, phase, zoom);
                QVERIFY2(slow == fast, qPrintable(QStringLiteral("zoom %1 phase %2 height %3").arg(zoom).arg(phase).arg(height)));
            }
        }
    }
}

void TestEcgPainter::timeLabels()
{
    const QString named = WriteSamples(m_dir.path(), QStringLiteral("10110814.35"), std::vector<int16_t>(10, 0));
    CEcgDocument doc;
    doc.OpenFile(named.toStdString());
    CEcgPainter painter;
    DisplaySettings settings;
    settings.m_nViewPos = 900000;
    painter.DrawTimeLabels(&doc, settings, 100);
    QCOMPARE(painter.GetRelativeTimeLabel(), QStringLiteral("相对时间：01:00:00"));
    QCOMPARE(painter.GetAbsoluteTimeLabel(), QStringLiteral("绝对时间：2010-11-08 15:35:00"));
    // The drag position is not used; hours are not reduced modulo 24.
    settings.m_bDragging = true;
    settings.m_nDragPos = 0;
    settings.m_nViewPos = 250LL * 3600 * 30 + 250 * 61;
    settings.m_fZoom = 2.0f;
    painter.DrawTimeLabels(&doc, settings, 0);
    QCOMPARE(painter.GetRelativeTimeLabel(), QStringLiteral("相对时间：30:01:01"));
    QCOMPARE(painter.GetAbsoluteTimeLabel(), QStringLiteral("绝对时间：2010-11-09 20:36:01"));

    // The captions are drawn opaque at (200, 6) and (450, 6).
    QImage img(800, 40, QImage::Format_RGB32);
    img.fill(Qt::magenta);
    QPainter p(&img);
    painter.PaintTimeLabels(&p);
    p.end();
    const int cellBottom = 6 + QFontMetrics(painter.GetFont()).height();
    for (int y = 6; y < cellBottom; ++y) {
        QCOMPARE(At(img, 199, y), qRgb(255, 0, 255));
        QVERIFY(At(img, 200, y) != qRgb(255, 0, 255));
    }
    bool ink = false;
    for (int x = 450; x < 470 && !ink; ++x)
        for (int y = 6; y < 20 && !ink; ++y)
            ink = At(img, x, y) == kCaption;
    QVERIFY(ink);
}

void TestEcgPainter::fontAndFormats()
{
    CEcgPainter painter;
    DisplaySettings settings;
    // Noto Serif CJK SC has cells of 13 or 15 pixels around the wanted 14.
    const int cell = QFontMetrics(painter.GetFont()).height();
    QVERIFY2(cell == 14 || cell == 13, qPrintable(QString::number(cell)));
    QFont bigger = painter.GetFont();
    bigger.setPixelSize(bigger.pixelSize() + 1);
    QVERIFY(QFontMetrics(bigger).height() > 14);
    QVERIFY2(QFontInfo(painter.GetFont()).family().contains(QStringLiteral("Noto Serif CJK")),
             qPrintable(QFontInfo(painter.GetFont()).family()));
    QCOMPARE(CEcgPainter::FormatZoomCaption(1.25f), QStringLiteral("心电图报告 - 125%"));
    QCOMPARE(CEcgPainter::FormatZoomCaption(0.5f), QStringLiteral("心电图报告 - 50%"));
    QCOMPARE(CEcgPainter::FormatZoomCaption(0.75f), QStringLiteral("心电图报告 - 75%"));
    QCOMPARE(settings.m_nGain, 50);
    QCOMPARE(settings.m_fZoom, 1.0f);
    QVERIFY(settings.m_bShowGrid);
    QVERIFY(!settings.m_bShowRMarks);
}

QTEST_MAIN(TestEcgPainter)
#include "tst_ecgpainter.moc"
