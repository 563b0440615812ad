// The main window: menu bar, tool bar, status bar with lock-key indicators,
// the tabbed document workspace and the four docking panes. It also keeps
// the open documents (one child frame each) and the recent-file list.
#pragma once

#include <QHash>
#include <QMainWindow>
#include <QPointer>
#include <memory>

#include "app/RecentFileList.h"

class QAction;
class QDockWidget;
class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QTimer;
class QToolBar;
class CChildFrame;
class CVitrelDoc;
class CVitrelView;

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    // A file-error message box; views report errors of their pane refills here.
    virtual void ShowErrorMessage(const QString& text);
    explicit CMainFrame(QWidget* parent = nullptr);
    ~CMainFrame() override;

    // Builds bars, workspace and panes; false when a part cannot be made.
    bool OnCreate();

    // Runs a command by id, as the menus, the tool bar and the context menu do.
    void OnCommand(int id);
    // Brings every command's enabled and checked state up to date.
    void UpdateCommandUI();

    // Opens path, or brings its window forward when it is already open
    // (the same file, see CVitrelDoc::IsSamePath). Shows the file error and
    // returns null on failure.
    CVitrelDoc* OpenDocumentFile(const QString& path);
    // Opens paths in order, stopping at the first that fails; false then.
    bool OpenFiles(const QStringList& paths);
    void CloseAllDocuments();
    QList<CVitrelDoc*> GetDocuments() const;
    CChildFrame* GetActiveFrame() const;
    CVitrelDoc* GetActiveDocument() const;
    CVitrelView* GetActiveView() const;

    QMdiArea* GetMdiArea() const { return m_pMdiArea; }
    QAction* GetAction(int id) const { return m_actions.value(id); }
    QDockWidget* GetPane(int id) const { return m_panes.value(id); }
    QToolBar* GetToolBar() const { return m_pToolBar; }
    QMenu* GetContextMenu(int id) const;
    CRecentFileList& GetRecentFileList() { return m_recentFiles; }
    // The recent-file entries of the file menu as they are shown now.
    QList<QAction*> GetRecentFileActions() const { return m_recentActions; }
    QLabel* GetIndicator(int index) const;   // 0 CAP, 1 NUM, 2 SCRL

    // Shows context menu id at a global position; false when there is none.
    bool TrackContextMenu(int id, const QPoint& globalPos);
    void UpdateFrameTitle();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    // Seams for tests: the open dialog and the error message box.
    virtual QStringList PromptForFileNames();

private:
    // The command's action: text, prompt and tool tip from the string table.
    QAction* MakeAction(int id, const char* icon = nullptr);
    bool CreateActions();
    bool CreateMenuBar();
    bool CreateToolBar();
    bool CreateStatusBar();
    void CreateDockingPanes();
    void ApplyInitialPaneSizes();
    QDockWidget* CreatePane(int id, Qt::DockWidgetArea area);
    void AttachPaneWindow(QDockWidget* pane);
    void RebuildRecentFileMenu();
    void OnFileOpen();
    void OnOpenRecentFile(int index);
    void OnAppAbout();
    void OnWindowCommand(int id);
    void OnSubWindowActivated(QMdiSubWindow* window);
    void OnDocumentClosed(CChildFrame* closed);
    void UpdateIndicators();

    QMdiArea* m_pMdiArea = nullptr;
    QToolBar* m_pToolBar = nullptr;
    QMenu* m_pFileMenu = nullptr;
    QAction* m_pRecentEnd = nullptr;   // separator after the recent files
    QMenu* m_pContextMenu = nullptr;
    QHash<int, QAction*> m_actions;
    QHash<int, QDockWidget*> m_panes;
    QList<QAction*> m_recentActions;
    QLabel* m_indicators[3] = {};
    QTimer* m_pIndicatorTimer = nullptr;
    QPointer<CVitrelView> m_pLastActiveView;
    bool m_bSized = false;
    bool m_bClosingAll = false;
    CRecentFileList m_recentFiles;
};
