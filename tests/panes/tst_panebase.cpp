// What every pane shares: Enter and Esc leave it alone.
#include <QDockWidget>
#include <QMainWindow>
#include <QTableWidget>
#include <QtTest>

#include "analysis/EcgDocument.h"
#include "panes/Panes.h"

class TestPaneBase : public QObject {
    Q_OBJECT

private slots:
    void enterAndEscapeLeaveThePaneOpen()
    {
        QMainWindow frame;
        auto* rhythm = new CHeartRateDlg;
        auto* result = new CAnalyzeResultDlg;
        auto* trend = new CHeartRateTrendDlg;
        QList<QDockWidget*> docks;
        for (CDialogEx* pane : {static_cast<CDialogEx*>(rhythm), static_cast<CDialogEx*>(result),
                                static_cast<CDialogEx*>(trend)}) {
            QVERIFY(!pane->IsCreated());
            QVERIFY(pane->Create(&frame));
            QVERIFY(pane->IsCreated());
            docks << new QDockWidget(&frame);
            docks.last()->setWidget(pane);
            frame.addDockWidget(Qt::LeftDockWidgetArea, docks.last());
        }
        frame.resize(900, 600);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));

        const HourRateStats rec{14, 30, 14, 59, 70.f, 60.f, 80.f, 0, 0};
        rhythm->AddHourRow(&rec);
        QTableWidget* list = rhythm->GetListCtrl();
        list->setFocus();
        list->selectRow(0);
        for (int key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
            QTest::keyClick(list, Qt::Key(key));
            QTest::keyClick(result, Qt::Key(key));
            QTest::keyClick(trend, Qt::Key(key));
        }
        QCoreApplication::processEvents();
        for (CDialogEx* pane : {static_cast<CDialogEx*>(rhythm), static_cast<CDialogEx*>(result),
                                static_cast<CDialogEx*>(trend)})
            QVERIFY(pane->isVisible());
        for (QDockWidget* dock : docks)
            QVERIFY(dock->isVisible());
        QCOMPARE(list->rowCount(), 1);
        QCOMPARE(list->currentRow(), 0);
        QCOMPARE(rhythm->parentWidget(), docks[0]);
        QCOMPARE(rhythm->result(), 0);
    }
};

QTEST_MAIN(TestPaneBase)
#include "tst_panebase.moc"
