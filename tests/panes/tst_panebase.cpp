// What every pane shares: Enter and Esc leave it alone, and the process-wide
// pane objects outlive the windows that host them.
#include <QDockWidget>
#include <QMainWindow>
#include <QPointer>
#include <QTableWidget>
#include <QtTest>

#include "analysis/EcgDocument.h"
#include "panes/Panes.h"

namespace {

// The frame's way of hosting a pane: Create under the frame, then the dock takes it.
QDockWidget* Dock(QMainWindow* frame, CDialogEx* pane, Qt::DockWidgetArea area)
{
    auto* dock = new QDockWidget(frame);
    pane->Create(frame);
    dock->setWidget(pane);
    frame->addDockWidget(area, dock);
    return dock;
}

QList<CDialogEx*> AllPanes()
{
    return {GetAnalyzeResultDlg(), GetHeartRateDlg(), GetAbnormalWaveDlg(), GetHeartRateTrendDlg()};
}

}  // namespace

class TestPaneBase : public QObject {
    Q_OBJECT

private slots:
    void accessorsReturnOneObjectEach()
    {
        QCOMPARE(GetHeartRateDlg(), GetHeartRateDlg());
        QCOMPARE(GetAbnormalWaveDlg(), GetAbnormalWaveDlg());
        QVERIFY(!GetHeartRateTrendDlg()->IsCreated());
    }

    void enterAndEscapeLeaveThePaneOpen()
    {
        QMainWindow frame;
        QDockWidget* listDock = Dock(&frame, GetHeartRateDlg(), Qt::LeftDockWidgetArea);
        QDockWidget* resultDock = Dock(&frame, GetAnalyzeResultDlg(), Qt::RightDockWidgetArea);
        QDockWidget* trendDock = Dock(&frame, GetHeartRateTrendDlg(), Qt::BottomDockWidgetArea);
        frame.resize(900, 600);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));

        const HourRateStats rec{14, 30, 14, 59, 70.f, 60.f, 80.f, 0, 0};
        GetHeartRateDlg()->DeleteAllItems();
        GetHeartRateDlg()->AddHourRow(&rec);
        QTableWidget* list = GetHeartRateDlg()->GetListCtrl();
        list->setFocus();
        list->selectRow(0);
        for (int key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
            QTest::keyClick(list, Qt::Key(key));
            QTest::keyClick(GetAnalyzeResultDlg(), Qt::Key(key));
            QTest::keyClick(GetHeartRateTrendDlg(), Qt::Key(key));
        }
        QCoreApplication::processEvents();
        for (CDialogEx* pane : {static_cast<CDialogEx*>(GetHeartRateDlg()), static_cast<CDialogEx*>(GetAnalyzeResultDlg()), static_cast<CDialogEx*>(GetHeartRateTrendDlg())})
            QVERIFY(pane->isVisible());
        QVERIFY(listDock->isVisible() && resultDock->isVisible() && trendDock->isVisible());
        QCOMPARE(list->rowCount(), 1);
        QCOMPARE(list->currentRow(), 0);
        QCOMPARE(GetHeartRateDlg()->parentWidget(), listDock);
        QCOMPARE(GetHeartRateDlg()->result(), 0);
    }

    void panesSurviveTheFrame()
    {
        QPointer<CDialogEx> panes[4];
        for (int i = 0; i < 4; ++i)
            panes[i] = AllPanes()[i];
        auto* frame = new QMainWindow;
        Dock(frame, GetAnalyzeResultDlg(), Qt::RightDockWidgetArea);
        Dock(frame, GetHeartRateDlg(), Qt::LeftDockWidgetArea);
        Dock(frame, GetAbnormalWaveDlg(), Qt::LeftDockWidgetArea);
        QDockWidget* trendDock = Dock(frame, GetHeartRateTrendDlg(), Qt::BottomDockWidgetArea);
        trendDock->setFloating(true);
        frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(frame));
        GetAbnormalWaveDlg()->DeleteAllItems();
        GetAbnormalWaveDlg()->AddAbnormalRow(1250);
        for (CDialogEx* pane : AllPanes())
            QVERIFY(pane->IsCreated());

        delete frame;
        for (int i = 0; i < 4; ++i) {
            QVERIFY(panes[i]);
            QCOMPARE(AllPanes()[i], panes[i].data());
            QVERIFY(!panes[i]->IsCreated());
            QVERIFY(!panes[i]->parentWidget());
            QVERIFY(!panes[i]->isVisible());
        }
        // The same objects, contents kept, go into the next frame.
        QCOMPARE(GetAbnormalWaveDlg()->GetListCtrl()->rowCount(), 1);
        QMainWindow next;
        QDockWidget* dock = Dock(&next, GetAbnormalWaveDlg(), Qt::LeftDockWidgetArea);
        next.show();
        QVERIFY(QTest::qWaitForWindowExposed(&next));
        QVERIFY(GetAbnormalWaveDlg()->IsCreated());
        QCOMPARE(GetAbnormalWaveDlg()->parentWidget(), dock);
        QVERIFY(GetAbnormalWaveDlg()->isVisible());

        // A dock destroyed on its own lets go of its pane too.
        delete dock;
        QVERIFY(panes[2]);
        QVERIFY(!GetAbnormalWaveDlg()->IsCreated());
    }

    void deletedPaneIsReplaced()
    {
        QPointer<CHeartRateTrendDlg> old = GetHeartRateTrendDlg();
        delete old.data();
        CHeartRateTrendDlg* fresh = GetHeartRateTrendDlg();
        QVERIFY(fresh);
        QVERIFY(!fresh->IsCreated());
        QCOMPARE(GetHeartRateTrendDlg(), fresh);
    }
};

QTEST_MAIN(TestPaneBase)
#include "tst_panebase.moc"
