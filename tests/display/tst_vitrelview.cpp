// The waveform view: scrolling, dragging, wheel zoom, centring, commands,
// printing hooks and the analysis notifications.
#include <QMenu>
#include <QProgressBar>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>

#include <thread>

#include "resources/Resource.h"
#include "analysis/EcgDocument.h"
#include "display/EcgPainter.h"
#include "display/VitrelView.h"
#include "support/QtSupport.h"
#include "support/DocumentAccess.h"

using namespace testsupport;

class TestVitrelView : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void scrollSteps();
    void keysScrollAsTheScrollBar();
    void wideWindowHidesScrollBar();
    void dragCommitsOnRelease();
    void wheelZoomSteps();
    void scrollBarMenuWheelAndStaleClick();
    void centerOnSample();
    void commandsAndChecks();
    void hugeRecordingScrollUnits();
    void notificationsKeepOrder();
    void timeLabelsLiveUntilBandRepaint();
    void analysisOfLongRecording();

private:
    // A view of width w on a long recording of `count` zero samples.
    std::unique_ptr<CEcgDocument> MakeDoc(uint32_t count, const QString& name = QStringLiteral("10110814.30"));
    QTemporaryDir m_dir;
};

std::unique_ptr<CEcgDocument> TestVitrelView::MakeDoc(uint32_t count, const QString& name)
{
    auto doc = std::make_unique<CEcgDocument>();
    const QString path = WriteSamples(m_dir.path(), name, std::vector<int16_t>(count, 0));
    doc->OpenFile(path.toStdString());
    return doc;
}

static void SetClientSize(CVitrelView& view, int w, int h)
{
    view.resize(w, h);
    // The scroll bar takes its height below the client area when shown.
    if (view.GetClientRect().height() != h)
        view.resize(w, h + (h - view.GetClientRect().height()));
}

void TestVitrelView::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

void TestVitrelView::scrollSteps()
{
    auto doc = MakeDoc(5400);
    CVitrelView view(doc.get());
    SetClientSize(view, 1000, 400);
    view.UpdateScrollRange();
    QCOMPARE(view.GetClientRect().width(), 1000);
    QCOMPARE(view.GetMaxScrollPos(), 3400);
    QVERIFY(!view.GetScrollBar()->isHidden());
    QCOMPARE(view.GetScrollBar()->maximum(), 3400);
    const DisplaySettings& settings = view.GetDisplaySettings();

    view.OnHScroll(CVitrelView::SB_THUMBTRACK, 3395);
    QCOMPARE(settings.m_nViewPos, 3395);
    view.OnHScroll(CVitrelView::SB_LINERIGHT);
    QCOMPARE(settings.m_nViewPos, 3400);
    QCOMPARE(settings.m_nDragPos, 3400);
    QCOMPARE(view.GetScrollBar()->value(), 3400);
    view.OnHScroll(CVitrelView::SB_LINERIGHT);
    QCOMPARE(settings.m_nViewPos, 3400);

    view.OnHScroll(CVitrelView::SB_LEFT);
    QCOMPARE(settings.m_nViewPos, 0);
    view.OnHScroll(CVitrelView::SB_PAGERIGHT);
    QCOMPARE(settings.m_nViewPos, 340);
    view.OnHScroll(CVitrelView::SB_THUMBPOSITION, 300);
    view.OnHScroll(CVitrelView::SB_PAGELEFT);
    QCOMPARE(settings.m_nViewPos, 0);
    view.OnHScroll(CVitrelView::SB_THUMBTRACK, 5);
    view.OnHScroll(CVitrelView::SB_LINELEFT);
    QCOMPARE(settings.m_nViewPos, 0);
    view.OnHScroll(CVitrelView::SB_THUMBTRACK, 3100);
    view.OnHScroll(CVitrelView::SB_PAGERIGHT);
    QCOMPARE(settings.m_nViewPos, 3400);
    view.OnHScroll(CVitrelView::SB_ENDSCROLL);
    QCOMPARE(settings.m_nViewPos, 3400);

    // The bar's own buttons go the same way.
    view.OnHScroll(CVitrelView::SB_LEFT);
    view.GetScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    QCOMPARE(settings.m_nViewPos, 10);
    view.GetScrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
    QCOMPARE(settings.m_nViewPos, 350);
    view.GetScrollBar()->triggerAction(QAbstractSlider::SliderToMaximum);
    QCOMPARE(settings.m_nViewPos, 3400);
    QCOMPARE(view.GetScrollBar()->value(), 3400);

    // A zoom command recomputes the range and clamps the position.
    view.OnCommand(ID_ZOOM_400);
    QCOMPARE(view.GetMaxScrollPos(), 4900);
    view.OnCommand(ID_ZOOM_50);
    QCOMPARE(view.GetMaxScrollPos(), 1400);
    QCOMPARE(settings.m_nViewPos, 1400);
}

void TestVitrelView::wideWindowHidesScrollBar()
{
    auto doc = MakeDoc(5400);
    CVitrelView view(doc.get());
    view.OnCommand(ID_ZOOM_50);
    view.resize(1500, 400);
    view.UpdateScrollRange();
    QCOMPARE(view.GetMaxScrollPos(), 0);
    QVERIFY(view.GetScrollBar()->isHidden());
    QCOMPARE(view.GetClientRect().height(), 400);
    for (int code : {CVitrelView::SB_LINERIGHT, CVitrelView::SB_PAGERIGHT, CVitrelView::SB_RIGHT,
                     CVitrelView::SB_LINELEFT, CVitrelView::SB_PAGELEFT}) {
        view.OnHScroll(code);
        QCOMPARE(view.GetDisplaySettings().m_nViewPos, 0);
    }

    // Without a file there is nothing to scroll.
    CVitrelView empty(nullptr);
    empty.resize(500, 300);
    empty.UpdateScrollRange();
    QCOMPARE(empty.GetMaxScrollPos(), 0);
    QVERIFY(empty.GetScrollBar()->isHidden());
}

void TestVitrelView::dragCommitsOnRelease()
{
    auto doc = MakeDoc(5400);
    CVitrelView view(doc.get());
    SetClientSize(view, 1000, 400);
    view.OnCommand(ID_ZOOM_200);
    view.UpdateScrollRange();
    QVERIFY(view.GetMaxScrollPos() > 1100);
    const DisplaySettings& settings = view.GetDisplaySettings();
    view.OnHScroll(CVitrelView::SB_THUMBTRACK, 1000);
    QCOMPARE(view.cursor().hotSpot(), QPoint(10, 8));
    QCOMPARE(view.cursor().pixmap().size(), QSize(32, 32));

    QTest::mousePress(&view, Qt::LeftButton, {}, QPoint(500, 100));
    QVERIFY(settings.m_bDragging);
    QCOMPARE(view.cursor().hotSpot(), QPoint(11, 9));
    QTest::mouseMove(&view, QPoint(400, 100));
    QCOMPARE(settings.m_nDragPos, 1100);
    QCOMPARE(settings.m_nViewPos, 1000);   // committed only on release
    QCOMPARE(view.GetScrollBar()->value(), 1100);
    // Moving right of the start moves the strip right, clamped at 0.
    QTest::mouseMove(&view, QPoint(990, 100));
    QCOMPARE(settings.m_nDragPos, 510);
    QTest::mouseMove(&view, QPoint(5000, 100));
    QCOMPARE(settings.m_nDragPos, 0);
    QTest::mouseMove(&view, QPoint(400, 100));
    QTest::mouseRelease(&view, Qt::LeftButton, {}, QPoint(400, 100));
    QVERIFY(!settings.m_bDragging);
    QCOMPARE(settings.m_nViewPos, 1100);
    QCOMPARE(view.cursor().hotSpot(), QPoint(10, 8));

    // Dragging far left stops at the maximum.
    QTest::mousePress(&view, Qt::LeftButton, {}, QPoint(900, 100));
    QTest::mouseMove(&view, QPoint(-20000, 100));
    QCOMPARE(settings.m_nDragPos, view.GetMaxScrollPos());
    QTest::mouseRelease(&view, Qt::LeftButton, {}, QPoint(0, 100));
    QCOMPARE(settings.m_nViewPos, view.GetMaxScrollPos());
}

static void Wheel(CVitrelView& view, int delta, QPoint pos = QPoint(100, 100))
{
    QWheelEvent event(pos, view.mapToGlobal(pos), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(&view, &event);
}

void TestVitrelView::wheelZoomSteps()
{
    auto doc = MakeDoc(50000);
    CVitrelView view(doc.get());
    SetClientSize(view, 1000, 400);
    view.UpdateScrollRange();
    view.OnHScroll(CVitrelView::SB_THUMBTRACK, 2000);
    const float& zoom = view.GetDisplaySettings().m_fZoom;
    for (int i = 0; i < 12; ++i)
        Wheel(view, 120);
    QCOMPARE(zoom, 4.0f);
    Wheel(view, 1);   // any forward delta is one step
    QCOMPARE(zoom, 4.0f);
    QVERIFY(view.IsCommandChecked(ID_ZOOM_400));
    QCOMPARE(view.GetDisplaySettings().m_nViewPos, 2000);   // the left edge stays
    QCOMPARE(view.GetMaxScrollPos(), 50000 - 500);

    view.OnCommand(ID_ZOOM_100);
    Wheel(view, -120);
    QCOMPARE(zoom, 0.75f);
    Wheel(view, -480);
    QCOMPARE(zoom, 0.5f);
    Wheel(view, -120);
    QCOMPARE(zoom, 0.5f);
    QVERIFY(view.IsCommandChecked(ID_ZOOM_50));
    Wheel(view, 120);
    Wheel(view, 120);
    Wheel(view, 120);
    QCOMPARE(zoom, 1.25f);
    QVERIFY(view.IsCommandChecked(ID_ZOOM_125));
    Wheel(view, 120);
    QCOMPARE(zoom, 1.5f);
    Wheel(view, 120);
    QCOMPARE(zoom, 1.75f);   // between menu values: nothing checked
    for (int id : {ID_ZOOM_50, ID_ZOOM_75, ID_ZOOM_100, ID_ZOOM_125, ID_ZOOM_150, ID_ZOOM_200, ID_ZOOM_300, ID_ZOOM_400})
        QVERIFY(!view.IsCommandChecked(id));
    // A horizontal wheel does not zoom.
    QWheelEvent sideways(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(120, 0), Qt::NoButton, Qt::NoModifier,
                         Qt::NoScrollPhase, false);
    QApplication::sendEvent(&view, &sideways);
    QCOMPARE(zoom, 1.75f);

    // Zooming out near the end clamps the left edge to the new maximum.
    view.OnHScroll(CVitrelView::SB_RIGHT);
    Wheel(view, -120);
    QCOMPARE(view.GetDisplaySettings().m_nViewPos, view.GetMaxScrollPos());
}

void TestVitrelView::scrollBarMenuWheelAndStaleClick()
{
    auto doc = MakeDoc(50000);
    CVitrelView view(doc.get());
    SetClientSize(view, 1000, 400);
    view.UpdateScrollRange();
    const DisplaySettings& settings = view.GetDisplaySettings();
    QScrollBar* bar = view.GetScrollBar();

    // Every item of the bar's menu moves the trace and the bar together.
    const auto choose = [&](const QString& text, QPoint at) {
        QStringList shown;
        QTimer::singleShot(0, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            QVERIFY(menu);
            for (QAction* action : menu->actions())
                if (!action->isSeparator())
                    shown << action->text();
            for (QAction* action : menu->actions())
                if (action->text() == text)
                    action->trigger();
            menu->close();
        });
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, bar->mapToGlobal(at));
        QApplication::sendEvent(bar, &event);
        return shown;
    };
    const QStringList items = choose(QStringLiteral("右边缘"), QPoint(10, 5));
    QCOMPARE(items, (QStringList{"滚动至此", "左边缘", "右边缘", "向左翻页", "向右翻页", "向左滚动", "向右滚动"}));
    QCOMPARE(settings.m_nViewPos, view.GetMaxScrollPos());
    choose(QStringLiteral("向左滚动"), QPoint(10, 5));
    QCOMPARE(settings.m_nViewPos, view.GetMaxScrollPos() - 10);
    choose(QStringLiteral("滚动至此"), QPoint(bar->width() / 2, 5));
    QVERIFY(std::abs(settings.m_nViewPos - view.GetMaxScrollPos() / 2) < view.GetMaxScrollPos() / 20);
    for (const char* item : {"左边缘", "向右翻页", "向右滚动", "向左翻页", "滚动至此"}) {
        choose(QString::fromUtf8(item), QPoint(bar->width() / 3, 5));
        QCOMPARE(bar->value(), settings.m_nViewPos);
        QCOMPARE(settings.m_nDragPos, settings.m_nViewPos);
    }

    // The wheel over the bar zooms, as over the trace.
    QWheelEvent wheel(QPointF(50, 5), bar->mapToGlobal(QPointF(50, 5)), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(bar, &wheel);
    QCOMPARE(settings.m_fZoom, 1.25f);

    // Zoomed in at the end, then the range shrinks: a click without a drag
    // stays inside the new range.
    view.OnCommand(ID_ZOOM_400);
    view.OnHScroll(CVitrelView::SB_RIGHT);
    Wheel(view, -120);
    Wheel(view, -120);
    QTest::mouseClick(&view, Qt::LeftButton, {}, QPoint(300, 100));
    QCOMPARE(settings.m_nViewPos, view.GetMaxScrollPos());
    QCOMPARE(bar->value(), settings.m_nViewPos);
}

void TestVitrelView::centerOnSample()
{
    auto doc = MakeDoc(20000);
    CVitrelView view(doc.get());
    SetClientSize(view, 800, 300);
    view.UpdateScrollRange();
    QVERIFY(view.GetMaxScrollPos() > 9200);
    view.CenterOnSample(10000);
    QCOMPARE(view.GetDisplaySettings().m_nViewPos, 9200);
    QCOMPARE(view.GetDisplaySettings().m_nDragPos, 9200);
    QCOMPARE(view.GetScrollBar()->value(), 9200);
    view.CenterOnSample(300);
    QCOMPARE(view.GetDisplaySettings().m_nViewPos, 0);
    view.CenterOnSample(19999);
    QCOMPARE(view.GetDisplaySettings().m_nViewPos, view.GetMaxScrollPos());
    view.CenterOnSample(0xFFFFFFFFu);
    QCOMPARE(view.GetDisplaySettings().m_nViewPos, view.GetMaxScrollPos());
    view.OnCommand(ID_ZOOM_200);
    view.CenterOnSample(10000);
    QCOMPARE(view.GetDisplaySettings().m_nViewPos, 9600);

    // Not while a print or preview runs.
    view.OnBeginPrinting();
    QVERIFY(view.m_bPrinting);
    view.CenterOnSample(500);
    QCOMPARE(view.GetDisplaySettings().m_nViewPos, 9600);
    view.OnEndPrinting();
    QVERIFY(!view.m_bPrinting);
    view.CenterOnSample(500);
    QCOMPARE(view.GetDisplaySettings().m_nViewPos, 100);
}

void TestVitrelView::commandsAndChecks()
{
    auto doc = MakeDoc(5400);
    CVitrelView view(doc.get());
    QVERIFY(view.IsCommandChecked(ID_VIEW_GRID));
    QVERIFY(view.IsCommandChecked(ID_ZOOM_100));
    view.OnCommand(ID_VIEW_GRID);
    QVERIFY(!view.GetDisplaySettings().m_bShowGrid);
    QVERIFY(!view.IsCommandChecked(ID_VIEW_GRID));
    view.OnCommand(ID_VIEW_GRID);
    QVERIFY(view.GetDisplaySettings().m_bShowGrid);

    // R marks stay off and disabled until detection is done.
    QVERIFY(!view.IsCommandEnabled(ID_VIEW_RMARKS));
    view.OnCommand(ID_VIEW_RMARKS);
    QVERIFY(!view.GetDisplaySettings().m_bShowRMarks);
    DocAccess::SetDetectionDone(*doc, true);
    QVERIFY(view.IsCommandEnabled(ID_VIEW_RMARKS));
    view.OnCommand(ID_VIEW_RMARKS);
    QVERIFY(view.GetDisplaySettings().m_bShowRMarks);
    QVERIFY(view.IsCommandChecked(ID_VIEW_RMARKS));

    const std::pair<int, float> zooms[] = {{ID_ZOOM_50, 0.5f},  {ID_ZOOM_75, 0.75f}, {ID_ZOOM_100, 1.0f},
                                           {ID_ZOOM_125, 1.25f}, {ID_ZOOM_150, 1.5f}, {ID_ZOOM_200, 2.0f},
                                           {ID_ZOOM_300, 3.0f},  {ID_ZOOM_400, 4.0f}};
    for (auto [id, zoom] : zooms) {
        view.OnCommand(id);
        QCOMPARE(view.GetDisplaySettings().m_fZoom, zoom);
        for (auto [other, z] : zooms)
            QCOMPARE(view.IsCommandChecked(other), other == id);
    }
    QVERIFY(!CVitrelView::HandlesCommand(ID_FILE_OPEN));
    QVERIFY(CVitrelView::HandlesCommand(ID_FILE_PRINT_DIRECT));

    // Zoom in and out step through the list from wherever the wheel left the zoom.
    QVERIFY(!view.IsCommandEnabled(ID_VIEW_ZOOM_IN));
    view.OnCommand(ID_VIEW_ZOOM_IN);
    QCOMPARE(view.GetDisplaySettings().m_fZoom, 4.0f);
    view.OnCommand(ID_VIEW_ZOOM_OUT);
    QCOMPARE(view.GetDisplaySettings().m_fZoom, 3.0f);
    Wheel(view, -120);   // 2.75, off the list
    view.OnCommand(ID_VIEW_ZOOM_OUT);
    QCOMPARE(view.GetDisplaySettings().m_fZoom, 2.0f);
    Wheel(view, 120);    // 2.25
    view.OnCommand(ID_VIEW_ZOOM_IN);
    QCOMPARE(view.GetDisplaySettings().m_fZoom, 3.0f);
    view.OnCommand(ID_ZOOM_50);
    QVERIFY(!view.IsCommandEnabled(ID_VIEW_ZOOM_OUT) && view.IsCommandEnabled(ID_VIEW_ZOOM_IN));
    view.OnCommand(ID_VIEW_ZOOM_IN);
    QCOMPARE(view.GetDisplaySettings().m_fZoom, 0.75f);
}

void TestVitrelView::keysScrollAsTheScrollBar()
{
    auto doc = MakeDoc(50000);
    CVitrelView keyed(doc.get());
    CVitrelView barred(doc.get());
    for (CVitrelView* view : {&keyed, &barred}) {
        SetClientSize(*view, 1000, 400);
        view->UpdateScrollRange();
    }
    const struct { Qt::Key key; int code; } steps[] = {
        {Qt::Key_Right, CVitrelView::SB_LINERIGHT}, {Qt::Key_PageDown, CVitrelView::SB_PAGERIGHT},
        {Qt::Key_PageDown, CVitrelView::SB_PAGERIGHT}, {Qt::Key_Left, CVitrelView::SB_LINELEFT},
        {Qt::Key_End, CVitrelView::SB_RIGHT}, {Qt::Key_PageUp, CVitrelView::SB_PAGELEFT},
        {Qt::Key_Home, CVitrelView::SB_LEFT},
    };
    for (const auto& step : steps) {
        QTest::keyClick(&keyed, step.key);
        barred.OnHScroll(step.code);
        QCOMPARE(keyed.GetDisplaySettings().m_nViewPos, barred.GetDisplaySettings().m_nViewPos);
        QCOMPARE(keyed.GetScrollBar()->value(), barred.GetScrollBar()->value());
    }
    QTest::keyClick(&keyed, Qt::Key_End);
    QCOMPARE(keyed.GetDisplaySettings().m_nViewPos, keyed.GetMaxScrollPos());
    // With a modifier the key is someone else's (the menus' shortcuts).
    QTest::keyClick(&keyed, Qt::Key_Home, Qt::ControlModifier);
    QCOMPARE(keyed.GetDisplaySettings().m_nViewPos, keyed.GetMaxScrollPos());
    QCOMPARE(keyed.focusPolicy(), Qt::StrongFocus);
}

void TestVitrelView::hugeRecordingScrollUnits()
{
    // A sparse file of more than 2^31 samples: the bar steps in units of 2.
    const uint64_t samples = (1ULL << 31) + 5000;
    const QString path = WriteSparseFile(m_dir.path(), QStringLiteral("10110814.40"), samples * 2);
    if (path.isEmpty())
        QSKIP("no sparse files here");
    CEcgDocument doc;
    doc.OpenFile(path.toStdString());
    CVitrelView view(&doc);
    SetClientSize(view, 1000, 300);
    view.UpdateScrollRange();
    const int64_t M = view.GetMaxScrollPos();
    QCOMPARE(M, static_cast<int64_t>(samples - 2000));
    QCOMPARE(view.GetScrollUnit(), 2);
    QCOMPARE(view.GetScrollBar()->maximum(), static_cast<int>(M / 2));
    view.OnHScroll(CVitrelView::SB_RIGHT);
    QCOMPARE(view.GetDisplaySettings().m_nViewPos, M);
    view.OnHScroll(CVitrelView::SB_LINELEFT);
    QCOMPARE(view.GetDisplaySettings().m_nViewPos, M - 10);
    view.GetScrollBar()->triggerAction(QAbstractSlider::SliderToMinimum);
    QCOMPARE(view.GetDisplaySettings().m_nViewPos, 0);
    view.CenterOnSample(0x70000000u);
    QCOMPARE(view.GetDisplaySettings().m_nViewPos, static_cast<int64_t>(0x70000000u) - 1000);
    QCOMPARE(view.GetScrollBar()->value(), static_cast<int>((0x70000000u - 1000) / 2));
    view.CenterOnSample(0xF0000000u);
    QCOMPARE(view.GetDisplaySettings().m_nViewPos, M);
}

void TestVitrelView::notificationsKeepOrder()
{
    auto doc = MakeDoc(5400);
    CVitrelView view(doc.get());
    view.resize(800, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.OnInitialUpdate();   // a long recording: the worker starts
    QTRY_VERIFY_WITH_TIMEOUT(!doc->IsAnalysisRunning() && view.IsIdle(), 10000);
    QProgressBar* bar = view.GetProgressBar();
    QVERIFY(bar);
    QVERIFY(bar->isHidden());
    QCOMPARE(bar->geometry(), QRect(100, view.GetClientRect().height() - 20, 800 - 105, 15));

    // From another thread: the finish pauses 50 ms, yet the statistics phase
    // that follows it is shown after it, not before.
    std::thread worker([&view]() {
        view.ShowProgress();
        view.SetProgress(42);
        view.OnDetectionFinished(true);
        view.BeginStatisticsProgress();
        view.SetProgress(7);
    });
    worker.join();
    QTRY_VERIFY(view.IsIdle());
    QVERIFY(!bar->isHidden());
    QCOMPARE(bar->value(), 7);
    std::thread finisher([&view]() { view.OnStatisticsFinished(false); });
    finisher.join();
    QElapsedTimer timer;
    timer.start();
    QTRY_VERIFY(view.IsIdle());
    QVERIFY(timer.elapsed() >= 45);
    QVERIFY(bar->isHidden());

    // The progress bar follows size changes.
    view.resize(600, 250);
    QCOMPARE(bar->geometry(), QRect(100, view.GetClientRect().height() - 20, 600 - 105, 15));
}

void TestVitrelView::timeLabelsLiveUntilBandRepaint()
{
    auto doc = MakeDoc(50000, QStringLiteral("10110814.45"));
    CVitrelView view(doc.get());
    view.resize(900, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QTest::mouseMove(&view, QPoint(100, 120));
    QTRY_VERIFY(view.GetPainter()->HasTimeLabels());
    QCOMPARE(view.GetPainter()->GetRelativeTimeLabel(), QStringLiteral("相对时间：00:00:00"));
    QCOMPARE(view.GetPainter()->GetAbsoluteTimeLabel(), QStringLiteral("绝对时间：2010-11-08 14:45:00"));
    QTest::qWait(50);
    // A trace repaint keeps them; a repaint of the label band for another reason drops them.
    view.InvalidateTraceArea();
    QTest::qWait(50);
    QVERIFY(view.GetPainter()->HasTimeLabels());
    view.OnCommand(ID_ZOOM_150);
    QTRY_VERIFY(!view.GetPainter()->HasTimeLabels());
    // Scrolling writes the time of the left edge.
    view.OnHScroll(CVitrelView::SB_THUMBTRACK, 250 * 125);
    QTRY_VERIFY(view.GetPainter()->HasTimeLabels());
    QCOMPARE(view.GetPainter()->GetRelativeTimeLabel(), QStringLiteral("相对时间：00:02:05"));
}

void TestVitrelView::analysisOfLongRecording()
{
    QString path = RunSynth({QStringLiteral("long"), QStringLiteral("--minutes"), QStringLiteral("20"),
                             QStringLiteral("--start"), QStringLiteral("2010-11-08 14:30"), m_dir.path()});
    if (path.isEmpty())
        path = WriteSamples(m_dir.path(), QStringLiteral("10110814.50"), SpikeTrain(250 * 60 * 20));
    CEcgDocument doc;
    doc.OpenFile(path.toStdString());
    CVitrelView view(&doc);
    view.resize(800, 300);
    view.OnInitialUpdate();
    // Printing waits for the end of the run.
    if (doc.IsAnalysisRunning())
        QVERIFY(!view.IsCommandEnabled(ID_FILE_PRINT));
    QTRY_VERIFY_WITH_TIMEOUT(!doc.IsAnalysisRunning() && view.IsIdle(), 60000);
    QVERIFY(doc.IsDetectionDone());
    QVERIFY(doc.IsStatisticsReady());
    QVERIFY(!view.IsProgressVisible());
    QVERIFY(view.IsCommandEnabled(ID_FILE_PRINT));
    QVERIFY(view.IsCommandEnabled(ID_FILE_PRINT_PREVIEW));
    QVERIFY(view.IsCommandEnabled(ID_VIEW_RMARKS));
}

QTEST_MAIN(TestVitrelView)
#include "tst_vitrelview.moc"
