// The Holter pages of a long recording's report: there with the option, absent
// without it, and carrying the analysis's own figures.
#include <QtTest>

#include <cstdlib>
#include <ctime>
#include <memory>

#include "figures/HolterSummary.h"
#include "figures/HolterText.h"
#include "report/ReportTestSupport.h"
#include "resources/QtResources.h"
#include "support/AnalysisViews.h"
#include "support/Programs.h"
#include "support/TempDir.h"

using namespace reporttest;

namespace {

// Whether a line of the page holds text (a font fallback splits mixed runs).
bool Drew(const CapturingEngine& e, const QString& text)
{
    for (const CapturingEngine::Text& t : e.Lines())
        if (t.text.contains(text))
            return true;
    return false;
}

int Letters(const CapturingEngine& e, char letter)
{
    int n = 0;
    for (const CapturingEngine::Text& t : e.texts)
        n += t.text == QString(QChar(letter));
    return n;
}

}  // namespace

class TestHolterPages : public QObject {
    Q_OBJECT

private:
    testsupport::TempDir m_dir;
    CEcgDocument m_doc;
    testsupport::NullAnalysisView m_view;

    // The engine of a device kept until the next capture (an engine cannot be copied).
    std::unique_ptr<CapturingDevice> m_pDevice;

    const CapturingEngine& Capture(int page, const ReportOptions& options)
    {
        m_pDevice = std::make_unique<CapturingDevice>();
        CapturingDevice& dev = *m_pDevice;
        CPrintInfo info = PageInfo(page, CEcgReportPrinter::GetPageCount(&m_doc, options));
        info.m_options = options;
        CapturePage(m_doc, dev, info);
        return dev.Engine();
    }

private slots:
    void initTestCase()
    {
        qputenv("TZ", "UTC");
        tzset();
        const std::string path = testsupport::SynthRecording(
            {"long", "--minutes", "150", "--seed", "7", "--pvc-rate", "0.02", "--svpb-rate", "0.01", "--vrun-rate",
             "0.003", "--af-per-hour", "1", "--pause-rate", "0.001", m_dir.Path("rec")});
        QVERIFY(!path.empty());
        m_doc.OpenFile(path);
        m_doc.StartAnalysis(&m_view);
        m_doc.WaitAnalysis();
        QVERIFY(m_doc.GetResults());
    }

    void pagesFollowTheOption()
    {
        const auto r = m_doc.GetResults();
        QVERIFY(r->ectopy.vBeats > 0 && r->ectopy.longestRun.beats > 0 && r->af.episodes > 0);
        const int specified = CEcgReportPrinter::GetPageCount(&m_doc);
        QVERIFY(specified > 1);

        // Off: the recorder's report, nothing past its pages and no class letters on its strips.
        QCOMPARE(CEcgReportPrinter::GetPageCount(&m_doc, ReportOptions{}), specified);
        QVERIFY(Capture(specified + 1, ReportOptions{}).LinesStartingWith(ToQString(Text::kHolterPageTitle)).empty());
        QCOMPARE(Letters(Capture(2, ReportOptions{}), 'V'), 0);

        // On: a summary page and a page of strips; the event strips carry the classes when asked.
        const ReportOptions on{true, true};
        QCOMPARE(CEcgReportPrinter::GetPageCount(&m_doc, on), specified + 2);
        {
            const CapturingEngine& e = Capture(2, on);
            QVERIFY(Letters(e, 'V') + Letters(e, 'S') > 0);
        }
        QCOMPARE(Letters(Capture(2, ReportOptions{true, false}), 'V'), 0);

        const CapturingEngine& summary = Capture(specified + 1, on);
        QVERIFY(summary.HasLine(FormatText(Text::kPageLabel, specified + 1, specified + 2)));
        for (const HolterFigureGroup& g : HolterSummaryFigures(&m_doc, *r)) {
            QVERIFY2(Drew(summary, g.title), qPrintable(g.title));
            for (const HolterFigure& f : g.figures) {
                QVERIFY2(Drew(summary, f.caption) && Drew(summary, f.value), qPrintable(f.caption + f.value));
                QVERIFY(!f.hasTime || Drew(summary, f.time));
            }
        }
        // The figures are the results', not only the pane's.
        QVERIFY(Drew(summary, FormatCount(r->beats.size())));
        QVERIFY(Drew(summary, FormatCount(r->ectopy.vBeats)));
        QVERIFY(Drew(summary, FormatCount(r->ectopy.sBeats)));
        QVERIFY(Drew(summary, FormatPercent(true, r->af.burdenPercent)));
        QVERIFY(Drew(summary, FormatMs(true, r->hrv.sdnn)));
        QVERIFY(Drew(summary, FormatMs(true, r->hrv.rmssd)));

        // Every hour record is a row, and the hours' ectopic beats add up to the totals.
        const std::vector<HourFigures> hours = HourlyFigures(&m_doc, *r);
        QCOMPARE(hours.size(), r->hours.size());
        uint32_t v = 0, s = 0;
        for (const HourFigures& h : hours) {
            QVERIFY2(Drew(summary, h.span), qPrintable(h.span));
            v += h.vBeats;
            s += h.sBeats;
        }
        QCOMPARE(v, r->ectopy.vBeats);
        QCOMPARE(s, r->ectopy.sBeats);

        // The strips: the longest run first, at its time, with its beats' letters.
        const CapturingEngine& strips = Capture(specified + 2, on);
        const QString longest = ToQString(Text::kHolterStripCaption)
                                    .arg(ToQString(Text::kLongestRun),
                                         ToQString(Text::kRunValue)
                                             .arg(EpisodeTypeName(r->ectopy.longestRun.type),
                                                  FormatCount(r->ectopy.longestRun.beats),
                                                  FormatBpm(r->ectopy.longestRun.rate)),
                                         FormatClockAt(&m_doc, r->ectopy.longestRun.first));
        QVERIFY(strips.HasLine(longest));
        QVERIFY(strips.LinesStartingWith(ToQString(Text::kFirstAfCaption)).size() == 1);
        const char runLetter = r->ectopy.longestRun.type == EpisodeType::VT ||
                                       r->ectopy.longestRun.type == EpisodeType::VRun ? 'V' : 'S';
        QVERIFY(Letters(strips, runLetter) >= int(r->ectopy.longestRun.beats));
    }
};

QTEST_MAIN(TestHolterPages)
#include "tst_holterpages.moc"
