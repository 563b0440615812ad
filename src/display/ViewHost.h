// What a waveform view asks of the window around it. The main frame
// implements it: it keeps the record of the active view and owns the panes,
// so the view never reaches for either itself.
#pragma once

class CVitrelView;
class QPoint;

class IViewHost {
public:
    // The active view (g_pActiveView): whether pView is it, and making pView
    // (or nobody) the active one.
    virtual bool IsActiveView(const CVitrelView* pView) const = 0;
    virtual void SetActiveView(CVitrelView* pView) = 0;
    // Refill from pView's document: the result pane, the abnormal waveform
    // list and the trend chart; the rhythm list and the trend chart.
    virtual void FillResultPanes(CVitrelView* pView) = 0;
    virtual void FillRhythmPane(CVitrelView* pView) = 0;
    virtual void RepaintTrendPane() = 0;
    // Shows context menu id at a global position; false when there is none.
    virtual bool TrackContextMenu(int id, const QPoint& globalPos) = 0;

protected:
    ~IViewHost() = default;
};
