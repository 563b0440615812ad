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

#include <dlfcn.h>
#include <algorithm>
#include <optional>

#if __has_include(<QtGui/qguiapplication_platform.h>)
#include <QtGui/qguiapplication_platform.h>
#endif

#include "app/ChildFrame.h"
#include "resources/Resource.h"
#include "app/VitrelDoc.h"
#include "display/VitrelView.h"
#include "panes/AboutDlg.h"
#include "panes/Panes.h"
#include "app/PrintJob.h"
#include "analysis/DefaultDetector.h"
#include "analysis/EcgDocument.h"
#include "formats/Export.h"
#include "formats/StandardFile.h"
#include "recording/ErrorMessage.h"
#include "recording/File.h"
#include "resources/Menus.h"
#include "resources/QtResources.h"

CVitrelView* g_pActiveView = nullptr;

static void InitVitrelResources()
{
    Q_INIT_RESOURCE(vitrel);
}

namespace {

// Lock-key states from the X server's keyboard extension, when the program
// runs on X11; libX11 is already loaded by Qt's xcb platform there.
class CLockKeyReader {
public:
    CLockKeyReader()
    {
#if defined(QT_FEATURE_xcb) && QT_CONFIG(xcb)
        if (auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>())
            m_pDisplay = x11->display();
#endif
        if (!m_pDisplay)
            return;
        if (void* lib = dlopen("libX11.so.6", RTLD_LAZY | RTLD_NOLOAD))
            m_pfnGetState = reinterpret_cast<GetStateFn>(dlsym(lib, "XkbGetIndicatorState"));
    }
    bool IsAvailable() const { return m_pfnGetState != nullptr; }
    // Bits: 1 Caps Lock, 2 Num Lock, 4 Scroll Lock.
    unsigned GetState() const
    {
        unsigned state = 0;
        if (m_pfnGetState && m_pfnGetState(m_pDisplay, 0x0100 /* XkbUseCoreKbd */, &state) != 0)
            return 0;
        return state;
    }

private:
    using GetStateFn = int (*)(void*, unsigned, unsigned*);
    void* m_pDisplay = nullptr;
    GetStateFn m_pfnGetState = nullptr;
};

CLockKeyReader& LockKeys()
{
    static CLockKeyReader reader;
    return reader;
}

// The frame whose panes the pane accessors return.
CMainFrame* s_pPaneFrame = nullptr;

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
    setAcceptDrops(true);
}

CMainFrame::~CMainFrame()
{
    if (s_pPaneFrame == this)
        s_pPaneFrame = nullptr;
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

    CreateDockingPanes();
    s_pPaneFrame = this;
    UpdateCommandUI();
    return true;
}

// ---- Commands -----------------------------------------------------------

QAction* CMainFrame::MakeAction(int id, const char* icon)
{
    auto* action = new QAction(ToQString(MenuText(id)), this);
    action->setData(id);
    action->setObjectName(QStringLiteral("ID_%1").arg(id));
    const QString prompt = LoadQString(id);
    const qsizetype nl = prompt.indexOf(QLatin1Char('\n'));
    action->setStatusTip(nl < 0 ? prompt : prompt.left(nl));
    if (nl >= 0)
        action->setToolTip(prompt.mid(nl + 1));
    if (icon)
        action->setIcon(QIcon(QString::fromLatin1(icon)));
    action->setIconVisibleInMenu(false);
    connect(action, &QAction::triggered, this, [this, id]() { OnCommand(id); });
    m_actions.insert(id, action);
    return action;
}

bool CMainFrame::CreateActions()
{
    MakeAction(ID_FILE_OPEN, ":/icons/open.svg")->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    MakeAction(ID_FILE_EXPORT);
    MakeAction(ID_FILE_CLOSE)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
    MakeAction(ID_FILE_CLOSE_ALL);
    MakeAction(ID_FILE_PRINT, ":/icons/print.svg")->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    MakeAction(ID_FILE_PRINT_PREVIEW);
    MakeAction(ID_FILE_PRINT_SETUP);
    MakeAction(ID_APP_EXIT, ":/icons/exit.svg")->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    // Direct printing has no menu item; the action gives it an id and a state.
    MakeAction(ID_FILE_PRINT_DIRECT);
    for (int id : kMenuZoom)
        MakeAction(id)->setCheckable(true);
    MakeAction(ID_VIEW_GRID, ":/icons/grid.svg")->setCheckable(true);
    MakeAction(ID_VIEW_RMARKS, ":/icons/rmarks.svg")->setCheckable(true);
    // Ctrl+= is the same key as Ctrl++ without Shift on most layouts.
    MakeAction(ID_VIEW_ZOOM_IN)->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)});
    MakeAction(ID_VIEW_ZOOM_OUT)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Minus));
    MakeAction(ID_VIEW_PRECISE_QRS)->setCheckable(true);
    MakeAction(ID_WINDOW_CASCADE);
    MakeAction(ID_WINDOW_TILE_HORZ);
    MakeAction(ID_WINDOW_ARRANGE);
    MakeAction(ID_APP_ABOUT, ":/icons/about.svg");
    return true;
}

namespace {

// Adds the commands of a menu or bar resource to bar; returns the separator
// that follows the place of the recent files, when the list has one.
template <class Bar, size_t N>
QAction* AddCommands(Bar* bar, const int (&ids)[N], const QHash<int, QAction*>& actions)
{
    QAction* recentEnd = nullptr;
    bool afterRecent = false;
    for (int id : ids) {
        if (id == ID_FILE_MRU_FILE1) {
            afterRecent = true;
        } else if (id == SEPARATOR) {
            QAction* separator = bar->addSeparator();
            if (afterRecent)
                recentEnd = separator;
            afterRecent = false;
        } else {
            bar->addAction(actions.value(id));
        }
    }
    return recentEnd;
}

void AddViewCommands(QMenu* menu, const QHash<int, QAction*>& actions)
{
    AddCommands(menu->addMenu(ToQString(Text::kMenuZoom)), kMenuZoom, actions);
    AddCommands(menu, kMenuViewAfterZoom, actions);
}

}  // namespace

bool CMainFrame::CreateMenuBar()
{
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("IDR_MAINFRAME"));
    bar->setWindowTitle(ToQString(Text::kMenuBar));

    m_pFileMenu = bar->addMenu(ToQString(Text::kMenuFile));
    m_pRecentEnd = AddCommands(m_pFileMenu, kMenuFile, m_actions);
    connect(m_pFileMenu, &QMenu::aboutToShow, this, [this]() {
        RebuildRecentFileMenu();
        UpdateCommandUI();
    });
    RebuildRecentFileMenu();

    QMenu* view = bar->addMenu(ToQString(Text::kMenuView));
    AddViewCommands(view, m_actions);
    AddCommands(view, kMenuViewMain, m_actions);
    connect(view, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUI);

    QMenu* window = bar->addMenu(ToQString(Text::kMenuWindow));
    AddCommands(window, kMenuWindow, m_actions);
    connect(window, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUI);

    AddCommands(bar->addMenu(ToQString(Text::kMenuHelp)), kMenuHelp, m_actions);

    // Context menu 160 of the waveform view.
    m_pContextMenu = new QMenu(ToQString(Text::kContextMenu), this);
    m_pContextMenu->setObjectName(QStringLiteral("IDR_%1").arg(IDR_CONTEXT_MENU));
    AddViewCommands(m_pContextMenu, m_actions);
    connect(m_pContextMenu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUI);
    return true;
}

void CMainFrame::RebuildRecentFileMenu()
{
    for (QAction* action : m_recentActions) {
        m_pFileMenu->removeAction(action);
        m_actions.remove(action->data().toInt());
        action->deleteLater();
    }
    m_recentActions.clear();
    const QStringList& files = m_recentFiles.GetFiles();
    if (files.isEmpty()) {
        // The placeholder stands where the files will be.
        QAction* placeholder = new QAction(ToQString(MenuText(ID_FILE_MRU_FILE1)), this);
        placeholder->setData(ID_FILE_MRU_FILE1);
        placeholder->setObjectName(QStringLiteral("ID_%1").arg(ID_FILE_MRU_FILE1));
        placeholder->setStatusTip(LoadQString(ID_FILE_MRU_FILE1));
        placeholder->setEnabled(false);
        m_recentActions.append(placeholder);
    } else {
        for (int i = 0; i < files.size(); ++i) {
            const int id = ID_FILE_MRU_FILE1 + i;
            QAction* action = new QAction(m_recentFiles.GetDisplayName(i), this);
            action->setData(id);
            action->setObjectName(QStringLiteral("ID_%1").arg(id));
            action->setStatusTip(LoadQString(ID_FILE_MRU_FILE1));
            connect(action, &QAction::triggered, this, [this, id]() { OnCommand(id); });
            m_recentActions.append(action);
        }
    }
    for (QAction* action : m_recentActions) {
        m_pFileMenu->insertAction(m_pRecentEnd, action);
        if (action->isEnabled())
            m_actions.insert(action->data().toInt(), action);
    }
}

bool CMainFrame::CreateToolBar()
{
    m_pToolBar = addToolBar(ToQString(Text::kToolBar));
    if (!m_pToolBar)
        return false;
    m_pToolBar->setObjectName(QStringLiteral("IDR_%1").arg(IDR_MAINFRAME));
    m_pToolBar->setIconSize(QSize(16, 16));
    m_pToolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    AddCommands(m_pToolBar, kToolBarMain, m_actions);
    return true;
}

bool CMainFrame::CreateStatusBar()
{
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("ID_%1").arg(ID_STATUS_BAR));
    auto* idle = new QLabel(LoadQString(AFX_IDS_IDLEMESSAGE), bar);
    idle->setObjectName(QStringLiteral("ID_SEPARATOR"));
    bar->addWidget(idle, 1);
    const char* names[] = {"CAP", "NUM", "SCRL"};
    for (int i = 0; i < 3; ++i) {
        m_indicators[i] = new QLabel(QString::fromLatin1(names[i]), bar);
        m_indicators[i]->setObjectName(QStringLiteral("ID_INDICATOR_%1").arg(QString::fromLatin1(names[i])));
        m_indicators[i]->setAlignment(Qt::AlignCenter);
        m_indicators[i]->setMinimumWidth(m_indicators[i]->fontMetrics().horizontalAdvance(QStringLiteral("SCRL")) + 12);
        m_indicators[i]->setEnabled(false);
        bar->addPermanentWidget(m_indicators[i]);
    }
    if (LockKeys().IsAvailable()) {
        m_pIndicatorTimer = new QTimer(this);
        connect(m_pIndicatorTimer, &QTimer::timeout, this, &CMainFrame::UpdateIndicators);
        m_pIndicatorTimer->start(250);
        UpdateIndicators();
    }
    return true;
}

QLabel* CMainFrame::GetIndicator(int index) const
{
    return index >= 0 && index < 3 ? m_indicators[index] : nullptr;
}

void CMainFrame::UpdateIndicators()
{
    const unsigned state = LockKeys().GetState();
    for (int i = 0; i < 3; ++i)
        m_indicators[i]->setEnabled((state >> i) & 1u);
}

// ---- Docking panes ------------------------------------------------------

QDockWidget* CMainFrame::CreatePane(int id, CDialogEx* dialog, Qt::DockWidgetArea area)
{
    // The pane id is also the string id of its caption.
    auto* pane = new QDockWidget(LoadQString(id), this);
    pane->setObjectName(QString::number(id));
    pane->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable |
                      QDockWidget::DockWidgetFloatable);
    m_panes.insert(id, pane);
    dialog->Create(this);
    pane->setWidget(dialog);
    addDockWidget(area, pane);
    connect(dialog, &CDialogEx::centerRequested, this, &CMainFrame::CenterActiveView);
    return pane;
}

void CMainFrame::CreateDockingPanes()
{
    m_pTrendPane = new CHeartRateTrendDlg;
    m_pAbnormalPane = new CAbnormalWaveDlg;
    m_pResultPane = new CAnalyzeResultDlg;
    m_pRhythmPane = new CHeartRateDlg;
    QDockWidget* trend = CreatePane(IDR_PANE_TREND, m_pTrendPane, Qt::BottomDockWidgetArea);
    trend->setMinimumSize(480, 160);
    QDockWidget* abnormal = CreatePane(IDR_PANE_ABNORMAL, m_pAbnormalPane, Qt::LeftDockWidgetArea);
    QDockWidget* result = CreatePane(IDR_PANE_RESULT, m_pResultPane, Qt::RightDockWidgetArea);
    result->setMinimumSize(260, 394);
    QDockWidget* rhythm = CreatePane(IDR_PANE_RHYTHM, m_pRhythmPane, Qt::LeftDockWidgetArea);
    splitDockWidget(abnormal, rhythm, Qt::Vertical);

    ApplyInitialPaneSizes();
    result->show();
    result->raise();
}

void CMainFrame::ApplyInitialPaneSizes()
{
    QDockWidget* trend = m_panes.value(IDR_PANE_TREND);
    QDockWidget* abnormal = m_panes.value(IDR_PANE_ABNORMAL);
    QDockWidget* result = m_panes.value(IDR_PANE_RESULT);
    QDockWidget* rhythm = m_panes.value(IDR_PANE_RHYTHM);
    if (!trend || !abnormal || !result || !rhythm)
        return;
    resizeDocks({trend}, {240}, Qt::Vertical);
    resizeDocks({abnormal, result}, {290, 280}, Qt::Horizontal);
    resizeDocks({abnormal, rhythm}, {120, 120}, Qt::Vertical);
}

void CMainFrame::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    // The dock layout only honours sizes once the frame has its real size.
    if (!m_bSized) {
        m_bSized = true;
        QTimer::singleShot(0, this, &CMainFrame::ApplyInitialPaneSizes);
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

    CVitrelDoc* pDoc = doc.get();
    auto* frame = new CChildFrame(doc.release(), this);
    connect(frame->GetView(), &CVitrelView::commandStateChanged, this, &CMainFrame::UpdateCommandUI);
    connect(pDoc, &CVitrelDoc::documentClosing, this, &CMainFrame::OnDocumentClosing);
    connect(frame, &CChildFrame::documentClosed, this, &CMainFrame::OnDocumentClosed);
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

bool CMainFrame::OpenFiles(const QStringList& paths)
{
    for (const QString& path : paths)
        if (!OpenDocumentFile(path))
            return false;
    return true;
}

void CMainFrame::OpenFilesLater(const QStringList& paths)
{
    if (!paths.isEmpty())
        QTimer::singleShot(0, this, [this, paths] { OpenFiles(paths); });
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (!urls.isEmpty() && std::all_of(urls.begin(), urls.end(), [](const QUrl& url) { return url.isLocalFile(); }))
        event->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent* event)
{
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile())
            paths << url.toLocalFile();
    if (paths.isEmpty())
        return;
    event->acceptProposedAction();
    // Opened after the drop has ended: an error box must not hold the source's drag.
    OpenFilesLater(paths);
}

void CMainFrame::CloseAllDocuments()
{
    if (!m_pMdiArea)
        return;
    m_bClosingAll = true;
    for (QMdiSubWindow* window : m_pMdiArea->subWindowList())
        window->close();
    m_bClosingAll = false;
    UpdateFrameTitle();
    UpdateCommandUI();
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

void CMainFrame::SetPreciseDetectorOn(bool on)
{
    m_bPreciseDetector = on;
    AppSettings().setValue(kPreciseDetectorKey, on);
    UpdateCommandUI();
}

// ---- Export ---------------------------------------------------------------

namespace {

// The beats are final and no run is still going (statistics included).
bool IsAnalysisComplete(const CVitrelDoc* doc)
{
    return doc && doc->IsDetectionDone() && !doc->HasRunFailed() && !doc->IsAnalysisRunning();
}

}  // namespace

bool CMainFrame::CanExport() const
{
    return IsAnalysisComplete(GetActiveDocument());
}

bool CMainFrame::PromptForExportTarget(const CVitrelDoc* doc, QString* target, ExportKind* kind)
{
    const QStringList filters{ToQString(Text::kExportFilterCsv), ToQString(Text::kExportFilterEdf),
                              ToQString(Text::kExportFilterWfdb)};
    const QFileInfo recording(doc->GetPathName());
    QFileDialog dialog(this, ToQString(Text::kExportTitle), recording.absolutePath());
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setObjectName(QStringLiteral("ExportFileDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(filters);
    dialog.setLabelText(QFileDialog::LookIn, ToQString(Text::kExportLookIn));
    dialog.setLabelText(QFileDialog::FileName, ToQString(Text::kExportFileName));
    dialog.setLabelText(QFileDialog::FileType, ToQString(Text::kExportFileType));
    dialog.setLabelText(QFileDialog::Accept, ToQString(Text::kExportAccept));
    dialog.setLabelText(QFileDialog::Reject, ToQString(Text::kExportReject));
    dialog.selectFile(recording.completeBaseName() + QStringLiteral(".csv"));
    // The suggested name follows the kind.
    connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog, &filters, &recording](const QString& filter) {
        static const char* const kSuffixes[] = {".csv", ".edf", ".hea"};
        const qsizetype i = filters.indexOf(filter);
        if (i >= 0)
            dialog.selectFile(recording.completeBaseName() + QLatin1String(kSuffixes[i]));
    });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    *target = dialog.selectedFiles().constFirst();
    // A suffix typed for one of the kinds wins over the filter left as it was.
    const QString suffix = QFileInfo(*target).suffix().toLower();
    qsizetype index = filters.indexOf(dialog.selectedNameFilter());
    if (suffix == QLatin1String("csv"))
        index = 0;
    else if (suffix == QLatin1String("edf"))
        index = 1;
    else if (suffix == QLatin1String("hea"))
        index = 2;
    switch (index) {
    case 1: *kind = ExportKind::EdfPlus; break;
    case 2: *kind = ExportKind::Wfdb; break;
    default: *kind = ExportKind::BeatsCsv; break;
    }
    if (*kind != ExportKind::Wfdb)
        return true;
    // The dialog asked about the name typed; the record takes the recording's name.
    const QFileInfo chosen(*target);
    const QString dir = chosen.isDir() ? chosen.absoluteFilePath() : chosen.absolutePath();
    const QString header = QDir(dir).filePath(
        QString::fromStdString(WfdbRecordName(CFile::FileTitleOf(doc->GetFilePath()))) + QStringLiteral(".hea"));
    if (!QFileInfo::exists(header) || QFileInfo(header) == chosen)
        return true;
    return QMessageBox::question(this, ToQString(Text::kExportTitle), ToQString(Text::kExportReplaceRecord).arg(header),
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

void CMainFrame::OnFileExport()
{
    CVitrelDoc* doc = GetActiveDocument();
    if (!doc || !CanExport())
        return;
    QString target;
    ExportKind kind = ExportKind::BeatsCsv;
    if (PromptForExportTarget(doc, &target, &kind))
        ExportDocument(doc, target, kind);
}

bool CMainFrame::ExportDocument(CVitrelDoc* doc, const QString& target, ExportKind kind)
{
    if (!IsAnalysisComplete(doc))
        return false;
    const auto native = [](const QString& path) { return QFile::encodeName(path).toStdString(); };
    QFileInfo info(target);
    QString path = info.absoluteFilePath();
    if (kind != ExportKind::Wfdb && info.suffix().isEmpty())
        path += kind == ExportKind::BeatsCsv ? QStringLiteral(".csv") : QStringLiteral(".edf");

    // The files the export writes; none of them may be a recording that is open.
    std::vector<std::string> outputs;
    std::string wfdbDir;
    const std::string recordName = WfdbRecordName(CFile::FileTitleOf(doc->GetFilePath()));
    if (kind == ExportKind::Wfdb) {
        wfdbDir = native(info.isDir() ? path : info.absolutePath());
        outputs = WfdbRecordFiles(wfdbDir, recordName);
    } else {
        outputs.push_back(native(path));
    }
    std::vector<std::string> inputs;
    for (const CVitrelDoc* open : GetDocuments()) {
        inputs.push_back(open->GetFilePath());
        for (const std::string& companion : CompanionFiles(open->GetFilePath()))
            inputs.push_back(companion);
    }
    for (const std::string& out : outputs) {
        for (const std::string& in : inputs) {
            if (IsSameFile(out, in)) {
                ShowErrorMessage(ToQString(Text::kExportOverRecording).arg(QFile::decodeName(QByteArray::fromStdString(out))));
                return false;
            }
        }
    }

    ExportInput in;
    doc->GetBeatsInRange(0, UINT32_MAX, in.beats);
    doc->GetAbnormalBeats(in.abnormal);
    std::sort(in.abnormal.begin(), in.abnormal.end());
    in.leadLabel = "ECG";
    if (const auto* standard = dynamic_cast<const CStandardFile*>(doc->GetEcgFile()))
        in.leadLabel = standard->Recording().leadLabel;
    std::string error;
    bool written = false;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    try {
        CEcgFile* ecg = doc->GetEcgFile();
        if (!ecg)
            throw CFileException(CFileException::fileNotFound, -1, doc->GetFilePath());
        in.hasStartTime = ecg->GetStartTime(&in.startTime);
        switch (kind) {
        case ExportKind::BeatsCsv: written = WriteBeatsCsv(outputs.front(), in, &error); break;
        case ExportKind::EdfPlus: written = WriteEdfPlus(outputs.front(), *ecg, in, &error); break;
        case ExportKind::Wfdb: written = WriteWfdbRecord(wfdbDir, recordName, *ecg, in, &error); break;
        }
    } catch (const std::exception& e) {
        // The recording failed while it was read: nothing was put in place.
        error = ErrorMessageFor(e, doc->GetFilePath());
    }
    QApplication::restoreOverrideCursor();
    if (written)
        return true;
    // A file that could not be written is named with the system's reason.
    QString text = ToQString(Text::kCannotExport).arg(QString::fromLocal8Bit(error.c_str()));
    for (const std::string& out : outputs)
        if (error.size() > out.size() + 2 && error.compare(0, out.size() + 2, out + ": ") == 0)
            text = ToQString(Text::kCannotWriteExport)
                       .arg(QFile::decodeName(QByteArray::fromStdString(out)),
                            QString::fromLocal8Bit(error.c_str() + out.size() + 2));
    ShowErrorMessage(text);
    return false;
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

void CMainFrame::OnAppAbout()
{
    CAboutDlg dialog(this);
    dialog.exec();
}

void CMainFrame::OnWindowCommand(int id)
{
    // The workspace shows tabs; cascading and tiling lay the documents out as
    // free windows, and arranging returns them to tabs.
    if (id == ID_WINDOW_ARRANGE) {
        m_pMdiArea->setViewMode(QMdiArea::TabbedView);
        return;
    }
    m_pMdiArea->setViewMode(QMdiArea::SubWindowView);
    for (QMdiSubWindow* window : m_pMdiArea->subWindowList())
        window->showNormal();
    if (id == ID_WINDOW_CASCADE)
        m_pMdiArea->cascadeSubWindows();
    else
        m_pMdiArea->tileSubWindows();
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
        case ID_VIEW_PRECISE_QRS: SetPreciseDetectorOn(!m_bPreciseDetector); break;
        case ID_FILE_CLOSE:
            if (CChildFrame* frame = GetActiveFrame())
                frame->close();
            break;
        case ID_FILE_CLOSE_ALL: CloseAllDocuments(); break;
        case ID_FILE_PRINT_SETUP: RunPrinterSetup(this); break;
        case ID_APP_EXIT: close(); break;
        case ID_APP_ABOUT: OnAppAbout(); break;
        case ID_WINDOW_ARRANGE:
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
    const bool anyDocument = view != nullptr;
    for (int id : {ID_FILE_CLOSE, ID_WINDOW_ARRANGE, ID_WINDOW_CASCADE, ID_WINDOW_TILE_HORZ})
        if (QAction* action = m_actions.value(id))
            action->setEnabled(anyDocument);
}

void CMainFrame::UpdateFrameTitle()
{
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
    SetActiveView(nullptr);
    CloseAllDocuments();
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
    // The panes read the document of the active view, and only that one.
    const CEcgDocument* doc = pView ? pView->GetDocument() : nullptr;
    for (CDialogEx* pane : std::initializer_list<CDialogEx*>{m_pResultPane, m_pRhythmPane, m_pAbnormalPane, m_pTrendPane})
        if (pane)
            pane->SetDocument(doc);
}

void CMainFrame::FillResultPanes(CVitrelView* pView)
{
    CEcgDocument* doc = pView->GetDocument();
    if (!doc || !m_pResultPane)
        return;
    if (doc->GetFileKind() != 0) {
        try {
            m_pResultPane->ShowResults(doc->GetFileKind(), QFile::decodeName(QByteArray::fromStdString(doc->GetFilePath())));
        } catch (const std::exception& e) {
            // The recording went away after it was opened: the pane stays cleared and the
            // error is shown once the activation or notification in progress has finished.
            const QString text = QString::fromStdString(ErrorMessageFor(e, doc->GetFilePath()));
            QTimer::singleShot(0, this, [this, text] { ShowErrorMessage(text); });
        }
    }
    m_pAbnormalPane->DeleteAllItems();
    std::vector<uint32_t> beats;
    doc->GetAbnormalBeats(beats);
    for (uint32_t pos : beats)
        m_pAbnormalPane->AddAbnormalRow(pos);
    m_pTrendPane->update();
}

void CMainFrame::FillRhythmPane(CVitrelView* pView)
{
    CEcgDocument* doc = pView->GetDocument();
    if (!doc || !m_pRhythmPane)
        return;
    m_pRhythmPane->DeleteAllItems();
    std::vector<const HourRateStats*> hours;
    doc->GetHourStats(hours);
    for (const HourRateStats* record : hours)
        m_pRhythmPane->AddHourRow(record);
    m_pTrendPane->update();
}

void CMainFrame::RepaintTrendPane()
{
    if (m_pTrendPane)
        m_pTrendPane->update();
}

void CMainFrame::ClearPanes()
{
    if (!m_pResultPane)
        return;
    m_pRhythmPane->DeleteAllItems();
    m_pAbnormalPane->DeleteAllItems();
    m_pResultPane->ClearResults();
    m_pTrendPane->update();
}

void CMainFrame::CenterActiveView(uint32_t sample)
{
    if (g_pActiveView)
        g_pActiveView->CenterOnSample(sample);
}

// ---- Pane accessors -----------------------------------------------------

namespace {

// A pane for callers that come while there is no main frame; it lives
// until the application quits.
template <class T>
T* PaneWithoutFrame()
{
    static QPointer<T> s_pane;
    if (!s_pane) {
        s_pane = new T;
        if (QCoreApplication* app = QCoreApplication::instance())
            QObject::connect(app, &QCoreApplication::aboutToQuit, s_pane.data(), [] { delete s_pane.data(); });
    }
    return s_pane.data();
}

}  // namespace

CAnalyzeResultDlg* GetAnalyzeResultDlg()
{
    return s_pPaneFrame ? s_pPaneFrame->GetResultPane() : PaneWithoutFrame<CAnalyzeResultDlg>();
}

CHeartRateDlg* GetHeartRateDlg()
{
    return s_pPaneFrame ? s_pPaneFrame->GetRhythmPane() : PaneWithoutFrame<CHeartRateDlg>();
}

CAbnormalWaveDlg* GetAbnormalWaveDlg()
{
    return s_pPaneFrame ? s_pPaneFrame->GetAbnormalPane() : PaneWithoutFrame<CAbnormalWaveDlg>();
}

CHeartRateTrendDlg* GetHeartRateTrendDlg()
{
    return s_pPaneFrame ? s_pPaneFrame->GetTrendPane() : PaneWithoutFrame<CHeartRateTrendDlg>();
}
