// Standard recordings in the application: opened through the Open command,
// analysed and shown as long recordings, titled with their lead.
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "app/ChildFrame.h"
#include "app/MainFrame.h"
#include "panes/Panes.h"
#include "resources/Resource.h"
#include "app/VitrelDoc.h"
#include "display/EcgPainter.h"
#include "display/VitrelView.h"
#include "formats/StandardFile.h"
#include "report/EcgReportPrinter.h"
#include "support/TestFrame.h"
#include "support/QtSupport.h"
#include "support/DocumentAccess.h"
#include "support/Recordings.h"
#include "support/TimeZone.h"
#include "report/ReportTestSupport.h"
#include "panes/RRPlots.h"
#include <QMenu>
#include <QTableWidget>

using namespace testsupport;
using namespace reporttest;

class TestStandardWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void recordAndItsEdfCopyOpenAsLongRecordings();
    void unknownStartShowsElapsedTime();
    void everyLeadStackedCalibratedAndNamed();

private:
    QTemporaryDir m_dir;
    QTemporaryDir m_settings;
};

void TestStandardWindow::initTestCase()
{
    QVERIFY(m_dir.isValid());
    IsolateSettings(m_settings.path());
    RegisterStandardFormats();
}

void TestStandardWindow::recordAndItsEdfCopyOpenAsLongRecordings()
{
    const QString source = QStringLiteral(VITREL_DATA_DIR "/source/mitdb/");
    if (!QFile::exists(source + "100.hea"))
        QSKIP("no test data");
    for (const char* ext : {".hea", ".dat", ".atr"})
        QVERIFY(QFile::copy(source + "100" + ext, m_dir.filePath(QStringLiteral("100") + ext)));
    const QString hea = m_dir.filePath(QStringLiteral("100.hea"));
    const QString edf = m_dir.filePath(QStringLiteral("100.edf"));
    if (QProcess::execute(QStringLiteral("save2gdf"), {QStringLiteral("-f=EDF"), hea, edf}) != 0)
        QSKIP("save2gdf (biosig-tools) is not installed");

    CTestFrame frame;
    QVERIFY(frame.OnCreate());
    frame.resize(1200, 800);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    frame.m_chosen = {hea, edf};
    frame.OnCommand(ID_FILE_OPEN);
    QVERIFY2(frame.m_errors.isEmpty(), qPrintable(frame.m_errors.join('\n')));
    const QList<CVitrelDoc*> docs = frame.GetDocuments();
    QCOMPARE(docs.size(), 2);
    std::vector<uint32_t> beats[2];
    for (int i = 0; i < 2; ++i) {
        CVitrelDoc* doc = docs[i];
        QCOMPARE(doc->GetFileKind(), int(ECG_KIND_STANDARD));
        QCOMPARE(doc->GetSampleCount(), uint64_t(451389));
        QTRY_VERIFY_WITH_TIMEOUT(doc->IsStatisticsReady() && doc->GetView()->IsIdle(), 30000);
        doc->GetBeatsInRange(0, UINT32_MAX, beats[i]);
        // The long-recording paths: the event report and the per-minute trend.
        QCOMPARE(CEcgReportPrinter::GetPageCount(doc), int(1 + (doc->GetAbnormalCount() + 4) / 5));
        QVERIFY(!DocAccess::MinuteStats(*doc).empty());
        QCOMPARE(doc->GetView()->GetDisplaySettings().m_fZoom, 1.0f);
    }
    QVERIFY(beats[0].size() > 2200);
    // The precise detector, the default for standard recordings, may place
    // an R wave a sample apart on the copy's requantised values.
    QCOMPARE(beats[1].size(), beats[0].size());
    for (size_t i = 0; i < beats[0].size(); ++i)
        QVERIFY(std::abs(int64_t(beats[0][i]) - int64_t(beats[1][i])) <= 1);
    frame.UpdateCommandUI();
    QVERIFY(frame.GetAction(ID_FILE_PRINT)->isEnabled());

    // The lead shown is named in the titles.
    QCOMPARE(docs[0]->GetTitle(), QStringLiteral("100.hea — MLII"));
    QCOMPARE(docs[0]->GetFrame()->windowTitle(), QStringLiteral("100.hea — MLII"));
    QVERIFY(frame.windowTitle().endsWith(QStringLiteral(" - 100.edf — MLII")));
    // A WFDB export beside the record would replace the files it is read from.
    QVERIFY(!frame.ExportDocument(docs[0], m_dir.path(), CMainFrame::ExportKind::Wfdb));
    QCOMPARE(frame.m_errors.size(), 1);
    QVERIFY2(frame.m_errors[0].startsWith(QStringLiteral("不能导出到 ")), qPrintable(frame.m_errors[0]));
    QCOMPARE(QFileInfo(m_dir.filePath(QStringLiteral("100.dat"))).size(), QFileInfo(source + "100.dat").size());
}

void TestStandardWindow::unknownStartShowsElapsedTime()
{
    // A WFDB header without a base date: the file cannot tell when it began.
    const std::string dir = QFile::encodeName(m_dir.path()).toStdString();
    const std::string header = "nodate 1 250 30000\nnodate.dat 16 200 16 0 0 0 0 ECG\n";
    WriteFile(dir + "/nodate.hea", std::vector<uint8_t>(header.begin(), header.end()));
    WriteSamples(dir + "/nodate.dat", SpikeTrain(30000));
    const QString recorder = m_dir.filePath(QStringLiteral("10110814.30"));
    // Where 1970 began at 08:00, a start taken as 0 would show 08:00.
    ScopedTimeZone zone("Asia/Shanghai");
    WriteSamples(QFile::encodeName(recorder).toStdString(), SpikeTrain(30000));

    CTestFrame frame;
    QVERIFY(frame.OnCreate());
    frame.resize(1200, 800);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    CVitrelDoc* doc = frame.OpenDocumentFile(m_dir.filePath(QStringLiteral("nodate.hea")));
    QVERIFY2(doc, qPrintable(frame.m_errors.join('\n')));
    QCOMPARE(doc->GetFileKind(), int(ECG_KIND_STANDARD));
    QTRY_VERIFY_WITH_TIMEOUT(doc->IsStatisticsReady() && doc->GetView()->IsIdle(), 30000);
    // 5 s into the recording, in the abnormal list and the view's read-out.
    CAbnormalWaveDlg* list = frame.GetAbnormalPane();
    list->DeleteAllItems();
    list->AddAbnormalRow(5 * 250);
    QCOMPARE(list->GetListCtrl()->item(0, 1)->text(), QStringLiteral("00:00:05"));
    QCOMPARE(frame.GetRhythmPane()->GetListCtrl()->item(0, 0)->text(), QStringLiteral("00:00-00:01"));
    // The report's event captions.
    CapturingDevice dev;
    CapturePage(*doc, dev, PageInfo(1, 1));
    const auto captions = dev.Engine().LinesStartingWith("最小心率，发生时间：");
    QCOMPARE(int(captions.size()), 1);
    QVERIFY2(QRegularExpression(QStringLiteral("^最小心率，发生时间：00:0[01]:[0-5][0-9]$")).match(captions[0].text).hasMatch(),
             qPrintable(captions[0].text));
    QMouseEvent move(QEvent::MouseMove, QPointF(0, 100), QPointF(0, 100), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(doc->GetView(), &move);
    QVERIFY2(doc->GetView()->GetPainter()->GetAbsoluteTimeLabel().startsWith(QStringLiteral("绝对时间：00:00:")),
             qPrintable(doc->GetView()->GetPainter()->GetAbsoluteTimeLabel()));

    // The recorder's kinds keep their calendar times.
    CVitrelDoc* holter = frame.OpenDocumentFile(recorder);
    QVERIFY(holter);
    list->DeleteAllItems();
    list->AddAbnormalRow(5 * 250);
    QCOMPARE(list->GetListCtrl()->item(0, 1)->text(), QStringLiteral("2010-11-08 14:30:05"));
    frame.CloseAllDocuments();
    Settle();
}

QTEST_MAIN(TestStandardWindow)
#include "tst_standardwindow.moc"

void TestStandardWindow::everyLeadStackedCalibratedAndNamed()
{
    // Two leads in one file: spikes on the first, a flat line on the second.
    const std::string dir = QFile::encodeName(m_dir.path()).toStdString();
    const uint32_t count = 30000;
    const std::string header = "twolead 2 250 30000\ntwolead.dat 16 1010 16 0 0 0 0 MLII\n"
                               "twolead.dat 16 1010 16 0 0 0 0 V5\n";
    WriteFile(dir + "/twolead.hea", std::vector<uint8_t>(header.begin(), header.end()));
    const std::vector<int16_t> spikes = SpikeTrain(count);
    std::vector<int16_t> frames;
    for (uint32_t i = 0; i < count; ++i) {
        frames.push_back(spikes[i]);
        frames.push_back(0);
    }
    WriteSamples(dir + "/twolead.dat", frames);

    CTestFrame frame;
    QVERIFY(frame.OnCreate());
    frame.resize(1200, 800);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    CVitrelDoc* doc = frame.OpenDocumentFile(m_dir.filePath(QStringLiteral("twolead.hea")));
    QVERIFY2(doc, qPrintable(frame.m_errors.join('\n')));
    CVitrelView* view = doc->GetView();
    QTRY_VERIFY_WITH_TIMEOUT(doc->IsStatisticsReady() && view->IsIdle(), 30000);
    QCOMPARE(doc->GetLeadCount(), 2);
    QCOMPARE(QString::fromStdString(doc->GetLeadName(1)), QStringLiteral("V5"));

    // Each band: the 1 mV pulse 10 mm (50 px at zoom 1) tall at x = 25, the
    // trace's baseline in the band's middle, the name at the left.
    auto checkBands = [&](int expected) {
        const QImage image = view->grab(view->GetClientRect()).toImage();
        SaveForInspection(image, expected == 2 ? "two-leads.png" : "one-lead-hidden.png");
        const auto& bands = view->GetPainter()->GetLeadBands();
        QCOMPARE(int(bands.size()), expected);
        const int trace = CEcgPainter::TRACE_COLOR.rgb(), caption = CEcgPainter::CAPTION_COLOR.rgb();
        const int bh = (view->GetClientRect().height() - CEcgPainter::StatusBandHeight(doc) - CEcgPainter::LABEL_BAND) /
                       expected;
        for (const auto& [lead, top] : bands) {
            // At x = 25 only the pulse is drawn: its strokes 50 px apart, the
            // foot on the band's zero line, where the trace runs too.
            int lo = -1, hi = -1;
            for (int y = top; y < top + bh; ++y)
                if (image.pixel(25, y) == QRgb(trace)) {
                    lo = lo < 0 ? y : lo;
                    hi = y;
                }
            QCOMPARE(hi - lo, 50);
            for (int y = lo; y <= hi; ++y)
                QCOMPARE(image.pixel(25, y), QRgb(trace));
            QCOMPARE(image.pixel(20, lo), QRgb(trace));
            QVERIFY(hi > top + bh / 3 && hi < top + bh);
            bool named = false;
            for (int y = top + 3; y < top + 20 && !named; ++y)
                for (int x = 5; x < 40 && !named; ++x)
                    named = image.pixel(x, y) == QRgb(caption);
            QVERIFY2(named, qPrintable(QStringLiteral("lead %1 unnamed").arg(lead)));
        }
    };
    checkBands(2);
    view->SetLeadHidden(1, true);
    view->repaint();
    checkBands(1);
    // The analysed lead is never hidden.
    view->SetLeadHidden(0, true);
    view->repaint();
    QCOMPARE(int(view->GetPainter()->GetLeadBands().size()), 1);
    view->SetLeadHidden(0, false);
    view->SetLeadHidden(1, false);

    // The leads pop-up analyses the other lead: a flat line has no beats.
    const size_t spikeBeats = DocAccess::Beats(*doc).size();
    QVERIFY(spikeBeats > 100);
    frame.UpdateLeadMenu();
    auto* menu = frame.findChild<QMenu*>(QStringLiteral("IDR_LEAD_MENU"));
    QVERIFY(menu && menu->menuAction()->isEnabled());
    QCOMPARE(menu->actions().size(), 5);
    menu->actions()[4]->trigger();
    QCOMPARE(doc->GetAnalysedLead(), 1);
    // Too few beats on the flat lead for minute records: the run ends without them.
    QTRY_VERIFY_WITH_TIMEOUT(doc->IsDetectionDone() && !doc->IsAnalysisRunning() && view->IsIdle(), 30000);
    QCOMPARE(doc->GetLeadLabel(), QStringLiteral("V5"));
    QVERIFY(DocAccess::Beats(*doc).size() < spikeBeats / 10);
    QCOMPARE(doc->GetFrame()->windowTitle(), QStringLiteral("twolead.hea — V5"));
    view->repaint();
    checkBands(2);

    // The tachogram marks where the view is.
    view->CenterOnSample(20000);
    view->repaint();
    auto* plots = frame.findChild<CRRPlotsDlg*>();
    QVERIFY(plots);
    CRRTachogram* tachogram = plots->GetTachogram();
    QVERIFY(tachogram->HasViewPosition());
    QCOMPARE(int64_t(tachogram->GetViewFirst()), view->GetDisplaySettings().m_nViewPos);
}
