// Standard recordings in the application: opened through the Open command,
// analysed and shown as long recordings, titled with their lead.
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "app/ChildFrame.h"
#include "app/MainFrame.h"
#include "resources/Resource.h"
#include "app/VitrelDoc.h"
#include "display/EcgPainter.h"
#include "display/VitrelView.h"
#include "formats/StandardFile.h"
#include "report/EcgReportPrinter.h"
#include "support/TestFrame.h"
#include "support/QtSupport.h"
#include "support/DocumentAccess.h"

using namespace testsupport;

class TestStandardWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void recordAndItsEdfCopyOpenAsLongRecordings();

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

QTEST_MAIN(TestStandardWindow)
#include "tst_standardwindow.moc"
