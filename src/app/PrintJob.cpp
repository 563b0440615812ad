#include "app/PrintJob.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPageLayout>
#include <QPageSetupDialog>
#include <QPaintEngine>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QSettings>

#include <algorithm>
#include <exception>
#include <vector>

#include "analysis/EcgDocument.h"
#include "app/MainFrame.h"
#include "app/VitrelDoc.h"
#include "display/VitrelView.h"
#include "recording/ErrorMessage.h"
#include "recording/File.h"
#include "report/EcgReportPrinter.h"
#include "report/ReportRenderer.h"
#include "resources/QtResources.h"

namespace {

QString PrintTitle() { return ToQString(Text::kPrintTitle); }

const QString kHolterPagesKey = QStringLiteral("Settings/ReportHolterPages");

QSettings AppSettings()
{
    return QSettings(QStringLiteral("VITREL-ECG"), QStringLiteral("vitrel-ecg"));
}

// A PDF has no unprintable border: the whole page is the printable area.
// The printer is shared, so its own layout comes back when the job is done.
class PdfWholePage {
public:
    explicit PdfWholePage(QPrinter* printer)
        : m_pPrinter(printer), m_layout(printer->pageLayout()), m_bFullPage(printer->fullPage())
    {
        if (printer->outputFormat() == QPrinter::PdfFormat) {
            printer->setFullPage(true);
            printer->setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
        }
    }
    ~PdfWholePage()
    {
        m_pPrinter->setFullPage(m_bFullPage);
        m_pPrinter->setPageLayout(m_layout);
    }
    PdfWholePage(const PdfWholePage&) = delete;
    PdfWholePage& operator=(const PdfWholePage&) = delete;

private:
    QPrinter* m_pPrinter;
    QPageLayout m_layout;
    bool m_bFullPage;
};

// Draws pages from..to of the view's document. Returns false, having said
// why, when a page failed.
bool DrawPages(CVitrelView* pView, QPagedPaintDevice* device, QPainter* painter, int from, int to, bool preview)
{
    CEcgDocument& doc = *pView->GetDocument();
    try {
        RenderReportPages(doc, *device, *painter, from, to, preview, pView->GetDisplaySettings().m_nGain,
                          ReportOptionsFor(pView));
    } catch (const std::exception& e) {
        QMessageBox::warning(pView, PrintTitle(), QString::fromStdString(ErrorMessageFor(e, doc.GetFilePath())));
        return false;
    }
    return true;
}

bool PrintsToPdfFile(QPrinter* printer)
{
    return printer->outputFormat() == QPrinter::PdfFormat && !printer->outputFileName().isEmpty();
}

// Whether path names the file of an open recording.
bool IsOpenRecording(CVitrelView* pView, const std::string& path)
{
    std::vector<const CEcgDocument*> docs{pView->GetDocument()};
    if (auto* frame = qobject_cast<CMainFrame*>(pView->window()))
        for (const CVitrelDoc* pDoc : frame->GetDocuments())
            docs.push_back(pDoc);
    return std::any_of(docs.begin(), docs.end(), [&](const CEcgDocument* pDoc) {
        return !pDoc->GetFilePath().empty() && IsSameFile(path, pDoc->GetFilePath());
    });
}

// A PDF file is written whole or not at all, with text that can be searched,
// on the printer's paper and at its resolution.
void PrintPdfFile(CVitrelView* pView, QPrinter* printer, int from, int to)
{
    const QString path = printer->outputFileName();
    const std::string file = QFile::encodeName(path).toStdString();
    if (IsOpenRecording(pView, file)) {
        QMessageBox::warning(pView, PrintTitle(), ToQString(Text::kReportOverRecording).arg(path));
        return;
    }
    ReportFailure failure;
    if (WriteReportPages(*pView->GetDocument(), file, printer->pageLayout(), printer->resolution(), printer->docName(),
                         printer->creator(), from, to, &failure, pView->GetDisplaySettings().m_nGain,
                         ReportOptionsFor(pView)))
        return;
    const QString text = failure.bCannotWrite
                             ? ToQString(Text::kCannotWriteReport).arg(path, QString::fromLocal8Bit(failure.strText.c_str()))
                             : QString::fromStdString(failure.strText);
    QMessageBox::warning(pView, PrintTitle(), text);
}

// The printing half of the job, once the printer is chosen.
void PrintRange(CVitrelView* pView, QPrinter* printer, int from, int to)
{
    if (PrintsToPdfFile(printer)) {
        pView->OnBeginPrinting();
        PrintPdfFile(pView, printer, from, to);
        pView->OnEndPrinting();
        return;
    }
    PdfWholePage wholePage(printer);
    QPainter painter;
    if (!painter.begin(printer)) {
        QMessageBox::warning(pView, PrintTitle(), ToQString(Text::kCannotPrint));
        return;
    }
    pView->OnBeginPrinting();
    if (!DrawPages(pView, printer, &painter, from, to, false))
        printer->abort();
    pView->OnEndPrinting();
    painter.end();
}

}  // namespace

void RunPrintJob(CVitrelView* pView, PrintMode mode)
{
    CEcgDocument* pDoc = pView ? pView->GetDocument() : nullptr;
    // The event pages read lists that a running analysis is still building.
    if (!pDoc || pDoc->IsAnalysisRunning())
        return;
    const int pageCount = CEcgReportPrinter::GetPageCount(pDoc, ReportOptionsFor(pView));
    QPrinter* printer = SharedPrinter();

    switch (mode) {
    case PrintMode::Dialog: {
        QPrintDialog dlg(printer, pView);
        dlg.setMinMax(1, pageCount);
        dlg.setOption(QAbstractPrintDialog::PrintPageRange, true);
        dlg.setOption(QAbstractPrintDialog::PrintToFile, true);
        printer->setPrintRange(QPrinter::AllPages);
        printer->setFromTo(1, pageCount);
        if (dlg.exec() != QDialog::Accepted)
            return;
        int from = 1, to = pageCount;
        if (printer->printRange() == QPrinter::PageRange && printer->fromPage() > 0) {
            from = std::max(from, printer->fromPage());
            to = std::min(to, printer->toPage() > 0 ? printer->toPage() : to);
        }
        if (from <= to)
            PrintRange(pView, printer, from, to);
        break;
    }
    case PrintMode::Direct: {
        // A printer that writes PDF needs a file to write to.
        if (printer->outputFormat() == QPrinter::PdfFormat && printer->outputFileName().isEmpty()) {
            const QString path = QFileDialog::getSaveFileName(pView, PrintTitle(), QString(),
                                                              QStringLiteral("PDF (*.pdf)"));
            if (path.isEmpty())
                return;
            printer->setOutputFileName(path);
        }
        printer->setPrintRange(QPrinter::AllPages);
        PrintRange(pView, printer, 1, pageCount);
        break;
    }
    case PrintMode::Preview: {
        PdfWholePage wholePage(printer);
        QPrintPreviewDialog dlg(printer, pView);
        pView->OnBeginPrinting();
        QObject::connect(&dlg, &QPrintPreviewDialog::paintRequested, &dlg, [&](QPrinter* target) {
            // The same request also prints from the preview's own print button:
            // only the preview records into a picture.
            const bool preview = target->paintEngine() && target->paintEngine()->type() == QPaintEngine::Picture;
            if (!preview && PrintsToPdfFile(target)) {
                PrintPdfFile(pView, target, 1, pageCount);
                return;
            }
            QPainter painter;
            if (!painter.begin(target))
                return;
            DrawPages(pView, target, &painter, 1, pageCount, preview);
            painter.end();
        });
        if (auto* preview = dlg.findChild<QPrintPreviewWidget*>()) {
            preview->setViewMode(QPrintPreviewWidget::SinglePageView);
            preview->setZoomMode(QPrintPreviewWidget::FitInView);
        }
        dlg.exec();
        pView->OnEndPrinting();
        break;
    }
    }
}

void RunPrinterSetup(QWidget* parent)
{
    QPageSetupDialog dlg(SharedPrinter(), parent);
    QCheckBox* holterPages = AddHolterPagesOption(&dlg);
    if (dlg.exec() == QDialog::Accepted)
        SetReportHolterPages(holterPages->isChecked());
}

bool ReportHolterPages()
{
    return AppSettings().value(kHolterPagesKey, true).toBool();
}

void SetReportHolterPages(bool on)
{
    AppSettings().setValue(kHolterPagesKey, on);
}

ReportOptions ReportOptionsFor(const CVitrelView* pView)
{
    ReportOptions options;
    options.holterPages = ReportHolterPages();
    options.beatClasses = pView && pView->GetDisplaySettings().m_bShowBeatClasses;
    return options;
}

QCheckBox* AddHolterPagesOption(QDialog* dlg)
{
    auto* box = new QCheckBox(ToQString(Text::kHolterPagesOption), dlg);
    box->setObjectName(QStringLiteral("HolterPages"));
    box->setChecked(ReportHolterPages());
    // Above the dialog's buttons, which end its layout.
    if (auto* layout = qobject_cast<QBoxLayout*>(dlg->layout()))
        layout->insertWidget(std::max(0, layout->count() - 1), box);
    else if (dlg->layout())
        dlg->layout()->addWidget(box);
    return box;
}

QPrinter* SharedPrinter()
{
    static QPrinter printer(QPrinter::HighResolution);
    return &printer;
}
