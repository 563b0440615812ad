// The main frame's actions, menus, tool bar and status bar.
#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

#include <QMdiArea>
#include <QMdiSubWindow>

#include "app/ChildFrame.h"
#include "panes/AboutDlg.h"
#include "app/LockKeys.h"
#include "app/MainFrame.h"
#include "resources/Menus.h"
#include "resources/QtResources.h"
#include "resources/Resource.h"

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
    MakeAction(ID_VIEW_BEAT_CLASSES)->setCheckable(true);
    MakeAction(ID_WINDOW_CASCADE);
    MakeAction(ID_WINDOW_TILE_HORZ);
    MakeAction(ID_WINDOW_ARRANGE);
    MakeAction(ID_WINDOW_TABS);
    MakeAction(ID_APP_ABOUT, ":/icons/about.svg");
    MakeAction(ID_FILE_SAVE_REVIEW)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    // The view reads the beat keys itself; the actions serve the beat menu.
    for (int id : kMenuBeat)
        if (id != SEPARATOR)
            MakeAction(id);
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
    // The lead choice goes before the analysis commands, 显示心搏分类 stays last.
    m_pLeadMenu = new QMenu(ToQString(Text::kMenuLeads), view);
    m_pLeadMenu->setObjectName(QStringLiteral("IDR_LEAD_MENU"));
    QAction* before = nullptr;
    for (QAction* action : view->actions())
        if (action->data().toInt() == ID_VIEW_PRECISE_QRS)
            before = action;
    view->insertMenu(before, m_pLeadMenu);
    connect(view, &QMenu::aboutToShow, this, [this]() {
        UpdateCommandUI();
        UpdateLeadMenu();
    });

    QMenu* window = bar->addMenu(ToQString(Text::kMenuWindow));
    AddCommands(window, kMenuWindow, m_actions);
    connect(window, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUI);

    AddCommands(bar->addMenu(ToQString(Text::kMenuHelp)), kMenuHelp, m_actions);

    // The waveform view's context menu.
    m_pContextMenu = new QMenu(ToQString(Text::kContextMenu), this);
    m_pContextMenu->setObjectName(QStringLiteral("IDR_%1").arg(IDR_CONTEXT_MENU));
    AddViewCommands(m_pContextMenu, m_actions);
    connect(m_pContextMenu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUI);
    // The menu over a beat.
    m_pBeatMenu = new QMenu(this);
    m_pBeatMenu->setObjectName(QStringLiteral("IDR_%1").arg(IDR_BEAT_MENU));
    AddCommands(m_pBeatMenu, kMenuBeat, m_actions);
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

void CMainFrame::OnAppAbout()
{
    CAboutDlg dialog(this);
    dialog.exec();
}

void CMainFrame::OnWindowCommand(int id)
{
    // The workspace shows tabs; cascading and tiling lay the documents out as
    // free windows, and arranging or the tabs command returns them to tabs.
    const QList<QMdiSubWindow*> windows = m_pMdiArea->subWindowList();
    if (id == ID_WINDOW_ARRANGE || id == ID_WINDOW_TABS) {
        m_pMdiArea->setViewMode(QMdiArea::TabbedView);
        for (QMdiSubWindow* window : windows)
            window->showMaximized();
        return;
    }
    m_pMdiArea->setViewMode(QMdiArea::SubWindowView);
    for (QMdiSubWindow* window : windows)
        window->showNormal();
    if (id == ID_WINDOW_CASCADE)
        m_pMdiArea->cascadeSubWindows();
    else
        m_pMdiArea->tileSubWindows();
}

