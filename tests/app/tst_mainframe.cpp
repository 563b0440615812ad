// The main frame: menus, tool bar, status bar and panes by id and text; the
// open/close life cycle of documents; closing during a running analysis; the
// detector setting, the export, files dropped or named on the command line.
#include <QAbstractButton>
#include <QComboBox>
#include <QDockWidget>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QLabel>
#include <QMdiArea>
#include <QMimeData>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QSettings>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QToolBar>
#include <QtTest>

#include "app/ChildFrame.h"
#include "app/ExportDialog.h"
#include "app/MainFrame.h"
#include "app/VitrelApp.h"
#include "resources/Resource.h"
#include "app/VitrelDoc.h"
#include "display/EcgPainter.h"
#include "display/VitrelView.h"
#include "panes/Panes.h"
#include "resources/QtResources.h"
#include "support/TestFrame.h"
#include "support/QtSupport.h"

using namespace testsupport;

namespace {

// "id text" per item of a menu; "-" for separators, ">title" for pop-ups.
QStringList Describe(const QMenu* menu)
{
    QStringList items;
    for (QAction* action : menu->actions()) {
        if (action->isSeparator())
            items << QStringLiteral("-");
        else if (action->menu())
            items << QStringLiteral(">") + action->text();
        else
            items << QStringLiteral("%1 %2").arg(action->data().toInt()).arg(action->text());
    }
    return items;
}

// A menu item as Describe gives it.
QString Item(int id, const char* text)
{
    return QStringLiteral("%1 %2").arg(id).arg(QString::fromUtf8(text));
}

}  // namespace

class TestMainFrame : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void menus();
    void toolBarAndStatusBar();
    void dockingPanes();
    void openAndClose();
    void openFailures();
    void duplicateOpen();
    void recentFiles();
    void closeWhileAnalysing();
    void closeFrameWhileAnalysing();
    void recordingRemovedWhileOpen();
    void preciseDetectorCommand();
    void exportEachKind();
    void windowLayouts();
    void exportDialog();
    void filesFromOutside();

private:
    QString LongRecording(const QString& name, uint32_t minutes);
    // A day of silence: its analysis runs long enough to be caught running.
    QString DayLongRecording(const QString& name)
    {
        return WriteSparseFile(m_dir.path(), name, uint64_t(24) * 3600 * 250 * 2);
    }
    QTemporaryDir m_dir;
    QTemporaryDir m_settings;
};

void TestMainFrame::initTestCase()
{
    QVERIFY(m_dir.isValid());
    IsolateSettings(m_settings.path());
}

void TestMainFrame::init()
{
    QSettings(QStringLiteral("VITREL-ECG"), QStringLiteral("vitrel-ecg")).clear();
}

QString TestMainFrame::LongRecording(const QString& name, uint32_t minutes)
{
    const QString path = QDir(m_dir.path()).filePath(name);
    if (!QFile::exists(path))
        WriteSamples(m_dir.path(), name, SpikeTrain(minutes * 60 * 250, 190));
    return path;
}

void TestMainFrame::menus()
{
    CTestFrame frame;
    QVERIFY(frame.OnCreate());
    QCOMPARE(frame.windowTitle(), QStringLiteral("Kardel 心电分析软件 v" VITREL_VERSION));
    QMenuBar* bar = frame.menuBar();
    QCOMPARE(bar->windowTitle(), QStringLiteral("菜单栏"));
    QStringList tops;
    for (QAction* action : bar->actions())
        tops << action->text();
    QCOMPARE(tops, (QStringList{QStringLiteral("文件(&F)"), QStringLiteral("查看(&V)"), QStringLiteral("窗口(&W)"),
                                QStringLiteral("帮助(&H)")}));

    const QList<QAction*> menus = bar->actions();
    QCOMPARE(Describe(menus[0]->menu()),
             (QStringList{Item(ID_FILE_OPEN, "打开文件(&O)..."), Item(ID_FILE_EXPORT, "导出(&E)..."), QStringLiteral("-"), Item(ID_FILE_CLOSE, "关闭文件(&C)"),
                          Item(ID_FILE_CLOSE_ALL, "关闭全部(&L)"), QStringLiteral("-"), Item(ID_FILE_PRINT, "打印心电(&P)..."),
                          Item(ID_FILE_PRINT_PREVIEW, "打印预览(&V)"), Item(ID_FILE_PRINT_SETUP, "打印设置(&R)..."), QStringLiteral("-"),
                          Item(ID_FILE_MRU_FILE1, "历史文档"), QStringLiteral("-"), Item(ID_APP_EXIT, "退出(&X)"),
                          QStringLiteral("-"), Item(ID_FILE_SAVE_REVIEW, "保存审核(&S)")}));
    const QStringList viewItems{QStringLiteral(">视图缩放(&Z)"), QStringLiteral("-"), Item(ID_VIEW_GRID, "参考线(&G)"),
                                Item(ID_VIEW_RMARKS, "R 波标注(&R)")};
    QCOMPARE(Describe(menus[1]->menu()),
             viewItems + (QStringList{QStringLiteral("-"), Item(ID_VIEW_ZOOM_IN, "放大(&I)"), Item(ID_VIEW_ZOOM_OUT, "缩小(&O)"),
                                      QStringLiteral("-"), QStringLiteral(">导联(&L)"), Item(ID_VIEW_PRECISE_QRS, "高精度 QRS 检测(&Q)"),
                                                 Item(ID_VIEW_BEAT_CLASSES, "显示心搏分类(&B)")}));
    const QStringList zooms{Item(ID_ZOOM_50, "50%"),  Item(ID_ZOOM_75, "75%"),  Item(ID_ZOOM_100, "100%"),
                            Item(ID_ZOOM_125, "125%"), Item(ID_ZOOM_150, "150%"), Item(ID_ZOOM_200, "200%"),
                            Item(ID_ZOOM_300, "300%"), Item(ID_ZOOM_400, "400%")};
    QCOMPARE(Describe(menus[1]->menu()->actions()[0]->menu()), zooms);
    QCOMPARE(Describe(menus[2]->menu()),
             (QStringList{Item(ID_WINDOW_CASCADE, "层叠排列(&C)"), Item(ID_WINDOW_TILE_HORZ, "平铺窗口(&T)"),
                          Item(ID_WINDOW_ARRANGE, "排列图标(&A)"), QStringLiteral("-"),
                          Item(ID_WINDOW_TABS, "标签页(&B)")}));
    QCOMPARE(Describe(menus[3]->menu()), QStringList{Item(ID_APP_ABOUT, "关于(&A)...")});

    // The context menu holds the view menu's first commands.
    QMenu* context = frame.GetContextMenu(IDR_CONTEXT_MENU);
    QVERIFY(context);
    QCOMPARE(context->title(), QStringLiteral("&ContextMenu"));
    QCOMPARE(Describe(context), viewItems);
    QCOMPARE(Describe(context->actions()[0]->menu()), zooms);
    QVERIFY(!frame.GetContextMenu(IDR_CONTEXT_MENU + 1));

    // Ids as object names, prompts before "\n", tool tips after it.
    const struct { int id; const char* tip; const char* toolTip; } prompts[] = {
        {ID_FILE_OPEN, "打开已存在的文件", "打开"},
        {ID_FILE_CLOSE, "关闭当前文件", nullptr},
        {ID_FILE_CLOSE_ALL, "关闭所有已打开的文件", nullptr},
        {ID_FILE_PRINT, "打印当前心电文档", "打印"},
        {ID_FILE_PRINT_PREVIEW, "显示心电报告打印预览", nullptr},
        {ID_FILE_PRINT_SETUP, "更改打印机相关选项", "打印设置"},
        {ID_WINDOW_ARRANGE, "排列窗口图标", nullptr},
        {ID_WINDOW_CASCADE, "层叠排列窗口", nullptr},
        {ID_WINDOW_TILE_HORZ, "横向平铺窗口", nullptr},
        {ID_APP_ABOUT, "显示程序信息，版本号以及版权信息", "关于"},
        {ID_APP_EXIT, "退出应用程序", "退出"},
        {ID_VIEW_GRID, "显示或隐藏参考线", "参考线"},
        {ID_VIEW_RMARKS, "显示或隐藏 R 波标注", "R 波标注"},
    };
    for (const auto& p : prompts) {
        QAction* action = frame.GetAction(p.id);
        QVERIFY2(action, qPrintable(QString::number(p.id)));
        QCOMPARE(action->objectName(), QStringLiteral("ID_%1").arg(p.id));
        QCOMPARE(action->data().toInt(), p.id);
        QCOMPARE(action->statusTip(), QString::fromUtf8(p.tip));
        if (p.toolTip)
            QCOMPARE(action->toolTip(), QString::fromUtf8(p.toolTip));
    }
    QCOMPARE(frame.GetAction(ID_FILE_PRINT_DIRECT)->objectName(), QStringLiteral("ID_%1").arg(ID_FILE_PRINT_DIRECT));

    // The shortcuts the menus show.
    const struct { int id; const char* keys; } shortcuts[] = {
        {ID_FILE_OPEN, "Ctrl+O"}, {ID_FILE_PRINT, "Ctrl+P"},     {ID_FILE_CLOSE, "Ctrl+W"},
        {ID_APP_EXIT, "Ctrl+Q"},  {ID_VIEW_ZOOM_IN, "Ctrl++"},   {ID_VIEW_ZOOM_OUT, "Ctrl+-"},
    };
    for (const auto& k : shortcuts)
        QCOMPARE(frame.GetAction(k.id)->shortcut().toString(), QString::fromLatin1(k.keys));
    QCOMPARE(frame.GetAction(ID_VIEW_ZOOM_IN)->shortcuts().value(1).toString(), QStringLiteral("Ctrl+="));

    // Without a document the view's commands are disabled; open and exit are not.
    frame.UpdateCommandUI();
    for (int id : {ID_ZOOM_100, ID_VIEW_GRID, ID_VIEW_RMARKS, ID_FILE_PRINT, ID_FILE_PRINT_PREVIEW, ID_FILE_CLOSE,
                   ID_WINDOW_CASCADE, ID_FILE_EXPORT, ID_VIEW_ZOOM_IN})
        QVERIFY2(!frame.GetAction(id)->isEnabled(), qPrintable(QString::number(id)));
    for (int id : {ID_FILE_OPEN, ID_FILE_CLOSE_ALL, ID_FILE_PRINT_SETUP, ID_APP_ABOUT, ID_APP_EXIT, ID_VIEW_PRECISE_QRS})
        QVERIFY(frame.GetAction(id)->isEnabled());
}

void TestMainFrame::toolBarAndStatusBar()
{
    CTestFrame frame;
    QVERIFY(frame.OnCreate());
    QToolBar* tools = frame.GetToolBar();
    QCOMPARE(tools->windowTitle(), QStringLiteral("工具栏"));
    QCOMPARE(tools->iconSize(), QSize(16, 16));
    QList<int> ids;
    for (QAction* action : tools->actions()) {
        ids << (action->isSeparator() ? 0 : action->data().toInt());
        if (!action->isSeparator()) {
            QVERIFY(!action->icon().isNull());
            QVERIFY(!action->icon().pixmap(16, 16).isNull());
            QVERIFY(!action->icon().pixmap(32, 32).isNull());
        }
    }
    QCOMPARE(ids, (QList<int>{ID_FILE_OPEN, 0, ID_FILE_PRINT, 0, ID_VIEW_GRID, ID_VIEW_RMARKS, 0, ID_APP_ABOUT, 0, ID_APP_EXIT}));
    QCOMPARE(frame.toolBarArea(tools), Qt::TopToolBarArea);

    QStatusBar* status = frame.statusBar();
    auto* idle = status->findChild<QLabel*>(QStringLiteral("ID_SEPARATOR"));
    QVERIFY(idle);
    QCOMPARE(idle->text(), QStringLiteral("已就续"));
    QCOMPARE(frame.GetIndicator(0)->text(), QStringLiteral("CAP"));
    QCOMPARE(frame.GetIndicator(1)->text(), QStringLiteral("NUM"));
    QCOMPARE(frame.GetIndicator(2)->text(), QStringLiteral("SCRL"));
    QVERIFY(!frame.GetIndicator(3));
}

void TestMainFrame::dockingPanes()
{
    CTestFrame frame;
    QVERIFY(frame.OnCreate());
    frame.resize(1400, 1000);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    const struct { int id; const char* caption; Qt::DockWidgetArea area; QWidget* dialog; } panes[] = {
        {IDR_PANE_TREND, "心率变化趋势", Qt::BottomDockWidgetArea, GetHeartRateTrendDlg()},
        {IDR_PANE_ABNORMAL, "异常波形列表", Qt::LeftDockWidgetArea, GetAbnormalWaveDlg()},
        {IDR_PANE_RESULT, "心电分析结果", Qt::RightDockWidgetArea, GetAnalyzeResultDlg()},
        {IDR_PANE_RHYTHM, "心律统计列表", Qt::LeftDockWidgetArea, GetHourlyRateDlg()},
    };
    for (const auto& p : panes) {
        QDockWidget* dock = frame.GetPane(p.id);
        QVERIFY(dock);
        QCOMPARE(dock->objectName(), QString::number(p.id));
        QCOMPARE(dock->windowTitle(), QString::fromUtf8(p.caption));
        QCOMPARE(frame.dockWidgetArea(dock), p.area);
        QCOMPARE(dock->widget(), p.dialog);
        QVERIFY(dock->isVisible());
    }
    // The minimum sizes hold for the panes; their title bars come on top.
    QVERIFY(frame.GetPane(IDR_PANE_TREND)->minimumWidth() >= 480 && frame.GetPane(IDR_PANE_TREND)->minimumHeight() >= 160);
    QVERIFY(frame.GetPane(IDR_PANE_RESULT)->minimumWidth() >= 260 && frame.GetPane(IDR_PANE_RESULT)->minimumHeight() >= 394);
    QVERIFY(frame.GetPane(IDR_PANE_TREND)->width() > frame.GetPane(IDR_PANE_RESULT)->width());
    // The rhythm list sits below the abnormal list in the left column.
    QVERIFY(frame.GetPane(IDR_PANE_RHYTHM)->y() > frame.GetPane(IDR_PANE_ABNORMAL)->y());
    QCOMPARE(frame.GetPane(IDR_PANE_RHYTHM)->x(), frame.GetPane(IDR_PANE_ABNORMAL)->x());

    // A closed pane comes back from the bars' context menu with the same dialog.
    QDockWidget* rhythm = frame.GetPane(IDR_PANE_RHYTHM);
    rhythm->close();
    QVERIFY(!rhythm->isVisible());
    std::unique_ptr<QMenu> popup(frame.createPopupMenu());
    QAction* toggle = nullptr;
    for (QAction* action : popup->actions())
        if (action->text() == QStringLiteral("心律统计列表"))
            toggle = action;
    QVERIFY(toggle);
    toggle->trigger();
    QVERIFY(rhythm->isVisible());
    QCOMPARE(rhythm->widget(), GetHourlyRateDlg());

    // The accessors give this frame's panes; a pane's request with no active view moves nothing.
    QCOMPARE(GetHourlyRateDlg(), frame.GetRhythmPane());
    emit frame.GetTrendPane()->centerRequested(100);
}

void TestMainFrame::openAndClose()
{
    CTestFrame frame;
    QVERIFY(frame.OnCreate());
    frame.resize(1200, 800);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));

    const QString a = LongRecording(QStringLiteral("10110814.30"), 2);
    const QString b = LongRecording(QStringLiteral("10110815.30"), 2);
    const QString c = LongRecording(QStringLiteral("10110816.30"), 2);
    frame.m_chosen = {a, b, c};
    frame.OnCommand(ID_FILE_OPEN);
    QVERIFY(frame.m_errors.isEmpty());
    const QList<CVitrelDoc*> docs = frame.GetDocuments();
    QCOMPARE(docs.size(), 3);
    QCOMPARE(docs[0]->GetTitle(), QStringLiteral("10110814.30"));
    QCOMPARE(docs[2]->GetTitle(), QStringLiteral("10110816.30"));
    QCOMPARE(frame.GetActiveDocument(), docs[2]);
    QCOMPARE(g_pActiveView, docs[2]->GetView());
    QCOMPARE(frame.windowTitle(), LoadQString(IDR_MAINFRAME) + QStringLiteral(" - 10110816.30"));
    QCOMPARE(frame.GetMdiArea()->viewMode(), QMdiArea::TabbedView);
    QVERIFY(docs[2]->GetFrame()->isMaximized());
    for (CVitrelDoc* doc : docs)
        QTRY_VERIFY_WITH_TIMEOUT(doc->IsStatisticsReady() && doc->GetView()->IsIdle(), 30000);
    frame.UpdateCommandUI();
    QVERIFY(frame.GetAction(ID_VIEW_RMARKS)->isEnabled());
    QVERIFY(frame.GetAction(ID_FILE_PRINT)->isEnabled());
    QVERIFY(frame.GetAction(ID_ZOOM_100)->isChecked());

    // The menu's commands reach the active view only.
    frame.OnCommand(ID_ZOOM_200);
    QCOMPARE(docs[2]->GetView()->GetDisplaySettings().m_fZoom, 2.0f);
    QCOMPARE(docs[1]->GetView()->GetDisplaySettings().m_fZoom, 1.0f);
    QVERIFY(frame.GetAction(ID_ZOOM_200)->isChecked());
    QVERIFY(!frame.GetAction(ID_ZOOM_100)->isChecked());

    // Activating another document makes its view the active one.
    frame.GetMdiArea()->setActiveSubWindow(docs[0]->GetFrame());
    QCOMPARE(g_pActiveView, docs[0]->GetView());
    QCOMPARE(frame.windowTitle(), LoadQString(IDR_MAINFRAME) + QStringLiteral(" - 10110814.30"));
    QVERIFY(frame.GetAction(ID_ZOOM_100)->isChecked());

    // The panes show the active document, and their requests move its view.
    QCOMPARE(GetHeartRateTrendDlg()->GetDocument(), docs[0]);
    emit GetHeartRateTrendDlg()->centerRequested(20000);
    QVERIFY(docs[0]->GetView()->GetDisplaySettings().m_nViewPos > 0);
    QCOMPARE(docs[2]->GetView()->GetDisplaySettings().m_nViewPos, 0);

    // The rhythm list names the hour of the recording it shows.
    const auto rhythmShows = [](const char* hours) {
        QTableWidget* list = GetHourlyRateDlg()->GetListCtrl();
        return list->rowCount() == 1 && list->item(0, 0)->text() == QLatin1String(hours);
    };
    QVERIFY(rhythmShows("14:30-14:31"));

    // Closing a background document empties the panes, then the recording
    // still on screen fills them again.
    QPointer<CVitrelDoc> background = docs[1];
    docs[1]->GetFrame()->close();
    Settle();
    QVERIFY(background.isNull());
    QCOMPARE(g_pActiveView, docs[0]->GetView());
    QVERIFY(rhythmShows("14:30-14:31"));
    QCOMPARE(frame.GetDocuments().size(), 2);

    // A document closed in the middle of its analysis (or with its
    // notifications still queued, on a fast machine) never reaches the panes.
    const QString busy = LongRecording(QStringLiteral("10110817.30"), 240);
    CVitrelDoc* pBusy = frame.OpenDocumentFile(busy);
    QVERIFY(pBusy);
    frame.GetMdiArea()->setActiveSubWindow(docs[0]->GetFrame());
    QVERIFY(rhythmShows("14:30-14:31"));
    pBusy->GetFrame()->close();
    QTest::qWait(200);
    Settle();
    QCOMPARE(frame.GetDocuments().size(), 2);
    QVERIFY(rhythmShows("14:30-14:31"));

    // A background document finishing its analysis leaves the panes alone
    // (its notifications are carried out only after this one is active).
    const QString late = LongRecording(QStringLiteral("10110818.30"), 180);
    CVitrelDoc* pLate = frame.OpenDocumentFile(late);
    QVERIFY(pLate);
    frame.GetMdiArea()->setActiveSubWindow(docs[0]->GetFrame());
    QVERIFY(rhythmShows("14:30-14:31"));
    QTRY_VERIFY_WITH_TIMEOUT(pLate->IsStatisticsReady() && pLate->GetView()->IsIdle(), 30000);
    QVERIFY(rhythmShows("14:30-14:31"));
    pLate->GetFrame()->close();
    Settle();

    // Closing the active document: the next one is activated and shown.
    frame.OnCommand(ID_FILE_CLOSE);
    Settle();
    QCOMPARE(frame.GetDocuments().size(), 1);
    QCOMPARE(g_pActiveView, frame.GetDocuments()[0]->GetView());
    QVERIFY(rhythmShows("16:30-16:31"));

    // Cascade and tile leave the tabs; arranging returns to them.
    frame.OnCommand(ID_WINDOW_CASCADE);
    QCOMPARE(frame.GetMdiArea()->viewMode(), QMdiArea::SubWindowView);
    frame.OnCommand(ID_WINDOW_TILE_HORZ);
    QCOMPARE(frame.GetMdiArea()->viewMode(), QMdiArea::SubWindowView);
    frame.OnCommand(ID_WINDOW_ARRANGE);
    QCOMPARE(frame.GetMdiArea()->viewMode(), QMdiArea::TabbedView);

    frame.OnCommand(ID_FILE_CLOSE_ALL);
    Settle();
    QVERIFY(frame.GetDocuments().isEmpty());
    QVERIFY(frame.GetMdiArea()->subWindowList().isEmpty());
    QVERIFY(g_pActiveView == nullptr);
    QCOMPARE(frame.windowTitle(), LoadQString(IDR_MAINFRAME));
}

void TestMainFrame::openFailures()
{
    CTestFrame frame;
    QVERIFY(frame.OnCreate());
    const QString good = LongRecording(QStringLiteral("10110817.30"), 1);
    const QString missing = QDir(m_dir.path()).filePath(QStringLiteral("nothing-here.ecg"));
    const QString after = LongRecording(QStringLiteral("10110818.30"), 1);

    // The first path that fails ends the command; nothing of it stays open.
    frame.m_chosen = {good, missing, after};
    frame.OnCommand(ID_FILE_OPEN);
    QCOMPARE(frame.m_errors.size(), 1);
    QVERIFY2(frame.m_errors[0].contains(missing), qPrintable(frame.m_errors[0]));
    QCOMPARE(frame.GetDocuments().size(), 1);
    QCOMPARE(frame.GetMdiArea()->subWindowList().size(), 1);
    QCOMPARE(frame.GetDocuments()[0]->GetTitle(), QStringLiteral("10110817.30"));

    // A directory cannot be opened either.
    frame.m_errors.clear();
    QVERIFY(!frame.OpenDocumentFile(m_dir.path()));
    QCOMPARE(frame.m_errors.size(), 1);
    QCOMPARE(frame.GetMdiArea()->subWindowList().size(), 1);

    // A short-sized file with an impossible date gives the generic file error.
    QByteArray bad(14352, '\0');
    const QString badPath = QDir(m_dir.path()).filePath(QStringLiteral("bad-date.ecg"));
    QFile file(badPath);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bad);
    file.close();
    frame.m_errors.clear();
    QVERIFY(!frame.OpenDocumentFile(badPath));
    QCOMPARE(frame.m_errors.size(), 1);
    QVERIFY(frame.m_errors[0].contains(QStringLiteral("bad-date.ecg")));
    QCOMPARE(frame.GetMdiArea()->subWindowList().size(), 1);

    // A cancelled dialog does nothing.
    frame.m_chosen.clear();
    frame.m_errors.clear();
    frame.OnCommand(ID_FILE_OPEN);
    QVERIFY(frame.m_errors.isEmpty());
    QCOMPARE(frame.GetDocuments().size(), 1);
    frame.CloseAllDocuments();
    Settle();
}

void TestMainFrame::duplicateOpen()
{
    CTestFrame frame;
    QVERIFY(frame.OnCreate());
    const QString a = LongRecording(QStringLiteral("10110819.30"), 1);
    const QString b = LongRecording(QStringLiteral("10110820.30"), 1);
    CVitrelDoc* first = frame.OpenDocumentFile(a);
    QVERIFY(first);
    QVERIFY(frame.OpenDocumentFile(b));
    QCOMPARE(frame.GetActiveDocument()->GetTitle(), QStringLiteral("10110820.30"));
    // A link to it and a "./" spelling are the same file: the first comes forward.
    const QString link = QDir(m_dir.path()).filePath(QStringLiteral("link.30"));
    QVERIFY(QFile::link(a, link));
    QCOMPARE(frame.OpenDocumentFile(link), first);
    QCOMPARE(frame.GetActiveDocument(), first);
    QVERIFY(frame.OpenDocumentFile(b));
    QCOMPARE(frame.OpenDocumentFile(m_dir.path() + QStringLiteral("/./10110819.30")), first);
    QCOMPARE(frame.GetDocuments().size(), 2);
    // The recent-file list holds the file once, however it was named.
    QCOMPARE(frame.GetRecentFileList().GetFiles().size(), 2);

    // Another letter case is another file on Linux: it opens as itself.
    const QString lower = WriteSamples(m_dir.path(), QStringLiteral("rec.dat"), SpikeTrain(60 * 250, 190));
    const QString upper = WriteSamples(m_dir.path(), QStringLiteral("REC.dat"), SpikeTrain(30 * 250, 190));
    CVitrelDoc* small = frame.OpenDocumentFile(lower);
    QVERIFY(small);
    CVitrelDoc* capital = frame.OpenDocumentFile(upper);
    QVERIFY(capital && capital != small);
    QCOMPARE(capital->GetTitle(), QStringLiteral("REC.dat"));
    QCOMPARE(capital->GetSampleCount(), uint64_t(30 * 250));
    QCOMPARE(frame.GetDocuments().size(), 4);
    frame.CloseAllDocuments();
    Settle();
}

void TestMainFrame::recentFiles()
{
    QStringList paths;
    {
        CTestFrame frame;
        QVERIFY(frame.OnCreate());
        QCOMPARE(frame.GetRecentFileActions().size(), 1);
        QVERIFY(!frame.GetRecentFileActions()[0]->isEnabled());
        for (int i = 0; i < 5; ++i) {
            paths << LongRecording(QStringLiteral("1011082%1.30").arg(i), 1);
            QVERIFY(frame.OpenDocumentFile(paths.last()));
        }
        const QList<QAction*> recent = frame.GetRecentFileActions();
        QCOMPARE(recent.size(), 4);
        QCOMPARE(recent[0]->data().toInt(), ID_FILE_MRU_FILE1);
        QCOMPARE(recent[3]->objectName(), QStringLiteral("ID_%1").arg(ID_FILE_MRU_FILE1 + 3));
        QVERIFY(recent[0]->text().startsWith(QStringLiteral("&1 ")));
        QVERIFY(recent[0]->text().endsWith(QStringLiteral("10110824.30")));
        QCOMPARE(recent[0]->statusTip(), QStringLiteral("打开该文档"));
        frame.CloseAllDocuments();
        Settle();
    }
    QSettings settings(QStringLiteral("VITREL-ECG"), QStringLiteral("vitrel-ecg"));
    settings.beginGroup(QStringLiteral("Recent File List"));
    QCOMPARE(settings.value(QStringLiteral("File1")).toString(), paths[4]);
    QCOMPARE(settings.value(QStringLiteral("File4")).toString(), paths[1]);
    QVERIFY(!settings.contains(QStringLiteral("File5")));
    settings.endGroup();

    // A new frame reads the list back; an entry that no longer opens is dropped.
    CTestFrame frame;
    QVERIFY(frame.OnCreate());
    QCOMPARE(frame.GetRecentFileList().GetFiles().size(), 4);
    QFile::remove(paths[3]);
    frame.OnCommand(ID_FILE_MRU_FILE1 + 1);
    QCOMPARE(frame.m_errors.size(), 1);
    QCOMPARE(frame.GetRecentFileList().GetFiles().size(), 3);
    QVERIFY(frame.GetDocuments().isEmpty());
    frame.OnCommand(ID_FILE_MRU_FILE1);
    QCOMPARE(frame.GetDocuments().size(), 1);
    frame.CloseAllDocuments();
    Settle();
}

void TestMainFrame::closeWhileAnalysing()
{
    const QString path = DayLongRecording(QStringLiteral("10110908.00"));
    CTestFrame frame;
    QVERIFY(frame.OnCreate());
    int closedWhileRunning = 0;
    for (int round = 0; round < 25; ++round) {
        CVitrelDoc* doc = frame.OpenDocumentFile(path);
        QVERIFY(doc);
        QPointer<CVitrelDoc> watch = doc;
        // Let a few notifications through, sometimes none.
        QTest::qWait(round % 5);
        closedWhileRunning += doc->IsAnalysisRunning();
        if (round % 2)
            frame.OnCommand(ID_FILE_CLOSE);
        else
            frame.CloseAllDocuments();
        Settle();
        QVERIFY(watch.isNull());
        QVERIFY(g_pActiveView == nullptr);
    }
    QVERIFY2(closedWhileRunning >= 10, qPrintable(QString::number(closedWhileRunning)));
    // Two at once, closed while both run.
    QVERIFY(frame.OpenDocumentFile(path));
    QVERIFY(frame.OpenDocumentFile(DayLongRecording(QStringLiteral("10110909.00"))));
    QTest::qWait(20);
    frame.CloseAllDocuments();
    Settle();
    QVERIFY(frame.GetDocuments().isEmpty());
}

void TestMainFrame::closeFrameWhileAnalysing()
{
    const QString path = DayLongRecording(QStringLiteral("10110908.00"));
    const QString other = DayLongRecording(QStringLiteral("10110909.00"));
    for (int round = 0; round < 15; ++round) {
        auto frame = std::make_unique<CTestFrame>();
        QVERIFY(frame->OnCreate());
        frame->show();
        QVERIFY(frame->OpenDocumentFile(path));
        QVERIFY(frame->OpenDocumentFile(other));
        QTest::qWait(round % 4 * 3);
        frame->OnCommand(ID_APP_EXIT);
        QVERIFY(g_pActiveView == nullptr);
        frame.reset();
        Settle();
        // Without a frame the accessors make panes of their own, one of each.
        QVERIFY(GetHourlyRateDlg());
        QVERIFY(!GetHourlyRateDlg()->parent());
        QCOMPARE(GetHourlyRateDlg(), GetHourlyRateDlg());
    }
}


void TestMainFrame::recordingRemovedWhileOpen()
{
    const QString first = QDir(m_dir.path()).filePath(QStringLiteral("first.ecg"));
    const QString second = QDir(m_dir.path()).filePath(QStringLiteral("second.ecg"));
    if (RunSynth({QStringLiteral("short"), first}).isEmpty() || RunSynth({QStringLiteral("short"), second}).isEmpty())
        QSKIP("vitrel-synth is not available");
    CTestFrame frame;
    QVERIFY(frame.OnCreate());
    frame.show();
    frame.m_chosen = {first, second};
    frame.OnCommand(ID_FILE_OPEN);
    QCOMPARE(frame.GetDocuments().size(), 2);
    Settle();
    // Re-activating a document whose file is gone refills the panes from a reader that
    // cannot open: the error is reported, nothing escapes the event loop.
    QVERIFY(QFile::remove(first));
    frame.GetMdiArea()->setActiveSubWindow(frame.GetDocuments()[0]->GetFrame());
    QTRY_COMPARE(frame.m_errors.size(), 1);
    QCOMPARE(frame.m_errors[0], QStringLiteral("没有找到 %1。").arg(first));
    QCOMPARE(g_pActiveView, frame.GetDocuments()[0]->GetView());
    frame.OnCommand(ID_FILE_CLOSE_ALL);
    Settle();
}

void TestMainFrame::preciseDetectorCommand()
{
    const QString before = LongRecording(QStringLiteral("10110910.00"), 2);
    const QString after = LongRecording(QStringLiteral("10110911.00"), 2);
    const QString shortOne = QDir(m_dir.path()).filePath(QStringLiteral("short.ecg"));
    const bool haveShort = !RunSynth({QStringLiteral("short"), shortOne}).isEmpty();
    const auto stored = [] {
        return QSettings(QStringLiteral("VITREL-ECG"), QStringLiteral("vitrel-ecg"))
            .value(QStringLiteral("Settings/PreciseQrsDetector"));
    };
    {
        CTestFrame frame;
        QVERIFY(frame.OnCreate());
        QAction* command = frame.GetAction(ID_VIEW_PRECISE_QRS);
        QVERIFY(command->isCheckable() && !command->isChecked());
        CVitrelDoc* standard = frame.OpenDocumentFile(before);
        QVERIFY(standard);
        frame.OnCommand(ID_VIEW_PRECISE_QRS);
        QVERIFY(command->isChecked());
        QCOMPARE(stored(), QVariant(true));
        CVitrelDoc* precise = frame.OpenDocumentFile(after);
        QVERIFY(precise);
        // The open document keeps the detector it was opened with.
        QCOMPARE(standard->GetAnalysisDetector(), DetectorKind::Standard);
        QCOMPARE(precise->GetAnalysisDetector(), DetectorKind::Precise);
        for (CVitrelDoc* doc : {standard, precise})
            QTRY_VERIFY_WITH_TIMEOUT(doc->IsStatisticsReady() && doc->GetView()->IsIdle(), 30000);
        QCOMPARE(CEcgPainter::StatusCaption(standard), QStringLiteral("正在统计心律"));
        QCOMPARE(CEcgPainter::StatusCaption(precise), QStringLiteral("正在统计心律（高精度 QRS 检测）"));
        // A short recording shows the recorder's beats whatever the setting.
        if (haveShort) {
            CVitrelDoc* recorder = frame.OpenDocumentFile(shortOne);
            QVERIFY(recorder);
            QCOMPARE(recorder->GetAnalysisDetector(), DetectorKind::Standard);
        }
        frame.CloseAllDocuments();
        Settle();
    }
    // A new frame reads the setting back.
    CTestFrame frame;
    QVERIFY(frame.OnCreate());
    QVERIFY(frame.GetAction(ID_VIEW_PRECISE_QRS)->isChecked());
    frame.OnCommand(ID_VIEW_PRECISE_QRS);
    QCOMPARE(stored(), QVariant(false));

    // 显示心搏分类: on at first, applied to the open views and those opened
    // later, remembered.
    QAction* classes = frame.GetAction(ID_VIEW_BEAT_CLASSES);
    QVERIFY(classes->isCheckable() && classes->isChecked());
    CVitrelDoc* doc = frame.OpenDocumentFile(before);
    QVERIFY(doc && doc->GetView()->GetDisplaySettings().m_bShowBeatClasses);
    frame.OnCommand(ID_VIEW_BEAT_CLASSES);
    QVERIFY(!classes->isChecked());
    QVERIFY(!doc->GetView()->GetDisplaySettings().m_bShowBeatClasses);
    QCOMPARE(QSettings(QStringLiteral("VITREL-ECG"), QStringLiteral("vitrel-ecg")).value(QStringLiteral("Settings/ShowBeatClasses")),
             QVariant(false));
    frame.OnCommand(ID_VIEW_BEAT_CLASSES);
    QVERIFY(doc->GetView()->GetDisplaySettings().m_bShowBeatClasses);
    frame.CloseAllDocuments();
    Settle();
}

void TestMainFrame::exportEachKind()
{
    const QString recording = LongRecording(QStringLiteral("10110912.00"), 2);
    QTemporaryDir out;
    CTestFrame frame;
    QVERIFY(frame.OnCreate());
    CVitrelDoc* doc = frame.OpenDocumentFile(recording);
    QVERIFY(doc);
    QTRY_VERIFY_WITH_TIMEOUT((frame.UpdateCommandUI(), frame.GetAction(ID_FILE_EXPORT)->isEnabled()), 30000);
    std::vector<uint32_t> beats;
    doc->GetBeatsInRange(0, UINT32_MAX, beats);
    QVERIFY(beats.size() > 100);

    // A name without a suffix gets the kind's.
    frame.m_exportTarget = out.filePath(QStringLiteral("beats"));
    frame.m_exportKind = CMainFrame::ExportKind::BeatsCsv;
    frame.OnCommand(ID_FILE_EXPORT);
    QFile csv(out.filePath(QStringLiteral("beats.csv")));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    QCOMPARE(csv.readAll().count('\n'), qsizetype(beats.size()));

    frame.m_exportTarget = out.filePath(QStringLiteral("copy.edf"));
    frame.m_exportKind = CMainFrame::ExportKind::EdfPlus;
    frame.OnCommand(ID_FILE_EXPORT);
    QFile edf(frame.m_exportTarget);
    QVERIFY(edf.open(QIODevice::ReadOnly));
    QCOMPARE(edf.read(8), QByteArray("0       "));

    // A WFDB record goes into the folder, named after the recording.
    frame.m_exportTarget = out.path();
    frame.m_exportKind = CMainFrame::ExportKind::Wfdb;
    frame.OnCommand(ID_FILE_EXPORT);
    for (const char* ext : {".hea", ".dat", ".atr"})
        QVERIFY2(QFile::exists(out.filePath(QStringLiteral("10110912_00") + ext)), ext);
    QVERIFY2(frame.m_errors.isEmpty(), qPrintable(frame.m_errors.join('\n')));

    // The recording itself is refused and stays as it was; an unwritable target fails with its reason.
    QFile input(recording);
    QVERIFY(input.open(QIODevice::ReadOnly));
    const QByteArray original = input.readAll();
    input.close();
    QVERIFY(!frame.ExportDocument(doc, recording, CMainFrame::ExportKind::EdfPlus));
    QCOMPARE(frame.m_errors.value(0), QStringLiteral("不能导出到 %1：它是打开的心电记录或其所属的文件。").arg(recording));
    QVERIFY(input.open(QIODevice::ReadOnly));
    QVERIFY(input.readAll() == original);
    const QString nowhere = out.filePath(QStringLiteral("no-such-folder/x.csv"));
    QVERIFY(!frame.ExportDocument(doc, nowhere, CMainFrame::ExportKind::BeatsCsv));
    QCOMPARE(frame.m_errors.size(), 2);
    QVERIFY2(frame.m_errors[1].startsWith(QStringLiteral("无法写入 %1：").arg(nowhere)), qPrintable(frame.m_errors[1]));
    frame.CloseAllDocuments();
    Settle();
}

void TestMainFrame::windowLayouts()
{
    CTestFrame frame;
    QVERIFY(frame.OnCreate());
    frame.resize(1200, 900);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    frame.m_chosen = {LongRecording(QStringLiteral("10110820.30"), 1), LongRecording(QStringLiteral("10110821.30"), 1),
                      LongRecording(QStringLiteral("10110822.30"), 1)};
    frame.OnCommand(ID_FILE_OPEN);
    QCOMPARE(frame.GetDocuments().size(), 3);
    QMdiArea* area = frame.GetMdiArea();
    const QSize space = area->viewport()->size();
    // Every document keeps a waveform worth looking at, in either layout.
    const auto usable = [&](int minWidth, int minHeight) {
        for (QMdiSubWindow* window : area->subWindowList()) {
            const QSize view = static_cast<CChildFrame*>(window)->GetView()->size();
            if (!window->isVisible() || window->isMinimized() || view.width() < minWidth || view.height() < minHeight)
                return false;
        }
        return true;
    };
    frame.OnCommand(ID_WINDOW_CASCADE);
    Settle();
    QCOMPARE(area->viewMode(), QMdiArea::SubWindowView);
    QVERIFY(usable(space.width() / 2, space.height() / 2));
    frame.OnCommand(ID_WINDOW_TILE_HORZ);
    Settle();
    QVERIFY(usable(space.width() / 4, space.height() / 4));
    SaveForInspection(&frame, "tiled");
    // The tabs come back with the active document filling the workspace.
    QVERIFY(frame.GetAction(ID_WINDOW_TABS)->isEnabled());
    frame.OnCommand(ID_WINDOW_TABS);
    Settle();
    QCOMPARE(area->viewMode(), QMdiArea::TabbedView);
    QVERIFY(frame.GetActiveFrame()->isMaximized());
    frame.CloseAllDocuments();
    Settle();
    QVERIFY(!frame.GetAction(ID_WINDOW_TABS)->isEnabled());
}

void TestMainFrame::exportDialog()
{
    const QString recording = LongRecording(QStringLiteral("24050508.00"), 1);
    // Two recordings of one day differ in their suffix: so do their defaults.
    QCOMPARE(DefaultExportName(recording, ExportKind::BeatsCsv), QStringLiteral("24050508.00.csv"));
    QCOMPARE(DefaultExportName(recording, ExportKind::EdfPlus), QStringLiteral("24050508.00.edf"));
    QCOMPARE(DefaultExportName(recording, ExportKind::Wfdb), QStringLiteral("24050508_00.hea"));

    // The dialog offers the names that will be written, kind by kind.
    CTestFrame frame;
    QVERIFY(frame.OnCreate());
    QStringList offered;
    bool asksItself = true;
    WhenShown<QFileDialog>([&offered, &asksItself](QFileDialog* dialog) {
        // Its own replace question would come before the frame's refusal.
        asksItself = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        auto* type = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
        if (name && type) {
            for (int i : {0, 1, 2}) {
                type->setCurrentIndex(i);
                // What a click sends: the index, then the text.
                emit type->activated(i);
                emit type->textActivated(type->itemText(i));
                offered << name->text();
            }
        }
        dialog->reject();
    });
    QString target;
    ExportKind kind = ExportKind::BeatsCsv;
    QVERIFY(!RunExportDialog(&frame, recording, &target, &kind));
    QCOMPARE(offered, (QStringList{QStringLiteral("24050508.00.csv"), QStringLiteral("24050508.00.edf"),
                                   QStringLiteral("24050508_00.hea")}));
    QVERIFY(!asksItself);

    CVitrelDoc* doc = frame.OpenDocumentFile(recording);
    QVERIFY(doc);
    QTRY_VERIFY_WITH_TIMEOUT((frame.UpdateCommandUI(), frame.GetAction(ID_FILE_EXPORT)->isEnabled()), 30000);
    // The open recording is refused before anything asks whether to replace it.
    QString question;
    WhenShown<QMessageBox>([&question](QMessageBox* box) {
        question = box->text();
        box->button(QMessageBox::No)->click();
    });
    frame.m_exportTarget = recording;
    frame.m_exportKind = ExportKind::BeatsCsv;
    frame.OnCommand(ID_FILE_EXPORT);
    QCOMPARE(frame.m_errors.value(0), QStringLiteral("不能导出到 %1：它是打开的心电记录或其所属的文件。").arg(recording));
    QTest::qWait(100);
    QVERIFY2(question.isEmpty(), qPrintable(question));

    // A file that exists is asked about; a finished export says so in the status bar.
    QTemporaryDir out;
    const QString existing = out.filePath(QStringLiteral("old.csv"));
    QFile old(existing);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("old");
    old.close();
    frame.m_exportTarget = existing;
    frame.OnCommand(ID_FILE_EXPORT);
    QCOMPARE(question, QStringLiteral("%1 已存在。\n要替换它吗？").arg(existing));
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("old"));
    old.close();
    frame.m_exportTarget = out.path();
    frame.m_exportKind = ExportKind::Wfdb;
    frame.OnCommand(ID_FILE_EXPORT);
    QCOMPARE(frame.statusBar()->currentMessage(),
             QStringLiteral("已导出 %1。").arg(out.filePath(QStringLiteral("24050508_00.hea"))));
    QCOMPARE(frame.m_errors.size(), 1);
    frame.CloseAllDocuments();
    Settle();
}

void TestMainFrame::filesFromOutside()
{
    const QString a = LongRecording(QStringLiteral("10110913.00"), 1);
    const QString b = LongRecording(QStringLiteral("10110914.00"), 1);
    const QString missing = QDir(m_dir.path()).filePath(QStringLiteral("gone.ecg"));
    CTestFrame frame;
    QVERIFY(frame.OnCreate());
    // Nothing named: nothing opens.
    OpenStartupFiles(&frame, {QStringLiteral("vitrel-ecg")});
    Settle();
    QVERIFY(frame.GetDocuments().isEmpty());
    // As the Open command: in order, up to the first that fails, with its message.
    OpenStartupFiles(&frame, {QStringLiteral("vitrel-ecg"), a, missing, b});
    QTRY_COMPARE(frame.m_errors.size(), 1);
    QCOMPARE(frame.m_errors[0], QStringLiteral("没有找到 %1。").arg(missing));
    QCOMPARE(frame.GetDocuments().size(), 1);
    QCOMPARE(frame.GetRecentFileList().GetFiles().value(0), a);

    // A drop of local files opens them.
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(b)});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&frame, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&frame, &drop);
    QTRY_COMPARE(frame.GetDocuments().size(), 2);
    QCOMPARE(frame.GetActiveDocument()->GetTitle(), QStringLiteral("10110914.00"));
    frame.CloseAllDocuments();
    Settle();
}

QTEST_MAIN(TestMainFrame)
#include "tst_mainframe.moc"
