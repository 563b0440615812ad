// The application object: settings, the main frame, nothing opened at start.
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
