// What a waveform view asks of the window around it. The main frame
// implements it: it keeps the record of the active view and owns the panes,
// so the view never reaches for either itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "analysis/BeatClass.h"

class CVitrelView;
class QPoint;

// The corrections a view may make to its document's beats; each step is
// published into the document at once (the window side owns the sitting).
class IBeatEditor {
public:
    virtual bool IsEditable() const = 0;
    virtual bool Relabel(const std::vector<size_t>& indices, BeatClass to) = 0;
    virtual bool Delete(size_t index) = 0;
    virtual bool InsertNear(uint32_t near, BeatClass cls, size_t* index) = 0;
    virtual bool CanUndo() const = 0;
    virtual bool CanRedo() const = 0;
    virtual bool Undo() = 0;
    virtual bool Redo() = 0;

protected:
    ~IBeatEditor() = default;
};

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
    // The editor of pView's beats, or null while they cannot be corrected.
    virtual IBeatEditor* GetBeatEditor(CVitrelView*) { return nullptr; }
    // pView's beats were corrected: every pane follows.
    virtual void OnBeatsEdited(CVitrelView*) {}
    // pView's run has ended (the review may begin).
    virtual void OnRunEnded(CVitrelView*) {}
    // pView's selected beat changed (-1: none).
    virtual void OnBeatSelected(CVitrelView*, int64_t) {}

protected:
    ~IViewHost() = default;
};
