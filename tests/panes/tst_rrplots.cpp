// The RR plots: what the tachogram draws where, the click that moves the
// view, the histogram's bins and the Poincaré points.
#include <QSignalSpy>
#include <QtTest>

#include "analysis/EcgDocument.h"
#include "panes/RRPlots.h"
#include "support/DocumentAccess.h"
#include "support/QtSupport.h"

namespace {

constexpr uint32_t kHour = 3600 * 250;

// Beats 1000 ms apart over an hour, one of them premature (400 ms, then
// 1600 ms), a pause of 4 s, and an AF stretch at a quarter past.
std::shared_ptr<AnalysisResults> MakeResults(uint32_t premature, uint32_t pauseAt)
{
    auto r = std::make_shared<AnalysisResults>();
    r->completed = true;
    for (uint32_t s = 0; s < kHour; s += 250) {
        if (s == premature)
            r->beats.push_back(s - 150);
        else if (s == pauseAt || s == pauseAt + 250 || s == pauseAt + 500)
            continue;
        else
            r->beats.push_back(s);
    }
    r->classes.assign(r->beats.size(), BeatClass::N);
    r->episodes.push_back(Episode{EpisodeType::AF, kHour / 4, kHour / 4 + 250 * 600, 600, 60.0f});
    r->episodes.push_back(Episode{EpisodeType::AF, kHour * 6 / 10, kHour * 6 / 10 + 250 * 60, 60, 60.0f});
    return r;
}

bool IsPointColour(QRgb c) { return qRed(c) == 0 && qGreen(c) == 255 && qBlue(c) == 0; }

}  // namespace

class TestRRPlots : public QObject {
    Q_OBJECT

    CEcgDocument m_doc;
    const uint32_t m_premature = kHour / 2;
    const uint32_t m_pauseAt = 3 * kHour / 4;

private slots:
    void init() { DocAccess::SetResults(m_doc, MakeResults(m_premature, m_pauseAt)); }

    void tachogramDrawsEveryIntervalAndTheMarks()
    {
        CRRPlotsDlg pane;
        pane.SetDocument(&m_doc);
        pane.resize(600, 420);
        pane.show();
        pane.Refresh();
        pane.SetViewPosition(kHour / 8, 250 * 120);
        CRRTachogram* tach = pane.GetTachogram();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        QVERIFY(testsupport::SaveForInspection(&pane, "rr_plots.png"));
        const QImage image = tach->grab().toImage();
        const QRect plot = tach->GetPlotRect();
        const auto yOf = [&](int ms) { return plot.bottom() - ms * (plot.height() - 1) / 2000; };

        // A column of a thousand beats keeps its one short and its one long interval.
        QVERIFY(IsPointColour(image.pixel(tach->XOfSample(m_premature - 150), yOf(400))));
        QVERIFY(IsPointColour(image.pixel(tach->XOfSample(m_premature + 250), yOf(1600))));
        QVERIFY(!IsPointColour(image.pixel(tach->XOfSample(m_premature / 2), yOf(400))));
        QVERIFY(IsPointColour(image.pixel(tach->XOfSample(m_premature / 2), yOf(1000))));
        // The pause stands at the top edge, not beyond the plot.
        QVERIFY(IsPointColour(image.pixel(tach->XOfSample(m_pauseAt + 750), yOf(2000))));

        // AF is shaded; the same height outside it is not.
        const QRgb inside = image.pixel(tach->XOfSample(kHour / 4 + 250 * 300), yOf(1800));
        const QRgb outside = image.pixel(tach->XOfSample(kHour / 4 - 250 * 300), yOf(1800));
        QVERIFY(inside != outside);
        QVERIFY(qRed(inside) > qRed(outside));
        QCOMPARE(image.pixel(tach->XOfSample(kHour * 6 / 10 + 250 * 30), yOf(1800)), inside);
        QCOMPARE(image.pixel(tach->XOfSample(kHour * 55 / 100), yOf(1800)), outside);

        // The view's span is marked at both of its edges.
        const QRgb mark = image.pixel(tach->XOfSample(kHour / 8), yOf(1800));
        QCOMPARE(mark, qRgb(255, 255, 0));
        QCOMPARE(image.pixel(tach->XOfSample(kHour / 8 + 250 * 120), yOf(1800)), qRgb(255, 255, 0));
    }

    void tachogramClickMovesTheView()
    {
        CRRPlotsDlg pane;
        pane.SetDocument(&m_doc);
        pane.resize(600, 420);
        pane.show();
        pane.Refresh();
        CRRTachogram* tach = pane.GetTachogram();
        QSignalSpy spy(&pane, &CDialogEx::centerRequested);
        const QRect plot = tach->GetPlotRect();
        const uint64_t perColumn = tach->GetSpan() / uint64_t(plot.width()) + 1;
        for (uint32_t target : {0u, kHour / 3, kHour - 1}) {
            QTest::mouseClick(tach, Qt::LeftButton, {}, QPoint(tach->XOfSample(target), plot.center().y()));
            QCOMPARE(spy.count(), 1);
            const uint32_t sample = spy.takeFirst().at(0).value<uint32_t>();
            QVERIFY2(qAbs(qint64(sample) - qint64(target)) <= qint64(perColumn), qPrintable(QString::number(sample)));
            QCOMPARE(tach->XOfSample(sample), tach->XOfSample(target));
        }
        // Outside the plot (the axis labels) nothing moves.
        QTest::mouseClick(tach, Qt::LeftButton, {}, QPoint(plot.left() - 10, plot.center().y()));
        QCOMPARE(spy.count(), 0);

        // Without results the plots are empty and clicks do nothing.
        DocAccess::SetResults(m_doc, nullptr);
        pane.Refresh();
        QTest::mouseClick(tach, Qt::LeftButton, {}, plot.center());
        QCOMPARE(spy.count(), 0);
        QVERIFY(pane.GetHistogram()->GetBins().empty());
        QCOMPARE(pane.GetPoincare()->GetPointCount(), size_t(0));
    }

    void histogramAndPoincare()
    {
        CRRPlotsDlg pane;
        pane.SetDocument(&m_doc);
        pane.Refresh();
        const auto results = m_doc.GetResults();
        const std::vector<uint32_t>& bins = pane.GetHistogram()->GetBins();
        QCOMPARE(bins.size(), size_t(2000 / rrplot::kBinMs));
        uint64_t total = 0;
        for (uint32_t b : bins)
            total += b;
        QCOMPARE(total, uint64_t(results->beats.size() - 1));
        QCOMPARE(bins[400 / 8], 1u);
        QCOMPARE(bins[1600 / 8], 1u);
        QCOMPARE(bins.back(), 1u);   // the 4 s pause
        QCOMPARE(bins[1000 / 8], uint32_t(results->beats.size() - 4));
        QCOMPARE(pane.GetPoincare()->GetPointCount(), results->beats.size() - 2);

        // The premature beat's pair: 400 ms, then 1600 ms, not the other way round.
        pane.resize(600, 420);
        CPoincarePlot* poincare = pane.GetPoincare();
        const QImage image = poincare->grab().toImage();
        const QRect plot = poincare->GetPlotRect();
        const auto at = [&](int rr, int next) {
            return image.pixel(plot.left() + rr * (plot.width() - 1) / 2000,
                               plot.bottom() - next * (plot.height() - 1) / 2000);
        };
        QVERIFY(IsPointColour(at(400, 1600)));
        QVERIFY(IsPointColour(at(1000, 1000)));
        QVERIFY(!IsPointColour(at(1600, 400)));
    }
};

QTEST_MAIN(TestRRPlots)
#include "tst_rrplots.moc"
