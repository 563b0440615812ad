#include "report/BatchReport.h"

#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>

#include "analysis/EcgDocument.h"
#include "recording/File.h"
#include "report/EcgReportPrinter.h"
#include "report/ReportRenderer.h"
#include "resources/QtResources.h"

namespace {

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
                    std::string* pError, bool holterPages)
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

    ReportFailure failure;
    const ReportOptions options{holterPages, holterPages};
    if (WriteReportPages(doc, outPath, QPageLayout(size, QPageLayout::Portrait, QMarginsF()), 0,
                         LoadQString(IDS_REPORT_TITLE), QStringLiteral("vitrel-analyze"), 1,
                         CEcgReportPrinter::GetPageCount(&doc, options), &failure, REPORT_GAIN, options))
        return true;
    return fail(failure.bCannotWrite ? "cannot write " + outPath + ": " + failure.strText : failure.strText);
}

bool IsKnownPageSize(const std::string& pageSize)
{
    QPageSize size;
    return FindPageSize(pageSize, &size);
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
