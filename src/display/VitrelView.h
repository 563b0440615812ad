// The waveform view of one document: a horizontally scrolling ECG strip with
// zoom, grid and R-mark toggles, dragging and the analysis progress bar.
#pragma once

#include <QCursor>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>

#include "analysis/AnalysisView.h"
#include "display/EcgPainter.h"

class CEcgDocument;
class IBeatEditor;
class IViewHost;
class QProgressBar;
class QScrollBar;
class QPainter;

class CVitrelView : public QWidget, public IAnalysisView {
    Q_OBJECT
public:
    // Scroll request codes of OnHScroll.
    enum ScrollCode {
        SB_LINELEFT = 0,
        SB_LINERIGHT = 1,
        SB_PAGELEFT = 2,
        SB_PAGERIGHT = 3,
        SB_THUMBPOSITION = 4,
        SB_THUMBTRACK = 5,
        SB_LEFT = 6,
        SB_RIGHT = 7,
        SB_ENDSCROLL = 8,
    };

    explicit CVitrelView(CEcgDocument* pDoc, QWidget* parent = nullptr);
    ~CVitrelView() override;

    CEcgDocument* GetDocument() const { return m_pDocument; }
    CEcgPainter* GetPainter() const { return m_pPainter.get(); }
    const DisplaySettings& GetDisplaySettings() const { return m_settings; }
    // R marks by beat class (the frame's 显示心搏分类).
    void SetShowBeatClasses(bool on);
    // Of a recording with several leads, lead k drawn or not; the analysed
    // lead is always drawn.
    void SetLeadHidden(int lead, bool hidden);
    bool IsLeadHidden(int lead) const { return m_settings.IsLeadHidden(lead); }
    // The document analyses another lead now: the selection goes, the strip is redrawn.
    void OnLeadChanged();
    // The window that keeps the active view and the panes; none for a view on its own.
    void SetHost(IViewHost* pHost) { m_pHost = pHost; }

    // Creates the progress bar and starts the document's analysis.
    void OnInitialUpdate();
    // Called by the frame when a view becomes active (or, with bActivate false,
    // when this one is deactivated): the activated view becomes the active
    // one and, when it changed, refills the panes.
    void OnActivateView(bool bActivate, CVitrelView* pActivateView, CVitrelView* pDeactiveView);
    // Paints the client area (the strip) with the painter.
    void OnDraw(QPainter* pDC);

    // A print or print preview of the document begins or ends: meanwhile
    // the view stays where it is (m_bPrinting).
    void OnBeginPrinting();
    void OnEndPrinting();

    // Commands of the menus, tool bar and context menu that the view handles.
    static bool HandlesCommand(int id);
    void OnCommand(int id);
    bool IsCommandEnabled(int id) const;
    bool IsCommandChecked(int id) const;
    static float ZoomForCommand(int id);   // 0 when id is no zoom command

    // Moves the view so that sample lies in the middle (no-op while printing).
    void CenterOnSample(uint32_t sample);

    // The selected beat's sample, -1 for none.
    int64_t GetSelectedBeat() const { return m_settings.m_nSelectedBeat; }
    // Selects the beat at position (-1 clears); the view centres it when it
    // is off the screen. False when there is no beat there.
    bool SelectBeat(int64_t position);
    // Insert was pressed: the next click adds a beat.
    bool IsInsertArmed() const { return m_bInsertArmed; }
    // The beat whose mark is within reach of client x, -1 for none.
    int64_t BeatNearX(int x) const;
    // The sample under client x.
    int64_t SampleAtX(int x) const;

    // trackPos (samples) is used by the thumb codes.
    void OnHScroll(int code, int64_t trackPos = 0);
    int64_t GetMaxScrollPos() const;
    void UpdateScrollRange();
    void InvalidateTopBand();
    void InvalidateTraceArea();
    // The host refills its panes from this view's document.
    void RefreshResultPanes();
    void RefreshRhythmPane();

    // Client area: the widget without the scroll bar.
    QRect GetClientRect() const;
    QScrollBar* GetScrollBar() const { return m_pScrollBar; }
    QProgressBar* GetProgressBar() const { return m_wndProgress; }
    bool IsProgressVisible() const;
    // Samples per scroll-bar unit (1 unless the range exceeds an int).
    int64_t GetScrollUnit() const { return m_nScrollUnit; }
    // True once every posted analysis notification has been carried out.
    bool IsIdle() const;
    // A long recording's run is still going: printing waits for its end.
    bool IsAnalysisBusy() const;

    // IAnalysisView: may be called from the analysis worker; every call is
    // posted to the user-interface thread and carried out there in order.
    void ShowProgress() override;
    void SetProgress(short percent) override;
    void OnDetectionFinished(bool completed) override;
    void BeginStatisticsProgress() override;
    void OnStatisticsFinished(bool produced) override;

    QProgressBar* m_wndProgress = nullptr;
    std::unique_ptr<CEcgPainter> m_pPainter;
    bool m_bProgressCreated = false;
    bool m_bPrinting = false;
    QCursor m_hOpenHand;
    QCursor m_hClosedHand;

signals:
    // Enabled or checked state of a command may have changed.
    void commandStateChanged();
    // The stretch on screen changed (scrolling, dragging, zoom, size).
    void viewMoved(uint32_t first, uint32_t length);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

    friend class CViewScrollBar;
    // One zoom step for a wheel turned over the trace or the scroll bar; x is
    // the pointer's x in the view.
    void ZoomByWheel(QWheelEvent* event, double x);

private:
    bool IsActive() const;
    IBeatEditor* Editor() const;
    // Index of the selected beat in the document's beats; -1 for none.
    int64_t SelectedIndex() const;
    // Ctrl+arrows: the previous (-1) or next (+1) beat, of the same class if asked.
    void StepSelection(int direction, bool sameClass);
    // Carries out a beat command; at is the sample of a click for Insert.
    void RunBeatCommand(int id, int64_t at = -1);
    void AfterEdit();
    void OnSize();
    // Keeps the time captions for x and repaints the label band with them.
    void ShowTimeLabels(int x);
    void InvalidateStatusCaption();
    void SetScrollPos(int64_t pos);
    void OnScrollBarAction(int action);
    void LayoutScrollBar();
    // Runs notification steps in order; a step may pause the queue.
    void Post(std::function<void()> step, int pauseBeforeMs = 0);
    void PumpNotifications();

    CEcgDocument* m_pDocument = nullptr;
    IViewHost* m_pHost = nullptr;
    DisplaySettings m_settings;
    QScrollBar* m_pScrollBar = nullptr;
    int64_t m_nScrollPos = 0;       // scroll-bar position in samples
    int64_t m_nScrollMax = 0;       // scroll-bar maximum in samples
    int64_t m_nScrollUnit = 1;
    bool m_bInScrollAction = false;
    struct Step {
        std::function<void()> run;
        int pauseBeforeMs;
    };
    std::deque<Step> m_queue;
    bool m_bPaused = false;
    std::atomic<int> m_nPosted{0};
    std::atomic<int> m_nDone{0};
    bool m_bRunEnded = false;
    bool m_bLabelsFresh = false;
    bool m_bInsertArmed = false;
    int m_nPressX = 0;
    int64_t m_nContextSample = -1;   // where the beat menu was opened
    int64_t m_nMovedFirst = -1, m_nMovedLength = -1;   // as last told by viewMoved
};
