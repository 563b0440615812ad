#include "report/PrintJob.h"

#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPageLayout>
#include <QPageSetupDialog>
#include <QPaintEngine>
#include <QPainter>
#include <QPdfWriter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>

#include <algorithm>
#include <cmath>
#include <exception>

#include "analysis/EcgDocument.h"
#include "app/MainFrame.h"
#include "app/VitrelDoc.h"
#include "display/VitrelView.h"
#include "recording/File.h"
#include "report/ReportPdf.h"

namespace {

QString PrintTitle() { return QStringLiteral("打印"); }

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

void SetPageGeometry(QPagedPaintDevice* device, int resolution, CPrintInfo* pInfo)
{
    const QRectF mm = device->pageLayout().paintRect(QPageLayout::Millimeter);
    pInfo->m_nPrintableWidthMM = static_cast<int>(std::floor(mm.width() + 1e-3));
    pInfo->m_nPrintableHeightMM = static_cast<int>(std::floor(mm.height() + 1e-3));
    pInfo->m_fDotsPerMM = resolution / 25.4;
}

QString ErrorText(const std::exception& e)
{
    if (auto* fe = dynamic_cast<const CFileException*>(&e))
        return QString::fromStdString(fe->GetErrorMessage());
    return QString::fromUtf8(e.what());
}

// Draws pages from..to through the view. Returns false when a page failed.
bool DrawPages(CVitrelView* pView, QPagedPaintDevice* device, int resolution, QPainter* painter, CPrintInfo* pInfo,
               int from, int to)
{
    SetPageGeometry(device, resolution, pInfo);
    try {
        for (int page = from; page <= to; ++page) {
            if (page != from)
                device->newPage();
            pInfo->m_nCurPage = page;
            pView->OnPrint(painter, pInfo);
        }
    } catch (const std::exception& e) {
        QMessageBox::warning(pView, PrintTitle(), ErrorText(e));
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
    std::vector<const CEcgDocument*> docs;
    if (auto* frame = qobject_cast<CMainFrame*>(pView->window()))
        for (const CVitrelDoc* pDoc : frame->GetDocuments())
            docs.push_back(pDoc);
    if (const CEcgDocument* pDoc = pView->GetDocument())
        docs.push_back(pDoc);
    for (const CEcgDocument* pDoc : docs)
        if (!pDoc->GetFilePath().empty() && IsSameFile(path, pDoc->GetFilePath()))
            return true;
    return false;
}

// A PDF file is written through CReportPdf, whole or not at all and with
// text that can be searched, with the printer's paper and resolution.
void PrintPdfFile(CVitrelView* pView, QPrinter* printer, CPrintInfo* pInfo, int from, int to)
{
    const QString path = printer->outputFileName();
    const std::string file = QFile::encodeName(path).toStdString();
    if (IsOpenRecording(pView, file)) {
        QMessageBox::warning(pView, PrintTitle(), QStringLiteral("不能将报告写入 %1：它是打开的心电记录。").arg(path));
        return;
    }
    CReportPdf pdf(file);
    const auto failed = [&] {
        QMessageBox::warning(pView, PrintTitle(),
                             QStringLiteral("无法写入 %1：%2").arg(path, QString::fromLocal8Bit(pdf.ErrorText())));
    };
    if (!pdf.Open()) {
        failed();
        return;
    }
    QPdfWriter* writer = pdf.Writer();
    const QPageLayout layout = printer->pageLayout();
    writer->setPageLayout(QPageLayout(layout.pageSize(), layout.orientation(), QMarginsF(0, 0, 0, 0)));
    writer->setResolution(printer->resolution());
    writer->setTitle(printer->docName());
    writer->setCreator(printer->creator());
    QPainter painter;
    if (!painter.begin(writer)) {
        failed();
        return;
    }
    const bool drawn = DrawPages(pView, writer, writer->resolution(), &painter, pInfo, from, to);
    painter.end();
    if (drawn && !pdf.Commit())
        failed();
}

// The printing half of the job, once the printer is chosen.
void PrintRange(CVitrelView* pView, QPrinter* printer, CPrintInfo* pInfo, int from, int to)
{
    if (PrintsToPdfFile(printer)) {
        pView->OnBeginPrinting(nullptr, pInfo);
        PrintPdfFile(pView, printer, pInfo, from, to);
        pView->OnEndPrinting(nullptr, pInfo);
        return;
    }
    PdfWholePage wholePage(printer);
    QPainter painter;
    if (!painter.begin(printer)) {
        QMessageBox::warning(pView, PrintTitle(), QStringLiteral("无法开始打印。"));
        return;
    }
    pView->OnBeginPrinting(&painter, pInfo);
    if (!DrawPages(pView, printer, printer->resolution(), &painter, pInfo, from, to))
        printer->abort();
    pView->OnEndPrinting(&painter, pInfo);
    painter.end();
}

}  // namespace

void RunPrintJob(CVitrelView* pView, PrintMode mode)
{
    if (!pView)
        return;
    // The event pages read lists that a running analysis is still building.
    if (CEcgDocument* pDoc = pView->GetDocument(); pDoc && pDoc->IsAnalysisRunning())
        return;
    CPrintInfo info;
    info.m_bPreview = mode == PrintMode::Preview;
    info.m_bDirect = mode == PrintMode::Direct;
    if (!pView->OnPreparePrinting(&info))
        return;
    info.m_nMinPage = std::max(1, info.m_nMinPage);
    info.m_nMaxPage = std::max(info.m_nMinPage, info.m_nMaxPage);
    info.m_nCurPage = info.m_nMinPage;
    QPrinter* printer = SharedPrinter();

    switch (mode) {
    case PrintMode::Dialog: {
        QPrintDialog dlg(printer, pView);
        dlg.setMinMax(info.m_nMinPage, info.m_nMaxPage);
        dlg.setOption(QAbstractPrintDialog::PrintPageRange, true);
        dlg.setOption(QAbstractPrintDialog::PrintToFile, true);
        printer->setPrintRange(QPrinter::AllPages);
        printer->setFromTo(info.m_nMinPage, info.m_nMaxPage);
        if (dlg.exec() != QDialog::Accepted)
            return;
        int from = info.m_nMinPage, to = info.m_nMaxPage;
        if (printer->printRange() == QPrinter::PageRange && printer->fromPage() > 0) {
            from = std::max(from, printer->fromPage());
            to = std::min(to, printer->toPage() > 0 ? printer->toPage() : to);
        }
        if (from <= to)
            PrintRange(pView, printer, &info, from, to);
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
        PrintRange(pView, printer, &info, info.m_nMinPage, info.m_nMaxPage);
        break;
    }
    case PrintMode::Preview: {
        PdfWholePage wholePage(printer);
        QPrintPreviewDialog dlg(printer, pView);
        pView->OnBeginPrinting(nullptr, &info);
        QObject::connect(&dlg, &QPrintPreviewDialog::paintRequested, &dlg, [&](QPrinter* target) {
            // The same request also prints from the preview's own print button:
            // only the preview records into a picture.
            info.m_bPreview = target->paintEngine() && target->paintEngine()->type() == QPaintEngine::Picture;
            if (!info.m_bPreview && PrintsToPdfFile(target)) {
                PrintPdfFile(pView, target, &info, info.m_nMinPage, info.m_nMaxPage);
                return;
            }
            QPainter painter;
            if (!painter.begin(target))
                return;
            DrawPages(pView, target, target->resolution(), &painter, &info, info.m_nMinPage, info.m_nMaxPage);
            painter.end();
        });
        if (auto* preview = dlg.findChild<QPrintPreviewWidget*>()) {
            preview->setViewMode(QPrintPreviewWidget::SinglePageView);
            preview->setZoomMode(QPrintPreviewWidget::FitInView);
        }
        dlg.exec();
        info.m_bPreview = true;
        pView->OnEndPrinting(nullptr, &info);
        break;
    }
    }
}

void RunPrinterSetup(QWidget* parent)
{
    QPageSetupDialog dlg(SharedPrinter(), parent);
    dlg.exec();
}

QPrinter* SharedPrinter()
{
    static QPrinter printer(QPrinter::HighResolution);
    return &printer;
}
