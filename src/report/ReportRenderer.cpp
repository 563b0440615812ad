#include "report/ReportRenderer.h"

#include <QPageLayout>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>

#include <cmath>
#include <exception>

#include "analysis/EcgDocument.h"
#include "recording/ErrorMessage.h"
#include "report/EcgReportPrinter.h"
#include "report/ReportPdf.h"

void RenderReportPages(CEcgDocument& doc, QPagedPaintDevice& device, QPainter& painter, int from, int to,
                       bool preview, int gain, const ReportOptions& options)
{
    CPrintInfo info;
    info.m_nMaxPage = CEcgReportPrinter::GetPageCount(&doc, options);
    info.m_options = options;
    info.m_bPreview = preview;
    // Whole millimetres, truncated; the tolerance keeps an exact 210 mm from becoming 209.
    const QRectF mm = device.pageLayout().paintRect(QPageLayout::Millimeter);
    info.m_nPrintableWidthMM = static_cast<int>(std::floor(mm.width() + 1e-3));
    info.m_nPrintableHeightMM = static_cast<int>(std::floor(mm.height() + 1e-3));
    info.m_fDotsPerMM = device.logicalDpiX() / 25.4;
    for (int page = from; page <= to; ++page) {
        if (page != from)
            device.newPage();
        info.m_nCurPage = page;
        CEcgReportPrinter printer(&doc, &painter, &info, gain);
        printer.PrintPage();
    }
}

bool WriteReportPages(CEcgDocument& doc, const std::string& path, const QPageLayout& layout, int resolution,
                      const QString& title, const QString& creator, int from, int to, ReportFailure* pFailure,
                      int gain, const ReportOptions& options)
{
    CReportPdf pdf(path);
    const auto fail = [&](bool cannotWrite, const std::string& text) {
        if (pFailure)
            *pFailure = ReportFailure{cannotWrite, text};
        return false;
    };
    if (!pdf.Open())
        return fail(true, pdf.ErrorText());
    QPdfWriter& writer = *pdf.Writer();
    writer.setPageLayout(QPageLayout(layout.pageSize(), layout.orientation(), QMarginsF(0, 0, 0, 0)));
    if (resolution > 0)
        writer.setResolution(resolution);
    writer.setTitle(title);
    writer.setCreator(creator);
    QPainter painter;
    if (!painter.begin(&writer))
        return fail(true, pdf.ErrorText());
    // An unfinished report is discarded with pdf.
    try {
        RenderReportPages(doc, writer, painter, from, to, false, gain, options);
    } catch (const std::exception& e) {
        painter.end();
        return fail(false, ErrorMessageFor(e, doc.GetFilePath()));
    }
    painter.end();
    if (!pdf.Commit())
        return fail(true, pdf.ErrorText());
    return true;
}
