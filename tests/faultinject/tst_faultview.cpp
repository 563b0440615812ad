// The application over damaged files: a disk failing mid-analysis, a denied
// open, a recording that shrinks while it is shown, a disk that fills while
// a report is printed to a file. The cases that need the faultinject shim
// skip without it.
#include <QMessageBox>
#include <QPrinter>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <dlfcn.h>
#include <unistd.h>

#include "app/MainFrame.h"
#include "resources/Resource.h"
#include "app/VitrelDoc.h"
#include "display/EcgPainter.h"
#include "display/VitrelView.h"
#include "panes/Panes.h"
#include "app/PrintJob.h"
#include "support/TestFrame.h"
#include "support/QtSupport.h"

using namespace testsupport;

namespace {

bool ShimLoaded() { return ::dlsym(RTLD_DEFAULT, "vitrel_faultinject_active") != nullptr; }

class Fault {
public:
    Fault(const QString& match, const char* mode)
    {
        qputenv("VITREL_FAULT_PATH", match.toUtf8());
        qputenv("VITREL_FAULT_MODE", mode);
    }
    ~Fault()
    {
        qunsetenv("VITREL_FAULT_PATH");
        qunsetenv("VITREL_FAULT_MODE");
    }
};

QStringList ResultFields()
{
    QStringList texts;
    for (int id : CAnalyzeResultDlg::kFieldIds)
        texts << GetAnalyzeResultDlg()->GetFieldText(id);
    return texts;
}

}  // namespace

class TestFaultView : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        IsolateSettings(m_settings.path());
    }

    void readErrorMidAnalysis()
    {
        if (!ShimLoaded())
            QSKIP("needs the faultinject shim preloaded");
        const QString path = WriteSamples(m_dir.path(), QStringLiteral("11010108.00"), SpikeTrain(30 * 60 * 250, 190));
        CTestFrame frame;
        QVERIFY(frame.OnCreate());
        frame.show();
        Fault fault(QStringLiteral("11010108.00"), "eio=300000");
        CVitrelDoc* doc = frame.OpenDocumentFile(path);
        QVERIFY(doc);
        CVitrelView* view = doc->GetView();
        QTRY_VERIFY_WITH_TIMEOUT(!doc->IsAnalysisRunning() && view->IsIdle(), 30000);
        QVERIFY(!doc->IsDetectionDone());
        QVERIFY(!doc->IsStatisticsReady());
        QVERIFY(!view->IsProgressVisible());
        QVERIFY(!view->IsAnalysisBusy());
        QCOMPARE(ResultFields(), QStringList(12, QStringLiteral("-")));
        QCOMPARE(GetHourlyRateDlg()->GetListCtrl()->rowCount(), 0);
        QCOMPARE(GetAbnormalWaveDlg()->GetListCtrl()->rowCount(), 0);
        QVERIFY(frame.m_errors.isEmpty());
        // The strip's own reads fail as well now: painting shows no trace, no error.
        view->OnHScroll(CVitrelView::SB_THUMBTRACK, 200000);
        QVERIFY(!view->grab().isNull());
        frame.CloseAllDocuments();
        Settle();
    }

    void accessDenied()
    {
        if (!ShimLoaded())
            QSKIP("needs the faultinject shim preloaded");
        const QString path = WriteSamples(m_dir.path(), QStringLiteral("11010109.00"), SpikeTrain(25000));
        CTestFrame frame;
        QVERIFY(frame.OnCreate());
        Fault fault(QStringLiteral("11010109.00"), "eacces");
        QVERIFY(!frame.OpenDocumentFile(path));
        QCOMPARE(frame.m_errors, QStringList{QStringLiteral("对 %1 的访问被拒绝。").arg(path)});
        QVERIFY(frame.GetDocuments().isEmpty());
    }

    void shortReadsPaintTheSame()
    {
        if (!ShimLoaded())
            QSKIP("needs the faultinject shim preloaded");
        const QString path = WriteSamples(m_dir.path(), QStringLiteral("11010110.00"), SpikeTrain(25000, 170));
        QImage clean, damaged;
        for (QImage* out : {&clean, &damaged}) {
            std::unique_ptr<Fault> fault;
            if (out == &damaged)
                fault = std::make_unique<Fault>(QStringLiteral("11010110.00"), "short=3");
            CVitrelDoc doc;
            QVERIFY(doc.OnOpenDocument(path));
            CVitrelView view(&doc);
            view.resize(900, 400);
            view.OnHScroll(CVitrelView::SB_THUMBTRACK, 1234);
            *out = view.grab().toImage();
        }
        QCOMPARE(damaged, clean);
    }

    // Real truncation under a shown recording: the trace ends where the data
    // ends, the analysis ends shorter or not completed, nothing breaks.
    void fileShrinksWhileShown()
    {
        const QString path = WriteSamples(m_dir.path(), QStringLiteral("11010111.00"), SpikeTrain(60 * 60 * 250, 190));
        CTestFrame frame;
        QVERIFY(frame.OnCreate());
        frame.show();
        std::unique_ptr<Fault> slow;
        if (ShimLoaded())
            slow = std::make_unique<Fault>(QStringLiteral("11010111.00"), "slow=5000");
        CVitrelDoc* doc = frame.OpenDocumentFile(path);
        QVERIFY(doc);
        CVitrelView* view = doc->GetView();
        view->OnHScroll(CVitrelView::SB_THUMBTRACK, 400000);
        const QImage before = view->grab().toImage();
        QTest::qWait(30);
        QVERIFY(::truncate(path.toLocal8Bit().constData(), 2 * 300000) == 0);
        const QImage after = view->grab().toImage();
        QVERIFY(after != before);
        // Back into what is left, and zoomed: still drawn.
        view->OnHScroll(CVitrelView::SB_THUMBTRACK, 299000);
        view->OnCommand(ID_ZOOM_50);
        QVERIFY(!view->grab().isNull());
        QTRY_VERIFY_WITH_TIMEOUT(!doc->IsAnalysisRunning() && view->IsIdle(), 60000);
        QVERIFY(!view->IsProgressVisible());
        // Beats found before the cut stay; the length follows the file.
        QCOMPARE(doc->GetSampleCount(), uint64_t(300000));
        if (!doc->IsDetectionDone())
            QCOMPARE(GetHourlyRateDlg()->GetListCtrl()->rowCount(), 0);
        // Gone altogether: the open handle keeps reading what is left.
        QVERIFY(::unlink(path.toLocal8Bit().constData()) == 0);
        QVERIFY(!view->grab().isNull());
        frame.CloseAllDocuments();
        Settle();
    }

    // The disk fills while a report is printed to a PDF file: a message with
    // the path and the reason, and the older file stays as it was.
    void printToPdfFileOnAFullDisk()
    {
        if (!ShimLoaded())
            QSKIP("needs the faultinject shim preloaded");
        const QString path = WriteSamples(m_dir.path(), QStringLiteral("11010112.00"), SpikeTrain(25000));
        CVitrelDoc doc;
        QVERIFY(doc.OnOpenDocument(path));
        CVitrelView view(&doc);
        const QString folder = m_dir.filePath(QStringLiteral("printed"));
        QVERIFY(QDir().mkpath(folder));
        const QString out = folder + QStringLiteral("/report.pdf");
        {
            QFile old(out);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("an older report");
        }
        SharedPrinter()->setOutputFormat(QPrinter::PdfFormat);
        SharedPrinter()->setOutputFileName(out);
        Fault fault(folder, "enospc=20000");
        QString message;
        WhenShown<QMessageBox>([&](QMessageBox* box) {
            message = box->text();
            box->done(QMessageBox::Ok);
        });
        RunPrintJob(&view, PrintMode::Direct);
        QVERIFY2(message.contains(out) && message.contains(QStringLiteral("No space left on device")),
                 qPrintable(message));
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList{"report.pdf"});
        QFile old(out);
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("an older report"));
    }

private:
    QTemporaryDir m_dir;
    QTemporaryDir m_settings;
};

QTEST_MAIN(TestFaultView)
#include "tst_faultview.moc"
