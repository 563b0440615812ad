#include "app/VitrelApp.h"

#include <QIcon>
#include <QLibraryInfo>
#include <QTranslator>

#include "app/MainFrame.h"
#include "resources/Version.h"

CVitrelApp::CVitrelApp(int& argc, char** argv) : QApplication(argc, argv)
{
    // Settings live under this key.
    setOrganizationName(QStringLiteral("VITREL-ECG"));
    setApplicationName(QStringLiteral("vitrel-ecg"));
    setApplicationVersion(QStringLiteral(VITREL_VERSION));

    // The window is Chinese whatever the locale; Qt's own dialogs (open,
    // print, message-box buttons) follow when its translations are installed.
    auto* qtTexts = new QTranslator(this);
    if (qtTexts->load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        installTranslator(qtTexts);
}

CVitrelApp::~CVitrelApp()
{
    m_pMainWnd.reset();
}

bool CVitrelApp::InitInstance()
{
    m_pMainWnd = std::make_unique<CMainFrame>();
    if (!m_pMainWnd->OnCreate()) {
        m_pMainWnd.reset();
        return false;
    }
    setWindowIcon(m_pMainWnd->windowIcon());
    m_pMainWnd->showMaximized();
    OpenStartupFiles(m_pMainWnd.get(), arguments());
    return true;
}

void OpenStartupFiles(CMainFrame* frame, const QStringList& arguments)
{
    // Qt has taken its own options out; what is left after the program names recordings.
    frame->OpenFilesLater(arguments.mid(1));
}
