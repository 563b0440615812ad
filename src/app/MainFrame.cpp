#include "app/MainFrame.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDockWidget>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QMdiArea>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QSettings>
#include <QStatusBar>
#include <QTabBar>
#include <QTimer>
#include <QToolBar>

#include <algorithm>
#include <optional>

#include "app/ChildFrame.h"
#include "app/LockKeys.h"
#include "resources/Resource.h"
#include "app/VitrelDoc.h"
#include "display/VitrelView.h"
#include "panes/AboutDlg.h"
#include "panes/Panes.h"
#include "panes/TemplatesDlg.h"
#include "app/PrintJob.h"
#include "analysis/DefaultDetector.h"
#include "analysis/EcgDocument.h"
#include "recording/ErrorMessage.h"
#include "resources/Menus.h"
#include "resources/QtResources.h"

CVitrelView* g_pActiveView = nullptr;

static void InitVitrelResources()
{
    Q_INIT_RESOURCE(vitrel);
}

namespace {

std::optional<PrintMode> PrintModeFor(int id)
{
    switch (id) {
    case ID_FILE_PRINT: return PrintMode::Dialog;
    case ID_FILE_PRINT_DIRECT: return PrintMode::Direct;
    case ID_FILE_PRINT_PREVIEW: return PrintMode::Preview;
    default: return std::nullopt;
    }
}

constexpr int kViewCommands[] = {ID_ZOOM_50,      ID_ZOOM_75,       ID_ZOOM_100,   ID_ZOOM_125,
                                 ID_ZOOM_150,     ID_ZOOM_200,      ID_ZOOM_300,   ID_ZOOM_400,
                                 ID_VIEW_ZOOM_IN, ID_VIEW_ZOOM_OUT, ID_VIEW_GRID,  ID_VIEW_RMARKS,
                                 ID_FILE_PRINT,   ID_FILE_PRINT_DIRECT, ID_FILE_PRINT_PREVIEW};

// The settings of the recent-file list hold this one too.
const QString kPreciseDetectorKey = QStringLiteral("Settings/PreciseQrsDetector");
const QString kBeatClassesKey = QStringLiteral("Settings/ShowBeatClasses");
const QString kAnalysisThreadsKey = QStringLiteral("Settings/AnalysisThreads");

QSettings AppSettings()
{
    return QSettings(QStringLiteral("VITREL-ECG"), QStringLiteral("vitrel-ecg"));
}

}  // namespace

CMainFrame::CMainFrame(QWidget* parent) : QMainWindow(parent), m_recentFiles(RECENT_FILE_COUNT)
{
    InitVitrelResources();
    setObjectName(QStringLiteral("CMainFrame"));
    setWindowTitle(LoadQString(IDR_MAINFRAME));
    setWindowIcon(QIcon(QStringLiteral(":/icons/app.svg")));
    m_recentFiles.ReadList();
    m_bPreciseDetector = AppSettings().value(kPreciseDetectorKey, false).toBool();
    m_bShowBeatClasses = AppSettings().value(kBeatClassesKey, true).toBool();
    setAcceptDrops(true);
}

CMainFrame::~CMainFrame()
{
    m_paneSet.Unregister();
    SetActiveView(nullptr);
    // The documents and their views go while this frame is still whole: a
    // view going away may still ask its host, and the workspace announces a
    // last activation that must not reach a frame half torn down.
    if (m_pMdiArea) {
        m_pMdiArea->disconnect(this);
        delete m_pMdiArea;
        m_pMdiArea = nullptr;
    }
}

bool CMainFrame::OnCreate()
{
    if (!CreateStatusBar())
        return false;
    if (!CreateActions() || !CreateMenuBar() || !CreateToolBar())
        return false;

    m_pMdiArea = new QMdiArea(this);
    m_pMdiArea->setObjectName(QStringLiteral("MDIClient"));
    m_pMdiArea->setViewMode(QMdiArea::TabbedView);
    m_pMdiArea->setDocumentMode(true);
    m_pMdiArea->setTabsClosable(true);
    m_pMdiArea->setTabsMovable(true);
    m_pMdiArea->setBackground(QColor(0x80, 0x80, 0x80));
    setCentralWidget(m_pMdiArea);
    connect(m_pMdiArea, &QMdiArea::subWindowActivated, this, &CMainFrame::OnSubWindowActivated);

    m_paneSet.Create(this, [this](uint32_t sample) { CenterActiveView(sample); });
    if (CTemplatesDlg* templates = m_paneSet.GetTemplatesPane()) {
        connect(templates, &CTemplatesDlg::relabelRequested, this, &CMainFrame::OnRelabelFamily);
        // Stepping through a family centres each beat, on screen or not.
        connect(templates, &CTemplatesDlg::selectRequested, this, [](uint32_t position) {
            if (g_pActiveView) {
                g_pActiveView->CenterOnSample(position);
                g_pActiveView->SelectBeat(position);
            }
        });
    }
    UpdateCommandUI();
    return true;
}

void CMainFrame::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    // The dock layout only honours sizes once the frame has its real size.
    if (!m_bSized) {
        m_bSized = true;
        QTimer::singleShot(0, this, [this] { m_paneSet.ApplyInitialSizes(this); });
    }
}

// ---- Documents ----------------------------------------------------------

QList<CVitrelDoc*> CMainFrame::GetDocuments() const
{
    QList<CVitrelDoc*> docs;
    if (!m_pMdiArea)
        return docs;
    for (QMdiSubWindow* window : m_pMdiArea->subWindowList()) {
        auto* frame = qobject_cast<CChildFrame*>(window);
        if (frame && frame->GetDocument() && !frame->IsClosing())
            docs.append(frame->GetDocument());
    }
    return docs;
}

CChildFrame* CMainFrame::GetActiveFrame() const
{
    if (!m_pMdiArea)
        return nullptr;
    auto* frame = qobject_cast<CChildFrame*>(m_pMdiArea->currentSubWindow());
    return frame && !frame->IsClosing() ? frame : nullptr;
}

CVitrelDoc* CMainFrame::GetActiveDocument() const
{
    CChildFrame* frame = GetActiveFrame();
    return frame ? frame->GetDocument() : nullptr;
}

CVitrelView* CMainFrame::GetActiveView() const
{
    CChildFrame* frame = GetActiveFrame();
    return frame ? frame->GetView() : nullptr;
}

CVitrelDoc* CMainFrame::OpenDocumentFile(const QString& path)
{
    const QString full = QFileInfo(path).absoluteFilePath();
    for (QMdiSubWindow* window : m_pMdiArea->subWindowList()) {
        auto* frame = qobject_cast<CChildFrame*>(window);
        if (frame && !frame->IsClosing() && CVitrelDoc::IsSamePath(frame->GetDocument()->GetPathName(), full)) {
            m_pMdiArea->setActiveSubWindow(frame);
            OnSubWindowActivated(frame);
            return frame->GetDocument();
        }
    }

    auto doc = std::make_unique<CVitrelDoc>();
    try {
        doc->OnOpenDocument(full);
    } catch (const std::exception& e) {
        ShowErrorMessage(QString::fromStdString(ErrorMessageFor(e, QFile::encodeName(full).toStdString())));
        return nullptr;
    }

    // Only long recordings run a detector; short ones show the recorder's beats.
    if (IsLongRecordingKind(doc->GetFileKind()))
        doc->SetDetectorKind(m_bPreciseDetector ? DetectorKind::Precise : DefaultDetectorFor(doc->GetFileKind()));
    // 0 is one thread per core; one unless the setting asks for more.
    doc->SetThreadCount(AppSettings().value(kAnalysisThreadsKey, 0).toInt());

    CVitrelDoc* pDoc = doc.get();
    auto* frame = new CChildFrame(doc.release(), this);
    connect(frame->GetView(), &CVitrelView::commandStateChanged, this, &CMainFrame::UpdateCommandUI);
    CVitrelView* view = frame->GetView();
    connect(view, &CVitrelView::viewMoved, this, [this, view]() { OnViewMoved(view); });
    frame->GetView()->SetShowBeatClasses(m_bShowBeatClasses);
    connect(pDoc, &CVitrelDoc::documentClosing, this, &CMainFrame::OnDocumentClosing);
    connect(frame, &CChildFrame::documentClosed, this, &CMainFrame::OnDocumentClosed);
    frame->SetCloseGuard([this](CChildFrame* closing) { return ConfirmCloseReview(closing->GetDocument()); });
    m_pMdiArea->addSubWindow(frame);
    frame->showMaximized();
    m_pMdiArea->setActiveSubWindow(frame);
    // The workspace reports activation only while the main window is active;
    // a new document becomes the panes' document in any case.
    OnSubWindowActivated(frame);
    frame->GetView()->OnInitialUpdate();
    // The keys scroll the new recording at once.
    frame->GetView()->setFocus();
    m_recentFiles.Add(full);
    RebuildRecentFileMenu();
    UpdateFrameTitle();
    UpdateCommandUI();
    return pDoc;
}

bool CMainFrame::CloseAllDocuments()
{
    if (!m_pMdiArea)
        return true;
    m_bClosingAll = true;
    bool all = true;
    for (QMdiSubWindow* window : m_pMdiArea->subWindowList())
        if (!window->close()) {
            // Cancelled over an unsaved review: the others stay open too.
            all = false;
            break;
        }
    m_bClosingAll = false;
    if (!all)
        if (QMdiSubWindow* current = m_pMdiArea->currentSubWindow())
            OnSubWindowActivated(current);
    UpdateFrameTitle();
    UpdateCommandUI();
    return all;
}

QStringList CMainFrame::PromptForFileNames()
{
    QFileDialog dialog(this, ToQString(Text::kOpenTitle), QString(), ToQString(Text::kOpenFilter));
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setOption(QFileDialog::HideNameFilterDetails, true);
    dialog.setObjectName(QStringLiteral("OpenFileDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setOption(QFileDialog::ReadOnly, true);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles();
}

void CMainFrame::ShowErrorMessage(const QString& text)
{
    QMessageBox::warning(this, LoadQString(IDR_MAINFRAME), text);
}

void CMainFrame::OnFileOpen()
{
    OpenFiles(PromptForFileNames());
}

void CMainFrame::SetBeatClassesShown(bool on)
{
    m_bShowBeatClasses = on;
    AppSettings().setValue(kBeatClassesKey, on);
    for (QMdiSubWindow* window : m_pMdiArea->subWindowList())
        if (auto* frame = qobject_cast<CChildFrame*>(window))
            frame->GetView()->SetShowBeatClasses(on);
}

void CMainFrame::SetPreciseDetectorOn(bool on)
{
    m_bPreciseDetector = on;
    AppSettings().setValue(kPreciseDetectorKey, on);
    UpdateCommandUI();
}

void CMainFrame::OnOpenRecentFile(int index)
{
    const QString path = m_recentFiles.GetFiles().value(index);
    if (path.isEmpty())
        return;
    if (!OpenDocumentFile(path)) {
        m_recentFiles.Remove(index);
        RebuildRecentFileMenu();
    }
}

void CMainFrame::OnCommand(int id)
{
    if (const auto mode = PrintModeFor(id)) {
        // The view enables the print commands; the frame runs the dialogs.
        if (CVitrelView* view = GetActiveView(); view && view->IsCommandEnabled(id))
            RunPrintJob(view, *mode);
    } else if (CVitrelView::HandlesCommand(id)) {
        if (CVitrelView* view = GetActiveView())
            view->OnCommand(id);
    } else if (id >= ID_FILE_MRU_FILE1 && id <= ID_FILE_MRU_LAST) {
        OnOpenRecentFile(id - ID_FILE_MRU_FILE1);
    } else {
        switch (id) {
        case ID_FILE_OPEN: OnFileOpen(); break;
        case ID_FILE_EXPORT: OnFileExport(); break;
        case ID_FILE_SAVE_REVIEW:
            if (CVitrelDoc* doc = GetActiveDocument(); doc && doc->IsEditable())
                SaveReview(doc);
            break;
        case ID_VIEW_PRECISE_QRS: SetPreciseDetectorOn(!m_bPreciseDetector); break;
        case ID_VIEW_BEAT_CLASSES: SetBeatClassesShown(!m_bShowBeatClasses); break;
        case ID_FILE_CLOSE:
            if (CChildFrame* frame = GetActiveFrame())
                frame->close();
            break;
        case ID_FILE_CLOSE_ALL: CloseAllDocuments(); break;
        case ID_FILE_PRINT_SETUP: RunPrinterSetup(this); break;
        case ID_APP_EXIT: close(); break;
        case ID_APP_ABOUT: OnAppAbout(); break;
        case ID_WINDOW_ARRANGE:
        case ID_WINDOW_TABS:
        case ID_WINDOW_CASCADE:
        case ID_WINDOW_TILE_HORZ: OnWindowCommand(id); break;
        default: break;
        }
    }
    UpdateCommandUI();
}

void CMainFrame::UpdateCommandUI()
{
    CVitrelView* view = GetActiveView();
    for (int id : kViewCommands) {
        QAction* action = m_actions.value(id);
        if (!action)
            continue;
        action->setEnabled(view && view->IsCommandEnabled(id));
        if (action->isCheckable())
            action->setChecked(view && view->IsCommandChecked(id));
    }
    if (QAction* action = m_actions.value(ID_FILE_EXPORT))
        action->setEnabled(CanExport());
    if (QAction* action = m_actions.value(ID_VIEW_PRECISE_QRS))
        action->setChecked(m_bPreciseDetector);
    if (QAction* action = m_actions.value(ID_VIEW_BEAT_CLASSES))
        action->setChecked(m_bShowBeatClasses);
    if (QAction* action = m_actions.value(ID_FILE_SAVE_REVIEW))
        action->setEnabled(GetActiveDocument() && GetActiveDocument()->IsEditable());
    for (int id : kMenuBeat)
        if (QAction* action = id != SEPARATOR ? m_actions.value(id) : nullptr)
            action->setEnabled(view && view->IsCommandEnabled(id));
    const bool anyDocument = view != nullptr;
    for (int id : {ID_FILE_CLOSE, ID_WINDOW_ARRANGE, ID_WINDOW_CASCADE, ID_WINDOW_TILE_HORZ, ID_WINDOW_TABS})
        if (QAction* action = m_actions.value(id))
            action->setEnabled(anyDocument);
}

void CMainFrame::UpdateFrameTitle()
{
    for (CVitrelDoc* open : GetDocuments())
        if (open->GetFrame())
            open->GetFrame()->setWindowTitle(open->GetTitle());
    CVitrelDoc* doc = GetActiveDocument();
    const QString title = LoadQString(IDR_MAINFRAME);
    setWindowTitle(doc ? title + QStringLiteral(" - ") + doc->GetTitle() : title);
}

void CMainFrame::OnSubWindowActivated(QMdiSubWindow* window)
{
    auto* frame = qobject_cast<CChildFrame*>(window);
    CVitrelView* view = frame && !frame->IsClosing() ? frame->GetView() : nullptr;
    CVitrelView* previous = m_pLastActiveView.data();
    if (view)
        view->OnActivateView(true, view, previous);
    else if (previous)
        previous->OnActivateView(false, nullptr, previous);
    if (view)
        m_pLastActiveView = view;
    UpdateFrameTitle();
    UpdateCommandUI();
}

void CMainFrame::OnDocumentClosing()
{
    // Whichever document closes, the active view is forgotten and the panes emptied.
    SetActiveView(nullptr);
    ClearPanes();
}

void CMainFrame::OnDocumentClosed(CChildFrame* closed)
{
    // A closing document empties the panes. When it was in the background the
    // workspace activates nothing, so the recording still on screen fills
    // them again; when it was the active one, the workspace activates the
    // next window itself.
    if (m_bClosingAll)
        return;
    QMdiSubWindow* current = m_pMdiArea->currentSubWindow();
    if (current && current != closed)
        OnSubWindowActivated(current);
}

QMenu* CMainFrame::GetContextMenu(int id) const
{
    if (id == IDR_BEAT_MENU)
        return m_pBeatMenu;
    return id == IDR_CONTEXT_MENU ? m_pContextMenu : nullptr;
}

bool CMainFrame::TrackContextMenu(int id, const QPoint& globalPos)
{
    QMenu* menu = GetContextMenu(id);
    if (!menu)
        return false;
    UpdateCommandUI();
    menu->exec(globalPos);
    return true;
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    if (!CloseAllDocuments()) {
        event->ignore();
        return;
    }
    SetActiveView(nullptr);
    QMainWindow::closeEvent(event);
}

// ---- The active view and its panes --------------------------------------

bool CMainFrame::IsActiveView(const CVitrelView* pView) const
{
    return g_pActiveView == pView;
}

void CMainFrame::SetActiveView(CVitrelView* pView)
{
    g_pActiveView = pView;
    m_paneSet.SetDocument(pView ? pView->GetDocument() : nullptr);
    OnViewMoved(pView);
}

void CMainFrame::FillResultPanes(CVitrelView* pView)
{
    const QString error = m_paneSet.FillResults(pView->GetDocument());
    // The recording went away after it was opened: the error is shown once the
    // activation or notification in progress has finished.
    if (!error.isEmpty())
        QTimer::singleShot(0, this, [this, error] { ShowErrorMessage(error); });
}

void CMainFrame::FillRhythmPane(CVitrelView* pView)
{
    m_paneSet.FillRhythm(pView->GetDocument());
}

// ---- The beat review ----------------------------------------------------

void CMainFrame::RepaintTrendPane()
{
    m_paneSet.RepaintTrend();
}

void CMainFrame::ClearPanes()
{
    m_paneSet.Clear();
}

void CMainFrame::CenterActiveView(uint32_t sample)
{
    if (g_pActiveView)
        g_pActiveView->CenterOnSample(sample);
}
