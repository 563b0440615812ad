// The application object: settings, the main frame, the recordings named on
// the command line.
#pragma once

#include <QApplication>
#include <memory>

class CMainFrame;

class CVitrelApp : public QApplication {
    Q_OBJECT
public:
    CVitrelApp(int& argc, char** argv);
    ~CVitrelApp() override;

    // Creates and shows the maximised main frame; false when it cannot be built.
    bool InitInstance();
    CMainFrame* GetMainFrame() const { return m_pMainWnd.get(); }

private:
    std::unique_ptr<CMainFrame> m_pMainWnd;
};

// Opens the files named after the program (arguments as QCoreApplication
// gives them) as the Open command does, once the event loop runs.
void OpenStartupFiles(CMainFrame* frame, const QStringList& arguments);
