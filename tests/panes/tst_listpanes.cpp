// The rhythm statistics list and the abnormal waveform list, and what every
// pane shares: Enter and Esc leave it alone.
#include <QDockWidget>
#include <QHeaderView>
#include <QMainWindow>
#include <QMenu>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include "analysis/EcgDocument.h"
#include "panes/Panes.h"
#include "support/Recordings.h"
#include "support/TimeZone.h"

class TestListPanes : public QObject {
    Q_OBJECT

    testsupport::ScopedTimeZone m_tz{"Asia/Shanghai"};
    QTemporaryDir m_dir;
    CEcgDocument m_doc;
    CHourlyRateDlg m_rhythm;
    CAbnormalWaveDlg m_abnormal;

    static QStringList Row(QTableWidget* list, int row)
    {
        QStringList texts;
        for (int c = 0; c < list->columnCount(); ++c)
            texts << (list->item(row, c) ? list->item(row, c)->text() : QString());
        return texts;
    }
    // The samples the pane asked the active view to centre on.
    static QList<uint32_t> Requests(QSignalSpy& spy)
    {
        QList<uint32_t> samples;
        for (const QList<QVariant>& args : spy)
            samples << args.at(0).value<uint32_t>();
        spy.clear();
        return samples;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        // A long recording named for 2010-11-08 14:30:00, 1 200 000 samples.
        const QString path = m_dir.filePath("10110814.30");
        QVERIFY(!testsupport::WriteSparseFile(path.toStdString(), 1200000 * 2).empty());
        m_doc.OpenFile(path.toStdString());
        QCOMPARE(m_doc.GetFileKind(), 1);
        m_abnormal.SetDocument(&m_doc);
    }

    void hourRowTexts()
    {
        CHourlyRateDlg* pane = &m_rhythm;
        pane->DeleteAllItems();
        const HourRateStats first{14, 30, 14, 59, 71.5f, 52.4f, 98.6f, 0, 0};
        const HourRateStats halves{15, 0, 15, 59, 62.5f, 60.5f, 63.5f, 0, 0};   // halves round to even
        const HourRateStats failed{-1, -1, -1, -1, 0.0f, 0.0f, 0.0f, 0, 0};
        pane->AddHourRow(&first);
        pane->AddHourRow(&halves);
        pane->AddHourRow(&failed);
        QTableWidget* list = pane->GetListCtrl();
        QCOMPARE(list->rowCount(), 3);
        QCOMPARE(Row(list, 0), (QStringList{"14:30-14:59", "52", "72", "99", "12600000"}));
        QCOMPARE(Row(list, 1), (QStringList{"15:00-15:59", "60", "62", "64", "13500000"}));
        QCOMPARE(Row(list, 2), (QStringList{"-1:-1--1:-1", "0", "0", "0", "-900000"}));
        QVERIFY(list->rowHeight(0) >= 16);
        // The index column stays hidden (zero width) with rows in it; headings do not sort.
        QCOMPARE(list->columnWidth(4), 0);
        QVERIFY(!list->isSortingEnabled() && !list->horizontalHeader()->sectionsClickable());

        // The header's menu opens the hidden column (a zero-width section has no grip) and closes it.
        const auto toggleColumn = [&](const QString& heading) {
            QStringList checked;
            QTimer::singleShot(0, [&] {
                auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
                QVERIFY(menu);
                for (QAction* action : menu->actions())
                    if (action->isChecked())
                        checked << action->text();
                for (QAction* action : menu->actions())
                    if (action->text() == heading)
                        action->trigger();
                menu->close();
            });
            QHeaderView* header = list->horizontalHeader();
            emit header->customContextMenuRequested(QPoint(5, 5));
            return checked;
        };
        QCOMPARE(toggleColumn(QStringLiteral("索引")), (QStringList{"时间", "最慢", "平均", "最快"}));
        QVERIFY(list->columnWidth(4) >= 50);
        QVERIFY(list->horizontalHeader()->sectionViewportPosition(4) + list->columnWidth(4) > 0);
        toggleColumn(QStringLiteral("索引"));
        QCOMPARE(list->columnWidth(4), 0);

        pane->DeleteAllItems();
        QCOMPARE(list->rowCount(), 0);
    }

    void abnormalRowsCarryAbsoluteTimes()
    {
        CAbnormalWaveDlg* pane = &m_abnormal;
        QTableWidget* list = pane->GetListCtrl();
        pane->DeleteAllItems();
        pane->AddAbnormalRow(1250);
        pane->AddAbnormalRow(900249);
        pane->AddAbnormalRow(3000000000u);   // beyond 2^31: still read back as itself
        QCOMPARE(list->rowCount(), 3);
        QCOMPARE(Row(list, 0), (QStringList{"1", "2010-11-08 14:30:05", "1250"}));
        QCOMPARE(Row(list, 1), (QStringList{"2", "2010-11-08 15:30:00", "900249"}));
        QCOMPARE(Row(list, 2), (QStringList{"3", "2011-03-27 11:50:00", "3000000000"}));
        QVERIFY(list->rowHeight(0) >= 18);

        // Without a document the times count from 0.
        pane->SetDocument(nullptr);
        pane->AddAbnormalRow(250);
        pane->SetDocument(&m_doc);
        QCOMPARE(list->item(3, 2)->text(), QStringLiteral("250"));
        QCOMPARE(list->item(3, 1)->text(), QStringLiteral("1970-01-01 08:00:01"));
    }

    void selectingRowsAsksToCentreTheView()
    {
        CAbnormalWaveDlg* pane = &m_abnormal;
        QTableWidget* list = pane->GetListCtrl();
        pane->DeleteAllItems();
        pane->AddAbnormalRow(500);
        pane->AddAbnormalRow(900249);
        pane->AddAbnormalRow(600000);
        pane->resize(400, 300);
        pane->show();
        QVERIFY(QTest::qWaitForWindowExposed(pane));
        QSignalSpy spy(pane, &CDialogEx::centerRequested);

        // By mouse.
        const QRect second = list->visualRect(list->model()->index(1, 1));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second.center());
        QCOMPARE(list->currentRow(), 1);
        QCOMPARE(Requests(spy), QList<uint32_t>{900249});

        // By keyboard, then the same row again after another one.
        list->setFocus();
        QTest::keyClick(list, Qt::Key_Up);
        QCOMPARE(list->currentRow(), 0);
        QTest::keyClick(list, Qt::Key_Down);
        QTest::keyClick(list, Qt::Key_Down);
        QCOMPARE(Requests(spy), (QList<uint32_t>{500, 900249, 600000}));

        // The index column is read as the unsigned number it shows, whatever else stands there.
        list->item(2, 2)->setText(QStringLiteral(" 99999999999"));
        list->selectRow(0);
        list->selectRow(2);
        QCOMPARE(Requests(spy).last(), UINT32_MAX);
        pane->hide();
    }

    void enterAndEscapeLeaveThePaneOpen()
    {
        QMainWindow frame;
        auto* rhythm = new CHourlyRateDlg;
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

    void listFillsItsPane()
    {
        CHourlyRateDlg pane;
        pane.resize(300, 200);
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        QCOMPARE(pane.GetListCtrl()->geometry(), pane.rect());
        pane.resize(520, 330);
        QCoreApplication::processEvents();
        QCOMPARE(pane.GetListCtrl()->geometry(), pane.rect());
    }
};

QTEST_MAIN(TestListPanes)
#include "tst_listpanes.moc"
