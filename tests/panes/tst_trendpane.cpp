// The heart-rate trend chart: drawing rules and the mapping of clicks to samples.
#include <QPainter>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "analysis/EcgDocument.h"
#include "panes/Panes.h"
#include "support/Recordings.h"
#include "support/TimeZone.h"
#include "resources/QtResources.h"
#include "support/DocumentAccess.h"

namespace {
const QRgb kBackground = qRgb(0, 50, 50);

bool IsGreenish(QRgb c) { return qGreen(c) > 128 && qRed(c) < 100 && qBlue(c) < 100; }
bool IsYellowish(QRgb c) { return qRed(c) > 128 && qGreen(c) > 128 && qBlue(c) < 100; }
bool IsCyanish(QRgb c) { return qRed(c) < 100 && qGreen(c) > 128 && qBlue(c) > 128; }
bool IsInk(QRgb c) { return (c & 0xFFFFFF) != (kBackground & 0xFFFFFF); }

int CountIf(const QImage& img, const QRect& r, bool (*pred)(QRgb))
{
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (img.rect().contains(x, y) && pred(img.pixel(x, y)))
                ++n;
    return n;
}
}  // namespace

class TestTrendPane : public QObject {
    Q_OBJECT

    testsupport::ScopedTimeZone m_tz{"Asia/Shanghai"};
    QTemporaryDir m_dir;
    CEcgDocument m_doc;
    CHeartRateTrendDlg* m_pane = nullptr;
    std::unique_ptr<QSignalSpy> m_requests;

    void SetMinutes(std::initializer_list<float> avgRates, CEcgDocument* doc = nullptr)
    {
        doc = doc ? doc : &m_doc;
        DocAccess::MinuteStats(*doc).clear();
        int i = 0;
        for (float r : avgRates)
            DocAccess::MinuteStats(*doc).push_back(std::make_unique<MinuteRateStats>(MinuteRateStats{i++, r, r - 10, r + 10, 0, 0}));
        DocAccess::SetStatisticsReady(*doc, true);
    }
    QImage Render(CHeartRateTrendDlg& pane, QSize size)
    {
        pane.resize(size);
        QImage img(size, QImage::Format_RGB32);
        img.fill(Qt::white);
        QPainter p(&img);
        pane.DrawChart(p, QRect(QPoint(0, 0), size));
        return img;
    }
    // The sample of the last request to centre the view, or -1 when there was none.
    int64_t LastRequest()
    {
        const int64_t sample = m_requests->isEmpty() ? int64_t(-1) : int64_t(m_requests->last().at(0).value<uint32_t>());
        m_requests->clear();
        return sample;
    }
    QPoint PlotPoint(int dx, int dy) const { return m_pane->GetChartRect().topLeft() + QPoint(dx, dy); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        const QString path = m_dir.filePath("10110814.30");
        QVERIFY(!testsupport::WriteSparseFile(path.toStdString(), 1200000 * 2).empty());
        m_doc.OpenFile(path.toStdString());

        m_pane = new CHeartRateTrendDlg;
        m_requests = std::make_unique<QSignalSpy>(m_pane, &CDialogEx::centerRequested);
        m_pane->resize(600, 222);
        m_pane->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_pane));
    }
    void cleanupTestCase()
    {
        m_requests.reset();
        delete m_pane;
    }
    void init()
    {
        m_pane->SetDocument(&m_doc);
        m_requests->clear();
    }

    void gridLabelsThinOutBelowTwelvePixels()
    {
        CHeartRateTrendDlg pane;
        for (int height : {222, 272}) {   // plot heights 142 (step 8.875) and 192 (step 12)
            const QImage img = Render(pane, QSize(600, height));
            QCOMPARE(pane.GetChartRect().height(), height - 80);
            const double s = (height - 80) / 16.0;
            for (int i = 0; i <= 16; ++i) {
                const int top = int(50 + i * s - 10), bottom = int(50 + i * s + 10);
                const int centre = (top + bottom) / 2;
                const int ink = CountIf(img, QRect(5, centre - 2, 29, 5), IsInk);
                const bool labelled = height == 272 || i % 2 == 0;
                QVERIFY2(labelled == (ink > 0), qPrintable(QStringLiteral("height %1, line %2, ink %3").arg(height).arg(i).arg(ink)));
            }
        }
    }

    void seriesAreNotClippedToThePlot()
    {
        CHeartRateTrendDlg pane;
        pane.SetDocument(&m_doc);
        SetMinutes({170.0f, 0.0f});
        const QImage img = Render(pane, QSize(600, 222));
        const QRect plot = pane.GetChartRect();
        // 170 bpm: y = trunc(192 - 170 * 8.875 / 10) = 41, above the plot's top at 50.
        QVERIFY(CountIf(img, QRect(plot.left() + 1, 38, 5, plot.top() - 38), IsGreenish) > 0);
        // Minimum and maximum series start switched off.
        QCOMPARE(CountIf(img, QRect(0, 0, plot.right(), img.height()), IsYellowish), 0);
    }

    void legendBoxesToggleSeries()
    {
        SetMinutes({60.0f, 80.0f, 100.0f, 90.0f});
        QImage img = m_pane->grab().toImage();
        const QRect avgBox = m_pane->GetLegendBox(0), minBox = m_pane->GetLegendBox(1);
        QVERIFY(m_pane->IsSeriesShown(0) && !m_pane->IsSeriesShown(1) && !m_pane->IsSeriesShown(2));
        QCOMPARE(img.pixel(avgBox.topLeft() + QPoint(1, 1)), qRgb(0, 255, 0));          // no cross
        QCOMPARE(img.pixel(minBox.topLeft() + QPoint(1, 1)), kBackground);              // cross
        QCOMPARE(img.pixel(minBox.topLeft() + QPoint(6, 6)), kBackground);
        QCOMPARE(img.pixel(minBox.topLeft() + QPoint(10, 1)), kBackground);             // other diagonal
        QCOMPARE(img.pixel(minBox.topLeft() + QPoint(11, 11)), qRgb(255, 255, 0));      // end points left out
        const QRect plot = m_pane->GetChartRect().adjusted(1, 1, -1, -1);
        QCOMPARE(CountIf(img, plot, IsYellowish), 0);

        QTest::mouseClick(m_pane, Qt::LeftButton, {}, minBox.center());
        QVERIFY(m_pane->IsSeriesShown(1));
        img = m_pane->grab().toImage();
        QCOMPARE(img.pixel(minBox.topLeft() + QPoint(1, 1)), qRgb(255, 255, 0));
        QVERIFY(CountIf(img, plot, IsYellowish) > 0);

        QTest::mouseClick(m_pane, Qt::LeftButton, {}, avgBox.center());
        QTest::mouseClick(m_pane, Qt::LeftButton, {}, minBox.center());
        QVERIFY(!m_pane->IsSeriesShown(0) && !m_pane->IsSeriesShown(1));
        img = m_pane->grab().toImage();
        QCOMPARE(img.pixel(avgBox.topLeft() + QPoint(1, 1)), kBackground);
        QCOMPARE(CountIf(img, plot, IsGreenish), 0);
        QTest::mouseClick(m_pane, Qt::LeftButton, {}, avgBox.center());
        QVERIFY(m_pane->IsSeriesShown(0));
    }

    void clicksMoveTheViewToTheirMinute()
    {
        SetMinutes({70, 71, 72, 73, 74, 75, 76, 77, 78, 79});   // ten minutes
        const QRect plot = m_pane->GetChartRect();
        QTest::mouseClick(m_pane, Qt::LeftButton, {}, PlotPoint(0, 10));
        QCOMPARE(LastRequest(), int64_t(0));

        // Half-way: minute 5, 300 s, sample 75000.
        QTest::mouseClick(m_pane, Qt::LeftButton, {}, PlotPoint(plot.width() / 2, 10));
        QCOMPARE(LastRequest(), int64_t(75000));
        QVERIFY(!m_pane->IsTracking());

        // No minute records: every click lands on sample 0.
        SetMinutes({});
        QTest::mouseClick(m_pane, Qt::LeftButton, {}, PlotPoint(plot.width() - 3, 20));
        QCOMPARE(LastRequest(), int64_t(0));

        // Statistics not ready: clicks do nothing.
        SetMinutes({70, 71});
        DocAccess::SetStatisticsReady(m_doc, false);
        QTest::mouseClick(m_pane, Qt::LeftButton, {}, PlotPoint(0, 10));
        QCOMPARE(LastRequest(), int64_t(-1));
        DocAccess::SetStatisticsReady(m_doc, true);
    }

    void dragFromOutsideThePlotIsClamped()
    {
        SetMinutes({70, 71, 72, 73, 74, 75, 76, 77, 78, 79});
        const QRect plot = m_pane->GetChartRect();
        // Press in the left margin: tracking starts, the view does not move yet.
        QTest::mousePress(m_pane, Qt::LeftButton, {}, QPoint(5, plot.top() + 10));
        QVERIFY(m_pane->IsTracking());
        QCOMPARE(LastRequest(), int64_t(-1));
        // Left of the plot: clamped to its left edge, sample 0 (not a wrapped huge index).
        QTest::mouseMove(m_pane, QPoint(1, plot.top() + 10));
        QCOMPARE(LastRequest(), int64_t(0));
        // Far right, over the legend: the last minute, not past the recording's end.
        QTest::mouseMove(m_pane, QPoint(m_pane->width() - 3, plot.top() + 10));
        const int64_t last = LastRequest();
        QVERIFY2(last > 9 * 60 * 250 && last < 10 * 60 * 250, qPrintable(QString::number(last)));
        QTest::mouseRelease(m_pane, Qt::LeftButton, {}, QPoint(m_pane->width() - 3, plot.top() + 10));
        QVERIFY(!m_pane->IsTracking());
    }

    void pressInsideConfinesThePointer()
    {
        SetMinutes({70, 71, 72, 73});
        const QRect plot = m_pane->GetChartRect();
        QTest::mousePress(m_pane, Qt::LeftButton, {}, PlotPoint(20, 20));
        QTest::mouseMove(m_pane, QPoint(plot.right() + 60, plot.bottom() + 20));
        QVERIFY(m_pane->IsPointerInChart());
        const QPoint cursor = m_pane->mapFromGlobal(QCursor::pos());
        QVERIFY2(plot.contains(cursor), qPrintable(QStringLiteral("%1,%2").arg(cursor.x()).arg(cursor.y())));
        QTest::mouseRelease(m_pane, Qt::LeftButton, {}, cursor);
        // Released: the pointer may leave again.
        QTest::mouseMove(m_pane, QPoint(plot.right() + 60, plot.bottom() + 20));
        QVERIFY(!m_pane->IsPointerInChart());
        QCOMPARE(m_pane->cursor().shape(), Qt::ArrowCursor);
        QTest::mouseMove(m_pane, PlotPoint(5, 5));
        QCOMPARE(m_pane->cursor().shape(), Qt::BlankCursor);
    }

    void readOutForLongRecordingsOnly()
    {
        // One minute record: no series, but the read-out shows it anywhere in the plot.
        SetMinutes({72});
        const QRect plot = m_pane->GetChartRect();
        QTest::mouseMove(m_pane, PlotPoint(plot.width() / 2, 30));
        QImage img = m_pane->grab().toImage();
        const int x0 = plot.left() + (plot.width() - 300) / 2;
        const QRect readOut(x0, plot.top() - 20, 300, 15);
        const QRect timeLabel(plot.left() + plot.width() / 2 - 30, plot.bottom() + 6, 60, 15);
        QVERIFY(CountIf(img, readOut, IsGreenish) > 0);
        QVERIFY(CountIf(img, timeLabel, IsCyanish) > 0);
        QCOMPARE(CountIf(img, plot.adjusted(1, 1, -1, -1), IsGreenish), 0);

        // The read-out names the minute under the pointer: its clock time
        // below the plot, its three rates above it, each in its series colour.
        SetMinutes({72, 81});
        QTest::mouseMove(m_pane, PlotPoint(plot.width() * 3 / 4, 30));
        const QPoint at = PlotPoint(plot.width() * 3 / 4, 30);
        const QImage drawn = Render(*m_pane, m_pane->size());
        QImage want = drawn;
        const int L = plot.left(), T = plot.top(), B = plot.top() + plot.height(), w = plot.width();
        QCOMPARE(x0, L + (w - 300) / 2);
        {
            QPainter p(&want);
            p.setFont(CellHeightFont(Text::kFaceSong, 12));
            const QRect label(at.x() - 30, B + 5, 60, 15);
            p.fillRect(label, kBackground);
            p.setPen(QColor(0, 255, 255));
            p.drawText(label, Qt::AlignHCenter | Qt::AlignTop, QStringLiteral("14:31"));
            const QColor colours[3] = {QColor(0, 255, 0), QColor(255, 255, 0), QColor(255, 0, 0)};
            const QString texts[3] = {QStringLiteral("平均心率: 81"), QStringLiteral("最小心率: 71"),
                                      QStringLiteral("最大心率: 91")};
            for (int k = 0; k < 3; ++k) {
                const QRect box(x0 + 100 * k, T - 20, 100, 15);
                p.fillRect(box, kBackground);
                p.setPen(colours[k]);
                p.drawText(box, Qt::AlignCenter | Qt::TextSingleLine, texts[k]);
            }
        }
        QCOMPARE(drawn, want);

        // A short recording: series but no time label and no read-out.
        const QString path = m_dir.filePath("short.dat");
        QVERIFY(!testsupport::WriteShortRecording(path.toStdString(), testsupport::ShortHeader()).empty());
        CEcgDocument shortDoc;
        shortDoc.OpenFile(path.toStdString());
        SetMinutes({72, 75}, &shortDoc);
        m_pane->SetDocument(&shortDoc);
        QTest::mouseMove(m_pane, PlotPoint(plot.width() / 2 + 1, 30));
        img = m_pane->grab().toImage();
        QCOMPARE(CountIf(img, readOut, IsGreenish), 0);
        QCOMPARE(CountIf(img, timeLabel, IsCyanish), 0);
        QVERIFY(CountIf(img, plot.adjusted(1, 1, -1, -1), IsGreenish) > 0);
        m_pane->SetDocument(&m_doc);
    }

    void noDocumentDrawsOnlyTheFrame()
    {
        m_pane->SetDocument(nullptr);
        QTest::mouseMove(m_pane, PlotPoint(40, 40));
        QTest::mouseClick(m_pane, Qt::LeftButton, {}, PlotPoint(40, 40));
        QCOMPARE(LastRequest(), int64_t(-1));
        const QImage img = m_pane->grab().toImage();
        const QRect plot = m_pane->GetChartRect();
        QCOMPARE(CountIf(img, plot.adjusted(1, 1, -1, -1), IsGreenish), 0);
        // The crosshair is still drawn.
        QCOMPARE(img.pixel(plot.left() + 40, plot.top() + 2), qRgb(0, 90, 90));
    }

};

QTEST_MAIN(TestTrendPane)
#include "tst_trendpane.moc"
