#include "report/BatchReport.h"

#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <cmath>
#include <exception>

#include "analysis/EcgDocument.h"
#include "recording/File.h"
#include "report/EcgReportPrinter.h"
#include "report/PrintJob.h"
#include "report/ReportPdf.h"

namespace {

// The gain the view's painter prints with (10 mm/mV).
constexpr int kReportGain = 50;

QGuiApplication* NewOffscreenApplication()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char arg0[] = "vitrel-analyze";
    static char* argv[] = {arg0, nullptr};
    return new QGuiApplication(argc, argv);
}

// Fonts and painting need a GUI application; a command-line caller has none,
// and may have no display either, so it gets one on the offscreen platform.
bool EnsureGuiApplication(std::string* pError)
{
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return true;
    if (QCoreApplication::instance()) {
        if (pError)
            *pError = "report rendering needs a GUI application object";
        return false;
    }
    // Lives until the process ends: destroying it during static teardown is unsafe.
    NewOffscreenApplication();
    return true;
}

bool FindPageSize(const std::string& name, QPageSize* pSize)
{
    const QString wanted = QString::fromStdString(name).trimmed();
    if (wanted.isEmpty()) {
        *pSize = QPageSize(QPageSize::A4);
        return true;
    }
    for (int id = 0; id <= QPageSize::LastPageSize; ++id) {
        const auto sizeId = static_cast<QPageSize::PageSizeId>(id);
        if (sizeId == QPageSize::Custom)
            continue;
        if (QPageSize::key(sizeId).compare(wanted, Qt::CaseInsensitive) == 0 ||
            QPageSize::name(sizeId).compare(wanted, Qt::CaseInsensitive) == 0) {
            *pSize = QPageSize(sizeId);
            return true;
        }
    }
    return false;
}

}  // namespace

bool WriteReportPdf(CEcgDocument& doc, const std::string& outPath, const std::string& pageSize,
                    std::string* pError)
{
    auto fail = [&](const std::string& message) {
        if (pError)
            *pError = message;
        return false;
    };
    if (doc.IsAnalysisRunning())
        return fail("the analysis is still running");
    QPageSize size;
    if (!FindPageSize(pageSize, &size))
        return fail("unknown page size: " + pageSize);
    if (IsSameFile(outPath, doc.GetFilePath()))
        return fail("cannot write " + outPath + ": it is the recording " + doc.GetFilePath());
    if (!EnsureGuiApplication(pError))
        return false;

    CReportPdf pdf(outPath);
    const auto cannotWrite = [&] { return fail("cannot write " + outPath + ": " + pdf.ErrorText()); };
    if (!pdf.Open())
        return cannotWrite();
    QPdfWriter& writer = *pdf.Writer();
    writer.setCreator(QStringLiteral("vitrel-analyze"));
    writer.setTitle(QStringLiteral("心电分析报告"));
    writer.setPageLayout(QPageLayout(size, QPageLayout::Portrait, QMarginsF(0, 0, 0, 0)));

    CPrintInfo info;
    info.m_nMinPage = 1;
    info.m_nMaxPage = CEcgReportPrinter::GetPageCount(&doc);
    const QSizeF mm = size.size(QPageSize::Millimeter);
    info.m_nPrintableWidthMM = static_cast<int>(std::floor(mm.width() + 1e-3));
    info.m_nPrintableHeightMM = static_cast<int>(std::floor(mm.height() + 1e-3));
    info.m_fDotsPerMM = writer.resolution() / 25.4;

    QPainter painter;
    if (!painter.begin(&writer))
        return cannotWrite();
    // An unfinished report is discarded with pdf.
    try {
        for (int page = info.m_nMinPage; page <= info.m_nMaxPage; ++page) {
            if (page != info.m_nMinPage)
                writer.newPage();
            info.m_nCurPage = page;
            CEcgReportPrinter printer(&doc, &painter, &info, kReportGain);
            printer.PrintPage();
        }
    } catch (const CFileException& e) {
        painter.end();
        return fail(e.GetErrorMessage());
    } catch (const std::exception& e) {
        painter.end();
        return fail(e.what());
    }
    painter.end();
    if (!pdf.Commit())
        return cannotWrite();
    return true;
}

CReportApplication::CReportApplication()
{
    if (!QCoreApplication::instance())
        m_pApp = NewOffscreenApplication();
}

CReportApplication::~CReportApplication()
{
    delete m_pApp;
}
