// The main window: menu bar, tool bar, status bar with lock-key indicators,
// the tabbed document workspace and the four docking panes. It keeps the
// open documents (one child frame each) and the recent-file list, and it is
// the one place that joins the parts: it records the active view, fills its
// panes from that view's document and moves that view when a pane asks.
#pragma once

#include <QHash>
#include <QMainWindow>
#include <QPointer>
#include <memory>

#include "app/PaneSet.h"
#include "app/RecentFileList.h"
#include "display/ViewHost.h"
#include "analysis/BeatClass.h"
#include "formats/ExportJob.h"

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

// The view activated last, or null. Only the main frame changes it.
extern CVitrelView* g_pActiveView;

class CMainFrame : public QMainWindow, public IViewHost {
    Q_OBJECT
public:
    // What the export command writes: the beat list, an EDF+ file, or a WFDB
    // record in a folder (a named .hea file stands for its folder).
    using ExportKind = ::ExportKind;

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
    // The leads pop-up of the view menu (IDR_LEAD_MENU), filled from the
    // active view's recording; choosing a lead to analyse re-runs the analysis.
    void UpdateLeadMenu();
    void OnAnalyseLead(int lead);

    // Opens path, or brings its window forward when it is already open
    // (the same file, see CVitrelDoc::IsSamePath). Shows the file error and
    // returns null on failure.
    CVitrelDoc* OpenDocumentFile(const QString& path);
    // Opens paths in order, stopping at the first that fails; false then.
    bool OpenFiles(const QStringList& paths);
    // OpenFiles once the event loop runs: files dropped on the window or
    // named on the command line.
    void OpenFilesLater(const QStringList& paths);
    // Writes what doc's completed analysis found and tells so in the status
    // bar; a refusal or failure is shown as an error message and gives false.
    bool ExportDocument(CVitrelDoc* doc, const QString& target, ExportKind kind);

    // The precise-detector setting (kept in the settings): long recordings
    // opened from then on are analysed with it.
    bool IsPreciseDetectorOn() const { return m_bPreciseDetector; }
    void SetPreciseDetectorOn(bool on);
    bool AreBeatClassesShown() const { return m_bShowBeatClasses; }
    void SetBeatClassesShown(bool on);
    // False when the user kept a document with an unsaved review open.
    bool CloseAllDocuments();
    QList<CVitrelDoc*> GetDocuments() const;
    CChildFrame* GetActiveFrame() const;
    CVitrelDoc* GetActiveDocument() const;
    CVitrelView* GetActiveView() const;

    QMdiArea* GetMdiArea() const { return m_pMdiArea; }
    QAction* GetAction(int id) const { return m_actions.value(id); }
    QDockWidget* GetPane(int id) const { return m_paneSet.GetPane(id); }
    QToolBar* GetToolBar() const { return m_pToolBar; }
    QMenu* GetContextMenu(int id) const;
    CRecentFileList& GetRecentFileList() { return m_recentFiles; }
    // The recent-file entries of the file menu as they are shown now.
    QList<QAction*> GetRecentFileActions() const { return m_recentActions; }
    QLabel* GetIndicator(int index) const;   // 0 CAP, 1 NUM, 2 SCRL

    void UpdateFrameTitle();

    // Saves doc's review beside the recording; on failure shows why and offers
    // another place. False when it was not saved.
    bool SaveReview(CVitrelDoc* doc);
    // Before doc closes with unsaved review steps: asks, and saves when told.
    // False keeps the document open.
    bool ConfirmCloseReview(CVitrelDoc* doc);
    CTemplatesDlg* GetTemplatesPane() const { return m_paneSet.GetTemplatesPane(); }

    // The four panes this frame owns.
    CAnalyzeResultDlg* GetResultPane() const { return m_paneSet.GetResultPane(); }
    CHourlyRateDlg* GetRhythmPane() const { return m_paneSet.GetRhythmPane(); }
    CAbnormalWaveDlg* GetAbnormalPane() const { return m_paneSet.GetAbnormalPane(); }
    CHeartRateTrendDlg* GetTrendPane() const { return m_paneSet.GetTrendPane(); }
    // Empties the panes the way a closing document leaves them.
    void ClearPanes();

    // IViewHost
    bool IsActiveView(const CVitrelView* pView) const override;
    void SetActiveView(CVitrelView* pView) override;
    void FillResultPanes(CVitrelView* pView) override;
    void FillRhythmPane(CVitrelView* pView) override;
    void RepaintTrendPane() override;
    bool TrackContextMenu(int id, const QPoint& globalPos) override;
    IBeatEditor* GetBeatEditor(CVitrelView* pView) override;
    void OnBeatsEdited(CVitrelView* pView) override;
    void OnRunEnded(CVitrelView* pView) override;
    void OnBeatSelected(CVitrelView* pView, int64_t position) override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    // Seams for tests: the open and export dialogs and the error message box.
    virtual QStringList PromptForFileNames();
    // False when the user cancels.
    virtual bool PromptForExportTarget(const CVitrelDoc* doc, QString* target, ExportKind* kind);
    // Unsaved review on close: QMessageBox::Save, Discard or Cancel.
    virtual int AskSaveReview(const CVitrelDoc* doc);
    // The review could not be saved (message says where and why): another
    // path to try, or "" to give up.
    virtual QString PromptForReviewSaveAs(const CVitrelDoc* doc, const QString& message);

private:
    // The command's action: text, prompt and tool tip from the string table.
    QAction* MakeAction(int id, const char* icon = nullptr);
    bool CreateActions();
    bool CreateMenuBar();
    bool CreateToolBar();
    bool CreateStatusBar();
    void CenterActiveView(uint32_t sample);
    void RebuildRecentFileMenu();
    void OnFileOpen();
    void OnFileExport();
    bool CanExport() const;
    // Every open recording and the files it is read from.
    std::vector<std::string> GetInputFiles() const;
    void OnOpenRecentFile(int index);
    void OnAppAbout();
    void OnWindowCommand(int id);
    void OnSubWindowActivated(QMdiSubWindow* window);
    void OnDocumentClosing();
    void OnDocumentClosed(CChildFrame* closed);
    void UpdateIndicators();
    static CVitrelDoc* DocumentOf(CVitrelView* pView);
    void OnRelabelFamily(const std::vector<size_t>& indices, BeatClass to);
    // The tachogram's mark follows the active view.
    void OnViewMoved(CVitrelView* pView);

    QMdiArea* m_pMdiArea = nullptr;
    QToolBar* m_pToolBar = nullptr;
    QMenu* m_pFileMenu = nullptr;
    QAction* m_pRecentEnd = nullptr;   // separator after the recent files
    QMenu* m_pContextMenu = nullptr;
    QMenu* m_pBeatMenu = nullptr;
    QMenu* m_pLeadMenu = nullptr;
    QHash<int, QAction*> m_actions;
    CPaneSet m_paneSet;
    QList<QAction*> m_recentActions;
    QLabel* m_indicators[3] = {};
    QTimer* m_pIndicatorTimer = nullptr;
    QPointer<CVitrelView> m_pLastActiveView;
    bool m_bSized = false;
    bool m_bClosingAll = false;
    bool m_bPreciseDetector = false;
    bool m_bShowBeatClasses = true;
    CRecentFileList m_recentFiles;
};
