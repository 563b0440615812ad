// The four panes inside the real main frame, filled from a short and from a
// long recording; the frame is grabbed into VITREL_TEST_OUTPUT_DIR.
#include <QDockWidget>
#include <QLabel>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include "app/MainFrame.h"
#include "resources/Resource.h"
#include "app/VitrelDoc.h"
#include "display/VitrelView.h"
#include "panes/Panes.h"
#include "support/QtSupport.h"
#include "support/TimeZone.h"

class TestPaneScreens : public QObject {
    Q_OBJECT

    testsupport::ScopedTimeZone m_tz{"Asia/Shanghai"};
    QTemporaryDir m_dir;

    // Opens path in frame and waits until its analysis and pane refills are done.
    CVitrelDoc* OpenAndSettle(CMainFrame& frame, const QString& path)
    {
        CVitrelDoc* doc = frame.OpenDocumentFile(path);
        if (!doc)
            return nullptr;
        if (!QTest::qWaitFor([&] { return doc->IsStatisticsReady() && doc->GetView() && doc->GetView()->IsIdle(); }, 120000))
            return nullptr;
        QTest::qWait(200);
        return doc;
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(m_dir.isValid());
    }

    void shortRecording()
    {
        const QString path = testsupport::RunSynth({"short", "--start", "2010-11-08 09:12", "--seed", "4", "--pvc-rate", "0.1",
                                    m_dir.filePath("short01.ecg")});
        QVERIFY2(!path.isEmpty(), "vitrel-synth failed");
        CMainFrame frame;
        QVERIFY(frame.OnCreate());
        frame.resize(1280, 860);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        CVitrelDoc* doc = OpenAndSettle(frame, path);
        QVERIFY(doc);
        QCOMPARE(g_pActiveView, doc->GetView());
        QVERIFY(GetAnalyzeResultDlg()->GetFieldText(1012).endsWith(QStringLiteral(" bpm")));
        QCOMPARE(GetAnalyzeResultDlg()->GetFieldText(1014), QStringLiteral("20 秒"));
        QCOMPARE(GetHourlyRateDlg()->GetListCtrl()->rowCount(), 1);
        QCOMPARE(GetAnalyzeResultDlg()->parentWidget(), frame.GetPane(IDR_PANE_RESULT));
        QVERIFY(testsupport::SaveForInspection(&frame, "frame-short-recording.png"));

        // Closing the document empties the lists and resets the result pane.
        doc->OnCloseDocument();
        QTest::qWait(50);
        QCOMPARE(GetAnalyzeResultDlg()->GetFieldText(1012), QStringLiteral("-"));
        QCOMPARE(GetHourlyRateDlg()->GetListCtrl()->rowCount(), 0);
        QCOMPARE(GetAbnormalWaveDlg()->GetListCtrl()->rowCount(), 0);
    }

    void longRecording()
    {
        const QString path = testsupport::RunSynth({"long", "--start", "2010-11-08 14:30", "--hours", "3", "--seed", "7", "--pvc-rate", "0.002",
                                    m_dir.path()});
        QVERIFY2(!path.isEmpty(), "vitrel-synth failed");
        auto* frame = new CMainFrame;
        QVERIFY(frame->OnCreate());
        frame->resize(1280, 860);
        frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(frame));
        CVitrelDoc* doc = OpenAndSettle(*frame, path);
        QVERIFY(doc);
        QCOMPARE(GetAnalyzeResultDlg()->GetFieldText(1012), QStringLiteral("-"));
        QCOMPARE(GetHourlyRateDlg()->GetListCtrl()->rowCount(), 4);   // 14:30, 15, 16 and 17 o'clock
        QCOMPARE(GetHourlyRateDlg()->GetListCtrl()->item(0, 0)->text(), QStringLiteral("14:30-14:59"));
        QTableWidget* abnormal = GetAbnormalWaveDlg()->GetListCtrl();
        QVERIFY(abnormal->rowCount() > 0);
        QVERIFY(abnormal->item(0, 1)->text().startsWith(QStringLiteral("2010-11-08 1")));

        // Pointer over the trend chart for the read-out, and a row selected.
        CHeartRateTrendDlg* trend = GetHeartRateTrendDlg();
        const QRect plot = trend->GetChartRect();
        QTest::mouseMove(trend, plot.topLeft() + QPoint(plot.width() / 3, plot.height() / 2));
        abnormal->selectRow(std::min(2, abnormal->rowCount() - 1));
        QTest::qWait(100);
        QVERIFY(testsupport::SaveForInspection(frame, "frame-long-recording.png"));

        // The frame takes its panes along; the accessors then make panes of their own.
        QPointer<CHeartRateTrendDlg> owned = trend;
        delete frame;
        QVERIFY(owned.isNull());
        QVERIFY(GetHeartRateTrendDlg());
        QVERIFY(!GetHeartRateTrendDlg()->parent());
    }
};

QTEST_MAIN(TestPaneScreens)
#include "tst_panescreens.moc"
