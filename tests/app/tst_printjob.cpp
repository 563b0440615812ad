// The print loop around a real view: direct print to a PDF printer, the print
// dialog and the preview, with the view's printing flag and page range.
#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QRadioButton>
#include <QSpinBox>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <ctime>
#include <functional>

#include "app/PrintJob.h"
#include "app/VitrelDoc.h"
#include "display/EcgPainter.h"
#include "display/VitrelView.h"
#include "support/AnalysisViews.h"
#include "support/DocumentAccess.h"
#include "support/QtSupport.h"
#include "report/ReportTestSupport.h"
#include "support/TestFrame.h"

using namespace reporttest;
using testsupport::WhenShown;

namespace {

int CountPdfPages(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    static const QRegularExpression re(QStringLiteral("/Type\\s*/Page[^s]"));
    return static_cast<int>(QString::fromLatin1(f.readAll()).count(re));
}

}  // namespace

class TestPrintJob : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    CVitrelDoc* m_doc = nullptr;
    CVitrelView* m_view = nullptr;

    void UsePdfPrinter(const QString& path)
    {
        QPrinter* printer = SharedPrinter();
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(path);
        printer->setPageSize(QPageSize(QPageSize::A4));
        printer->setFullPage(false);
        printer->setPageMargins(QMarginsF(10, 10, 10, 10), QPageLayout::Millimeter);
    }

private slots:
    void initTestCase()
    {
        qputenv("TZ", "UTC");
        tzset();
        QVERIFY(m_dir.isValid());
        std::vector<int16_t> samples(30000, 0);
        const QString path = m_dir.filePath(QStringLiteral("10110814.30"));
        QVERIFY(WriteLongRecording(path, samples));
        m_doc = new CVitrelDoc;
        QVERIFY(m_doc->OnOpenDocument(path));
        // Eleven abnormal beats: four pages.
        for (uint32_t i = 0; i < 11; ++i)
            DocAccess::AbnormalBeats(*m_doc).push_back(1000 + 2000 * i);
        DocAccess::SetDetectionDone(*m_doc, true);
        m_view = new CVitrelView(m_doc);
        m_view->resize(800, 300);
    }
    void cleanupTestCase()
    {
        delete m_view;
        delete m_doc;
    }

    void directPrintToPdf()
    {
        const QString out = m_dir.filePath(QStringLiteral("direct.pdf"));
        UsePdfPrinter(out);
        RunPrintJob(m_view, PrintMode::Direct);
        QVERIFY(!m_view->m_bPrinting);
        QCOMPARE(CountPdfPages(out), 4);
        // The shared printer gets its own margins back after the PDF job.
        QCOMPARE(SharedPrinter()->pageLayout().margins(QPageLayout::Millimeter), QMarginsF(10, 10, 10, 10));
        QVERIFY(!SharedPrinter()->fullPage());
    }

    // Printing to a PDF file gives back every text drawn, for both report kinds.
    void printToPdfFileIsSearchable()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
            QSKIP("pdftotext not installed");
        RecordingHeader h = MakeHeader();
        PutU16(h, 14, 725);
        PutU16(h, 18, 190);
        PutU16(h, 20, 1212);
        SetBeats(h, {125, 375, 625, 875});
        const QString shortPath = m_dir.filePath(QStringLiteral("searchable.ecg"));
        QVERIFY(WriteShortRecording(shortPath, h, std::vector<int16_t>(SHORT_SAMPLE_COUNT, 0)));
        CVitrelDoc shortDoc;
        QVERIFY(shortDoc.OnOpenDocument(shortPath));
        CVitrelView shortView(&shortDoc);
        for (CVitrelView* view : {&shortView, m_view}) {
            CEcgDocument* doc = view->GetDocument();
            const QString out = m_dir.filePath(QStringLiteral("searchable.pdf"));
            UsePdfPrinter(out);
            RunPrintJob(view, PrintMode::Direct);
            const int pages = view == m_view ? 4 : 1;
            QCOMPARE(CountPdfPages(out), pages);
            for (int page = 1; page <= pages; ++page) {
                const QString text = PdfPageText(out, page);
                QVERIFY(!text.isEmpty());
                const QStringList missing = TextMissingFromPdf(*doc, page, pages, text);
                QVERIFY2(missing.isEmpty(), qPrintable(QStringLiteral("%1 page %2 lacks %3 in:\n%4")
                                                           .arg(QString::fromStdString(doc->GetFilePath())).arg(page)
                                                           .arg(missing.join(" | "), text)));
            }
        }
    }

    // A PDF file named like an open recording is refused; the recording stays.
    void printToPdfFileNeverOverARecording()
    {
        QFile rec(m_doc->GetPathName());
        QVERIFY(rec.open(QIODevice::ReadOnly));
        const QByteArray before = rec.readAll();
        rec.close();
        const QString alias = m_dir.filePath(QStringLiteral("alias.pdf"));
        QVERIFY(QFile::link(m_doc->GetPathName(), alias));
        for (const QString& out : {m_doc->GetPathName(), alias}) {
            UsePdfPrinter(out);
            QString message;
            WhenShown<QMessageBox>([&](QMessageBox* box) {
                message = box->text();
                box->done(QMessageBox::Ok);
            });
            RunPrintJob(m_view, PrintMode::Direct);
            QVERIFY2(message.contains(out), qPrintable(message));
            QVERIFY(!m_view->m_bPrinting);
            QVERIFY(rec.open(QIODevice::ReadOnly));
            QCOMPARE(rec.readAll(), before);
            rec.close();
        }
    }

    void dialogPrintsEveryPage()
    {
        const QString out = m_dir.filePath(QStringLiteral("dialog.pdf"));
        UsePdfPrinter(out);
        bool seen = false;
        int minPage = 0, maxPage = 0;
        WhenShown<QPrintDialog>([&](QPrintDialog* dlg) {
            seen = true;
            minPage = dlg->minPage();
            maxPage = dlg->maxPage();
            dlg->accept();
        });
        RunPrintJob(m_view, PrintMode::Dialog);
        QVERIFY(seen);
        QCOMPARE(minPage, 1);
        QCOMPARE(maxPage, 4);
        QVERIFY(!m_view->m_bPrinting);
        QCOMPARE(CountPdfPages(out), 4);
    }

    void dialogPrintsTheChosenRange()
    {
        const QString out = m_dir.filePath(QStringLiteral("range.pdf"));
        UsePdfPrinter(out);
        bool found = false;
        WhenShown<QPrintDialog>([&](QPrintDialog* dlg) {
            auto* range = dlg->findChild<QRadioButton*>(QStringLiteral("printRange"));
            auto* from = dlg->findChild<QSpinBox*>(QStringLiteral("from"));
            auto* to = dlg->findChild<QSpinBox*>(QStringLiteral("to"));
            found = range && from && to;
            if (found) {
                range->setChecked(true);
                from->setValue(2);
                to->setValue(3);
            }
            dlg->accept();
        });
        RunPrintJob(m_view, PrintMode::Dialog);
        if (!found)
            QSKIP("the print dialog of this platform has no page-range fields");
        QCOMPARE(CountPdfPages(out), 2);
    }

    void dialogCancelledPrintsNothing()
    {
        const QString out = m_dir.filePath(QStringLiteral("cancelled.pdf"));
        UsePdfPrinter(out);
        WhenShown<QPrintDialog>([](QPrintDialog* dlg) { dlg->reject(); });
        RunPrintJob(m_view, PrintMode::Dialog);
        QVERIFY(!QFile::exists(out));
        QVERIFY(!m_view->m_bPrinting);
    }

    // While a long analysis runs the lists are not final: nothing is printed.
    void nothingWhileAnalysisRuns()
    {
        const QString path = testsupport::WriteSparseFile(m_dir.path(), QStringLiteral("10110815.00"), 400000000);
        QVERIFY(!path.isEmpty());
        CVitrelDoc doc;
        QVERIFY(doc.OnOpenDocument(path));
        CVitrelView view(&doc);
        testsupport::NullAnalysisView sink;
        doc.StartAnalysis(&sink);
        QVERIFY(doc.IsAnalysisRunning());
        const QString out = m_dir.filePath(QStringLiteral("busy.pdf"));
        UsePdfPrinter(out);
        RunPrintJob(&view, PrintMode::Direct);
        doc.StopAnalysis();
        QVERIFY(!QFile::exists(out));
        QVERIFY(!view.m_bPrinting);
    }

    void previewShowsOnePageAtATime()
    {
        UsePdfPrinter(m_dir.filePath(QStringLiteral("unused.pdf")));
        m_view->OnHScroll(CVitrelView::SB_THUMBTRACK, 123);
        QCOMPARE(m_view->GetDisplaySettings().m_nViewPos, int64_t(123));
        bool seen = false, printingWhileOpen = false;
        int pages = 0;
        QPrintPreviewWidget::ViewMode mode = QPrintPreviewWidget::AllPagesView;
        int64_t posAfterCentre = -1;
        WhenShown<QPrintPreviewDialog>([&](QPrintPreviewDialog* dlg) {
            seen = true;
            printingWhileOpen = m_view->m_bPrinting;
            // A pane asking the view to move while the preview is open changes nothing.
            m_view->CenterOnSample(20000);
            posAfterCentre = m_view->GetDisplaySettings().m_nViewPos;
            if (auto* w = dlg->findChild<QPrintPreviewWidget*>()) {
                pages = w->pageCount();
                mode = w->viewMode();
                dlg->resize(900, 1100);
                QApplication::processEvents();
                if (QDir().mkpath(QStringLiteral(VITREL_TEST_OUTPUT_DIR)))
                    dlg->grab().save(QStringLiteral(VITREL_TEST_OUTPUT_DIR "/print-preview.png"));
            }
            dlg->reject();
        });
        RunPrintJob(m_view, PrintMode::Preview);
        QVERIFY(seen);
        QVERIFY(printingWhileOpen);
        QCOMPARE(posAfterCentre, int64_t(123));
        QCOMPARE(pages, 4);
        QCOMPARE(mode, QPrintPreviewWidget::SinglePageView);
        QVERIFY(!m_view->m_bPrinting);
    }
};

QTEST_MAIN(TestPrintJob)
#include "tst_printjob.moc"
