// The Holter summary and the event list: the figures they show are the
// results given, and every item with a time asks the view to centre on it.
#include <QComboBox>
#include <QHeaderView>
#include <QSignalSpy>
#include <QTableView>
#include <QTreeWidget>
#include <QtTest>

#include "analysis/EcgDocument.h"
#include "panes/HolterPanes.h"
#include "resources/StringTable.h"
#include "support/DocumentAccess.h"
#include "support/QtSupport.h"
#include "support/TimeZone.h"

namespace {

constexpr uint32_t kMinute = 60 * 250;

Episode Ep(EpisodeType type, uint32_t first, uint32_t last, uint32_t beats, float rate)
{
    return Episode{type, first, last, beats, rate};
}

// A recording of 1001 beats at 75 bpm with a few events, given out of order.
std::shared_ptr<AnalysisResults> MakeResults()
{
    auto r = std::make_shared<AnalysisResults>();
    r->completed = true;
    for (uint32_t i = 0; i <= 1000; ++i)
        r->beats.push_back(1000 + i * 200);
    r->classes.assign(r->beats.size(), BeatClass::N);
    r->hours = {{14, 30, 14, 59, 74.6f, 52.4f, 98.6f, 0, 0}, {15, 0, 15, 10, 70.2f, 48.5f, 131.0f, 0, 0}};
    r->minRatePosition = kMinute * 40;   // 15:10:00 from 14:30
    r->maxRatePosition = kMinute + 250 * 5;
    r->episodes = {
        Ep(EpisodeType::VT, 3 * kMinute, 3 * kMinute + 600, 4, 125.0f),
        Ep(EpisodeType::IsolatedV, 2 * kMinute, 2 * kMinute, 1, 0.0f),
        Ep(EpisodeType::Pause, 5 * kMinute, 5 * kMinute + 800, 2, 18.75f),
        Ep(EpisodeType::AF, 10 * kMinute, 25 * kMinute, 1500, 96.0f),
        Ep(EpisodeType::IsolatedV, 4 * kMinute, 4 * kMinute, 1, 0.0f),
        Ep(EpisodeType::VT, 6 * kMinute, 6 * kMinute + 1500, 9, 110.4f),
    };
    r->ectopy.count[size_t(EpisodeType::IsolatedV)] = 2;
    r->ectopy.count[size_t(EpisodeType::VT)] = 2;
    r->ectopy.count[size_t(EpisodeType::Pause)] = 1;
    r->ectopy.vBeats = 15;
    r->ectopy.sBeats = 0;
    r->ectopy.longestRun = r->episodes[5];
    r->ectopy.fastestRun = r->episodes[0];
    r->ectopy.pauses = 1;
    r->ectopy.longestPause = r->episodes[2];
    r->af.burdenPercent = 12.5;
    r->af.episodes = 1;
    r->af.longest = r->episodes[3];
    r->hasHrv = true;
    r->hrv.nnCount = 990;
    r->hrv.successiveCount = 980;
    r->hrv.segmentCount = 1;   // SDANN needs two
    r->hrv.meanNN = 800.0;
    r->hrv.sdnn = 45.25;
    r->hrv.sdnnIndex = 40.0;
    r->hrv.rmssd = 22.75;
    r->hrv.pnn50 = 3.04;
    r->hrv.triangularIndex = 17.2;
    return r;
}

// A recording of the given kind that may or may not tell its start time.
class CClockFile : public CEcgFile {
public:
    CClockFile(int kind, bool startKnown) : CEcgFile("clock", NoOpen{}), m_kind(kind), m_known(startKnown) {}
    uint64_t GetSampleCount() override { return 250u * 3600u; }
    uint32_t ReadSamples(int16_t*, uint64_t, uint32_t) override { return 0; }
    bool ReadHeader(void*) override { return false; }
    int GetFileKind() override { return m_kind; }
    bool GetStartTime(CTime* out) override
    {
        if (m_known)
            *out = CTime(2010, 11, 8, 14, 30, 0);
        return m_known;
    }
    std::unique_ptr<CEcgFile> OpenReader() override { return nullptr; }

private:
    int m_kind;
    bool m_known;
};

QList<uint32_t> Requests(QSignalSpy& spy)
{
    QList<uint32_t> samples;
    for (const QList<QVariant>& args : spy)
        samples << args.at(0).value<uint32_t>();
    spy.clear();
    return samples;
}

}  // namespace

class TestHolterPanes : public QObject {
    Q_OBJECT

    testsupport::ScopedTimeZone m_tz{"Asia/Shanghai"};
    CEcgDocument m_doc;

    void SetStart(bool known)
    {
        DocAccess::SetStartTime(m_doc, known ? CTime(2010, 11, 8, 14, 30, 0) : CTime());
    }

    QStringList Texts(CHolterSummaryDlg& pane, const char* caption)
    {
        QTreeWidgetItem* item = pane.FindItem(QString::fromUtf8(caption));
        if (!item)
            return {};
        return {item->text(1), item->text(2)};
    }

    static QStringList Row(const QTableView* table, int row)
    {
        QStringList texts;
        for (int c = 0; c < table->model()->columnCount(); ++c)
            texts << table->model()->index(row, c).data().toString();
        return texts;
    }

    static void ClickRow(QTableView* table, int row)
    {
        const QRect rect = table->visualRect(table->model()->index(row, 1));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, rect.center());
    }

private slots:
    void init()
    {
        SetStart(true);
        DocAccess::SetResults(m_doc, MakeResults());
    }

    void summaryShowsTheResults()
    {
        CHolterSummaryDlg pane;
        pane.SetDocument(&m_doc);
        pane.Refresh();
        QCOMPARE(Texts(pane, Text::kBeatsAnalysed), (QStringList{"1001", ""}));
        QCOMPARE(Texts(pane, Text::kMeanRate), (QStringList{"75 bpm", ""}));
        // The lowest hour minimum and the highest hour maximum, at the document's positions.
        QCOMPARE(Texts(pane, Text::kMinRate), (QStringList{"48 bpm", "15:10:00"}));
        QCOMPARE(Texts(pane, Text::kMaxRate), (QStringList{"131 bpm", "14:31:05"}));
        QCOMPARE(Texts(pane, Text::kVBeats), (QStringList{"15", ""}));
        QCOMPARE(Texts(pane, "室性心动过速"), (QStringList{"2", "14:33:00"}));
        QCOMPARE(Texts(pane, "单发室早"), (QStringList{"2", "14:32:00"}));
        QCOMPARE(Texts(pane, "室上性心动过速"), (QStringList{"0", ""}));
        QCOMPARE(Texts(pane, Text::kLongestRun), (QStringList{"室性心动过速，9 次心搏，110 bpm", "14:36:00"}));
        QCOMPARE(Texts(pane, Text::kFastestRun), (QStringList{"室性心动过速，4 次心搏，125 bpm", "14:33:00"}));
        QCOMPARE(Texts(pane, Text::kPauseCount), (QStringList{"1", ""}));
        QCOMPARE(Texts(pane, Text::kLongestPause), (QStringList{"3.2 秒", "14:35:00"}));
        QCOMPARE(Texts(pane, Text::kAfBurden), (QStringList{"12.5%", ""}));
        QCOMPARE(Texts(pane, Text::kAfLongest), (QStringList{"00:15:00", "14:40:00"}));
        QCOMPARE(Texts(pane, Text::kHrvSdnn), (QStringList{"45.2 ms", ""}));
        QCOMPARE(Texts(pane, Text::kHrvSdann), (QStringList{"-", ""}));
        QCOMPARE(Texts(pane, Text::kHrvPnn50), (QStringList{"3.0%", ""}));
        QCOMPARE(Texts(pane, Text::kHrvTriangular), (QStringList{"17.2", ""}));
        pane.resize(360, 760);
        QVERIFY(testsupport::SaveForInspection(&pane, "holter_summary.png"));

        // A standard recording without a start time counts from its start;
        // the recorder's kinds keep their clock, from 1970 when they have no start.
        SetStart(false);
        DocAccess::SetFile(m_doc, std::make_unique<CClockFile>(ECG_KIND_STANDARD, false));
        pane.Refresh();
        QCOMPARE(Texts(pane, Text::kMinRate), (QStringList{"48 bpm", "00:40:00"}));
        CEventsDlg events;
        events.SetDocument(&m_doc);
        events.Refresh();
        QCOMPARE(events.GetTable()->model()->index(0, 2).data().toString(), QStringLiteral("00:02:00"));
        DocAccess::SetFile(m_doc, std::make_unique<CClockFile>(ECG_KIND_HOLTER, false));
        pane.Refresh();
        QCOMPARE(Texts(pane, Text::kMinRate), (QStringList{"48 bpm", "08:40:00"}));
        SetStart(true);
        DocAccess::SetFile(m_doc, std::make_unique<CClockFile>(ECG_KIND_STANDARD, true));
        pane.Refresh();
        QCOMPARE(Texts(pane, Text::kMinRate), (QStringList{"48 bpm", "15:10:00"}));
        DocAccess::SetFile(m_doc, nullptr);

        // Without results (or without HRV) nothing stale stays.
        auto noHrv = MakeResults();
        noHrv->hasHrv = false;
        DocAccess::SetResults(m_doc, noHrv);
        pane.Refresh();
        QCOMPARE(Texts(pane, Text::kHrvSdnn), (QStringList{"-", ""}));
        DocAccess::SetResults(m_doc, nullptr);
        pane.Refresh();
        QCOMPARE(pane.GetTree()->topLevelItemCount(), 0);
        pane.SetDocument(nullptr);
        pane.Refresh();
        QCOMPARE(pane.GetTree()->topLevelItemCount(), 0);
    }

    void summaryItemsCentreTheirTime()
    {
        CHolterSummaryDlg pane;
        pane.SetDocument(&m_doc);
        pane.resize(360, 760);
        pane.show();
        pane.Refresh();
        QSignalSpy spy(&pane, &CDialogEx::centerRequested);
        QTreeWidget* tree = pane.GetTree();
        const auto click = [&](const char* caption) {
            QTreeWidgetItem* item = pane.FindItem(QString::fromUtf8(caption));
            QVERIFY(item);
            tree->scrollToItem(item);
            QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(item).center());
        };
        click(Text::kMinRate);
        click(Text::kMaxRate);
        click("室性心动过速");
        click(Text::kLongestPause);
        click(Text::kAfLongest);
        click(Text::kBeatsAnalysed);   // no time: no request
        QCOMPARE(Requests(spy), (QList<uint32_t>{40 * kMinute, kMinute + 1250, 3 * kMinute, 5 * kMinute, 10 * kMinute}));
    }

    void eventsListInTimeOrder()
    {
        CEventsDlg pane;
        pane.SetDocument(&m_doc);
        pane.Refresh();
        QTableView* table = pane.GetTable();
        QCOMPARE(pane.GetRowCount(), 6);
        QCOMPARE(Row(table, 0), (QStringList{"1", "单发室早", "14:32:00", "0.0 秒", "1", "-"}));
        QCOMPARE(Row(table, 1), (QStringList{"2", "室性心动过速", "14:33:00", "2.4 秒", "4", "125 bpm"}));
        QCOMPARE(Row(table, 5), (QStringList{"6", "心房颤动", "14:40:00", "00:15:00", "1500", "96 bpm"}));
        for (int i = 1; i < pane.GetRowCount(); ++i)
            QVERIFY(pane.GetRowEpisode(i - 1)->first <= pane.GetRowEpisode(i)->first);

        // The filter offers every type present, in the types' order.
        QComboBox* filter = pane.GetFilter();
        QStringList types;
        for (int i = 0; i < filter->count(); ++i)
            types << filter->itemText(i);
        QCOMPARE(types, (QStringList{"全部", "单发室早", "室性心动过速", "长间歇", "心房颤动"}));
        filter->setCurrentIndex(2);
        QCOMPARE(pane.GetRowCount(), 2);
        QCOMPARE(Row(table, 1), (QStringList{"2", "室性心动过速", "14:36:00", "6.0 秒", "9", "110 bpm"}));
        pane.resize(480, 240);
        QVERIFY(testsupport::SaveForInspection(&pane, "holter_events.png"));

        // A new run keeps the chosen type while it is still there.
        pane.Refresh();
        QCOMPARE(filter->currentText(), QStringLiteral("室性心动过速"));
        QCOMPARE(pane.GetRowCount(), 2);
        DocAccess::SetResults(m_doc, nullptr);
        pane.Refresh();
        QCOMPARE(pane.GetRowCount(), 0);
        QCOMPARE(filter->count(), 1);
        pane.NextEvent();   // nothing to go to
    }

    void eventsCentreAndStep()
    {
        CEventsDlg pane;
        pane.SetDocument(&m_doc);
        pane.resize(480, 300);
        pane.show();
        pane.Refresh();
        QSignalSpy spy(&pane, &CDialogEx::centerRequested);
        QTableView* table = pane.GetTable();

        ClickRow(table, 2);
        ClickRow(table, 2);   // again: the view may have moved away since
        QCOMPARE(Requests(spy), (QList<uint32_t>{4 * kMinute, 4 * kMinute}));

        pane.NextEvent();
        pane.NextEvent();
        pane.PreviousEvent();
        QCOMPARE(Requests(spy), (QList<uint32_t>{5 * kMinute, 6 * kMinute, 5 * kMinute}));
        QCOMPARE(table->currentIndex().row(), 3);

        // Within a type; the ends stay where they are.
        pane.GetFilter()->setCurrentIndex(pane.GetFilter()->findText(QStringLiteral("单发室早")));
        spy.clear();
        pane.NextEvent();
        pane.NextEvent();
        pane.NextEvent();
        pane.PreviousEvent();
        pane.PreviousEvent();
        QCOMPARE(Requests(spy), (QList<uint32_t>{2 * kMinute, 4 * kMinute, 2 * kMinute}));
        // From no row, the previous event is the last one.
        pane.GetFilter()->setCurrentIndex(0);
        pane.PreviousEvent();
        QCOMPARE(Requests(spy), (QList<uint32_t>{10 * kMinute}));
    }

    void eventsOfADay()
    {
        auto r = MakeResults();
        r->episodes.clear();
        for (uint32_t i = 0; i < 100000; ++i)
            r->episodes.push_back(Ep(i % 7 == 0 ? EpisodeType::VCouplet : EpisodeType::IsolatedV, 1000 + i * 200,
                                     1000 + i * 200 + (i % 7 == 0 ? 150 : 0), i % 7 == 0 ? 2 : 1, 0.0f));
        DocAccess::SetResults(m_doc, r);
        CEventsDlg pane;
        pane.SetDocument(&m_doc);
        pane.resize(480, 300);
        pane.show();
        pane.Refresh();
        QCOMPARE(pane.GetRowCount(), 100000);
        pane.GetFilter()->setCurrentIndex(pane.GetFilter()->findText(QStringLiteral("成对室早")));
        QCOMPARE(pane.GetRowCount(), 14286);
        QSignalSpy spy(&pane, &CDialogEx::centerRequested);
        pane.PreviousEvent();
        QCOMPARE(Requests(spy), (QList<uint32_t>{1000 + 99995 * 200}));
        QCOMPARE(Row(pane.GetTable(), 14285).at(0), QStringLiteral("14286"));
    }
};

QTEST_MAIN(TestHolterPanes)
#include "tst_holterpanes.moc"
