// Many documents opened, driven and closed in quick succession with every
// pane shown: closes during detection and during statistics, main frames
// closed mid-analysis. Run under the sanitizers too.
#include <QDockWidget>
#include <QMdiArea>
#include <QPointer>
#include <QRandomGenerator>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QWheelEvent>
#include <QtTest>

#include "app/MainFrame.h"
#include "resources/Resource.h"
#include "app/VitrelDoc.h"
#include "display/VitrelView.h"
#include "panes/Panes.h"
#include "support/TestFrame.h"
#include "support/QtSupport.h"

using namespace testsupport;

namespace {

// A short recording: valid header date, a few stored beats, flat trace.
QString WriteShort(const QString& dir, const QString& name)
{
    RecordingHeader header = ShortHeader();
    SetBeats(header, {40, 80, 120, 160, 200, 240});
    return QString::fromStdString(WriteShortRecording(QDir(dir).filePath(name).toStdString(), header));
}

const int kZooms[] = {ID_ZOOM_50, ID_ZOOM_75, ID_ZOOM_100, ID_ZOOM_125, ID_ZOOM_150, ID_ZOOM_200, ID_ZOOM_300, ID_ZOOM_400};

// Scrolls, zooms, drags and wheels the view at random.
void Drive(CVitrelView* view, QRandomGenerator& rng)
{
    for (int i = 0; i < 6; ++i) {
        switch (rng.bounded(6)) {
        case 0:
            view->OnHScroll(int(rng.bounded(9)), rng.bounded(2000000));
            break;
        case 1:
            view->OnCommand(kZooms[rng.bounded(8)]);
            break;
        case 2: {
            const QPoint from(100 + int(rng.bounded(400)), 150);
            QTest::mousePress(view, Qt::LeftButton, {}, from);
            QTest::mouseMove(view, from - QPoint(int(rng.bounded(300)) - 150, 0));
            QTest::mouseRelease(view, Qt::LeftButton, {}, from - QPoint(80, 0));
            break;
        }
        case 3: {
            const QPointF at(300, 150);
            QWheelEvent wheel(at, view->mapToGlobal(at), {}, QPoint(0, rng.bounded(2) ? 120 : -120), Qt::NoButton,
                              rng.bounded(2) ? Qt::ControlModifier : Qt::NoModifier, Qt::NoScrollPhase, false);
            QCoreApplication::sendEvent(view, &wheel);
            break;
        }
        case 4:
            view->OnCommand(rng.bounded(2) ? ID_VIEW_GRID : ID_VIEW_RMARKS);
            break;
        default:
            view->repaint();
            break;
        }
    }
}

}  // namespace

class TestStress : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        IsolateSettings(m_settings.path());
        m_paths << WriteSamples(m_dir.path(), QStringLiteral("10110808.00"), SpikeTrain(6 * 3600 * 250, 190))
                << WriteSamples(m_dir.path(), QStringLiteral("10110810.00"), SpikeTrain(40 * 60 * 250, 230))
                << WriteSamples(m_dir.path(), QStringLiteral("10110811.00"), SpikeTrain(3 * 60 * 250, 170))
                << WriteShort(m_dir.path(), QStringLiteral("short.ecg"));
        for (const QString& p : m_paths)
            QVERIFY(!p.isEmpty());
    }

    void openDriveClose()
    {
        QRandomGenerator rng(7);
        int closedDetecting = 0, closedInStatistics = 0, framesClosedRunning = 0;
        std::unique_ptr<CTestFrame> frame;
        for (int round = 0; round < 150; ++round) {
            if (!frame) {
                frame = std::make_unique<CTestFrame>();
                QVERIFY(frame->OnCreate());
                frame->resize(1200, 800);
                frame->show();
                for (int id : {IDR_PANE_RESULT, IDR_PANE_RHYTHM, IDR_PANE_ABNORMAL, IDR_PANE_TREND})
                    if (QDockWidget* pane = frame->GetPane(id))
                        pane->show();
            }
            QList<QPointer<CVitrelDoc>> opened;
            const int count = 1 + int(rng.bounded(3));
            for (int k = 0; k < count; ++k) {
                CVitrelDoc* doc = frame->OpenDocumentFile(m_paths[int(rng.bounded(m_paths.size()))]);
                QVERIFY(doc);
                opened << doc;
            }
            // Rounds 0 and 4 close at once, the others after some use.
            if (round % 5 != 0 && round % 5 != 4) {
                QTest::qWait(int(rng.bounded(8)));
                if (CVitrelView* view = frame->GetActiveView())
                    Drive(view, rng);
                QCoreApplication::processEvents();
            }

            CVitrelDoc* active = frame->GetActiveDocument();
            switch (round % 5) {
            case 0:
            case 1:
                // Close the active one now, whatever it is doing.
                closedDetecting += active && active->IsAnalysisRunning() && !active->IsDetectionDone();
                frame->OnCommand(ID_FILE_CLOSE);
                break;
            case 2:
                // Close once detection is done, while the statistics and
                // their notifications are still under way.
                if (active) {
                    QDeadlineTimer deadline(20000);
                    while (!active->IsDetectionDone() && active->IsAnalysisRunning() && !deadline.hasExpired())
                        QThread::yieldCurrentThread();
                    closedInStatistics += active->IsDetectionDone() && !active->GetView()->IsIdle();
                    frame->OnCommand(ID_FILE_CLOSE);
                }
                break;
            case 3:
                frame->OnCommand(ID_FILE_CLOSE_ALL);
                break;
            default:
                // The whole main frame goes, documents still analysing.
                framesClosedRunning += active && active->IsAnalysisRunning();
                frame->OnCommand(ID_APP_EXIT);
                frame.reset();
                break;
            }
            Settle();
            if (frame && round % 5 == 3) {
                QVERIFY(frame->GetDocuments().isEmpty());
                QVERIFY(g_pActiveView == nullptr);
            }
            if (!frame) {
                for (const auto& doc : opened)
                    QVERIFY(doc.isNull());
                QVERIFY(g_pActiveView == nullptr);
            }
        }
        if (frame) {
            frame->CloseAllDocuments();
            Settle();
        }
        qInfo("closed while detecting %d, during statistics %d, frames closed while analysing %d", closedDetecting,
              closedInStatistics, framesClosedRunning);
        QVERIFY(closedDetecting > 0);
        QVERIFY(closedInStatistics > 0);
        QVERIFY(framesClosedRunning > 0);
    }

    // The panes follow the last document standing once everything settles.
    void panesAfterTheStorm()
    {
        CTestFrame frame;
        QVERIFY(frame.OnCreate());
        frame.show();
        for (int i = 0; i < 8; ++i)
            QVERIFY(frame.OpenDocumentFile(m_paths[i % 3]));
        frame.CloseAllDocuments();
        Settle();
        CVitrelDoc* doc = frame.OpenDocumentFile(m_paths[2]);
        QVERIFY(doc);
        QTRY_VERIFY_WITH_TIMEOUT(doc->IsStatisticsReady() && doc->GetView()->IsIdle(), 60000);
        QVERIFY(GetHourlyRateDlg()->GetListCtrl()->rowCount() > 0);
        frame.CloseAllDocuments();
        Settle();
        QCOMPARE(GetHourlyRateDlg()->GetListCtrl()->rowCount(), 0);
    }

private:
    QTemporaryDir m_dir;
    QTemporaryDir m_settings;
    QStringList m_paths;
};

QTEST_MAIN(TestStress)
#include "tst_stress.moc"
