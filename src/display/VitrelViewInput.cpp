// The view's mouse, keyboard and wheel handling and its commands.
#include "display/VitrelView.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>

#include <algorithm>
#include <iterator>

#include "analysis/EcgDocument.h"
#include "display/ViewHost.h"
#include "resources/Resource.h"
#include "analysis/AnalysisResults.h"

namespace {

struct ZoomItem {
    int id;
    float zoom;
};
constexpr ZoomItem kZoomItems[] = {
    {ID_ZOOM_50, 0.5f},   {ID_ZOOM_75, 0.75f},  {ID_ZOOM_100, 1.0f}, {ID_ZOOM_125, 1.25f},
    {ID_ZOOM_150, 1.5f},  {ID_ZOOM_200, 2.0f},  {ID_ZOOM_300, 3.0f}, {ID_ZOOM_400, 4.0f},
};

}  // namespace

// ---- Mouse --------------------------------------------------------------

void CVitrelView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        m_nPressX = static_cast<int>(event->position().x());
        setCursor(m_hClosedHand);
        m_settings.m_bDragging = true;
        m_settings.m_nDragStartX = static_cast<int>(event->position().x());
    }
    QWidget::mousePressEvent(event);
}

void CVitrelView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        setCursor(m_hOpenHand);
        m_settings.m_bDragging = false;
        m_settings.m_nViewPos = m_settings.m_nDragPos;
        // A click, not a drag: selects the beat at the mark or adds one.
        const int x = static_cast<int>(event->position().x());
        if (std::abs(x - m_nPressX) <= 3 && Editor()) {
            if (m_bInsertArmed)
                RunBeatCommand(ID_BEAT_INSERT, SampleAtX(x));
            else if (m_settings.m_bShowRMarks)
                SelectBeat(BeatNearX(x));
        }
    } else if (event->button() == Qt::RightButton) {
        const int x = static_cast<int>(event->position().x());
        const int64_t beat = m_settings.m_bShowRMarks && Editor() ? BeatNearX(x) : -1;
        if (beat >= 0) {
            SelectBeat(beat);
            m_nContextSample = SampleAtX(x);
            if (m_pHost)
                m_pHost->TrackContextMenu(IDR_BEAT_MENU, event->globalPosition().toPoint());
        } else if (m_pHost) {
            m_pHost->TrackContextMenu(IDR_CONTEXT_MENU, event->globalPosition().toPoint());
        }
    }
    QWidget::mouseReleaseEvent(event);
}

void CVitrelView::mouseMoveEvent(QMouseEvent* event)
{
    const int x = static_cast<int>(event->position().x());
    if (m_settings.m_bDragging) {
        const double pos = (m_settings.m_nDragStartX - x) * 2.0 / m_settings.m_fZoom +
                           static_cast<double>(m_settings.m_nViewPos);
        const int64_t M = GetMaxScrollPos();
        int64_t p = static_cast<int64_t>(std::clamp(pos, -1.0, 9.0e18));
        p = std::clamp<int64_t>(p, 0, M);
        m_settings.m_nDragPos = p;
        SetScrollPos(p);
        InvalidateTraceArea();
    } else {
        ShowTimeLabels(x);
    }
    QWidget::mouseMoveEvent(event);
}

// ---- Keyboard -------------------------------------------------------------

void CVitrelView::keyPressEvent(QKeyEvent* event)
{
    // The review's keys: stepping, relabelling, deleting, adding, undo.
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    if (Editor() && !m_settings.m_bDragging) {
        int command = 0;
        if (mods == Qt::ControlModifier || mods == (Qt::ControlModifier | Qt::ShiftModifier)) {
            const bool sameClass = mods & Qt::ShiftModifier;
            switch (event->key()) {
            case Qt::Key_Left: StepSelection(-1, sameClass); event->accept(); return;
            case Qt::Key_Right: StepSelection(1, sameClass); event->accept(); return;
            case Qt::Key_Z: command = sameClass ? ID_EDIT_REDO_BEAT : ID_EDIT_UNDO_BEAT; break;
            case Qt::Key_Y: command = ID_EDIT_REDO_BEAT; break;
            default: break;
            }
        } else if (mods == Qt::NoModifier || mods == Qt::ShiftModifier) {
            switch (event->key()) {
            case Qt::Key_N: command = ID_BEAT_LABEL_N; break;
            case Qt::Key_S: command = ID_BEAT_LABEL_S; break;
            case Qt::Key_V: command = ID_BEAT_LABEL_V; break;
            case Qt::Key_F: command = ID_BEAT_LABEL_F; break;
            case Qt::Key_Q: command = ID_BEAT_LABEL_Q; break;
            case Qt::Key_Delete: command = ID_BEAT_DELETE; break;
            case Qt::Key_Insert: command = ID_BEAT_INSERT; break;
            case Qt::Key_Escape: m_bInsertArmed = false; event->accept(); return;
            default: break;
            }
        }
        if (command) {
            RunBeatCommand(command);
            event->accept();
            return;
        }
    }
    // Alt+1 to Alt+9 show or hide the leads of a recording of several.
    if (mods == Qt::AltModifier && event->key() >= Qt::Key_1 && event->key() <= Qt::Key_9 && m_pDocument) {
        const int lead = event->key() - Qt::Key_1;
        if (lead < m_pDocument->GetLeadCount() && m_pDocument->GetLeadCount() > 1) {
            SetLeadHidden(lead, !IsLeadHidden(lead));
            event->accept();
            return;
        }
    }
    // The keys move the strip as the scroll bar's own commands do.
    int code = -1;
    if (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier) {
        switch (event->key()) {
        case Qt::Key_Left: code = SB_LINELEFT; break;
        case Qt::Key_Right: code = SB_LINERIGHT; break;
        case Qt::Key_PageUp: code = SB_PAGELEFT; break;
        case Qt::Key_PageDown: code = SB_PAGERIGHT; break;
        case Qt::Key_Home: code = SB_LEFT; break;
        case Qt::Key_End: code = SB_RIGHT; break;
        default: break;
        }
    }
    if (code < 0 || m_settings.m_bDragging) {
        QWidget::keyPressEvent(event);
        return;
    }
    OnHScroll(code);
    event->accept();
}

void CVitrelView::wheelEvent(QWheelEvent* event)
{
    ZoomByWheel(event, event->position().x());
}

void CVitrelView::ZoomByWheel(QWheelEvent* event, double x)
{
    const int delta = event->angleDelta().y();
    if (delta == 0) {   // a horizontal wheel is no zoom request
        event->ignore();
        return;
    }
    float& zoom = m_settings.m_fZoom;
    zoom += delta > 0 ? 0.25f : -0.25f;
    if (zoom < 0.5f)
        zoom = 0.5f;
    if (zoom > 4.0f)
        zoom = 4.0f;
    UpdateScrollRange();
    InvalidateTopBand();
    InvalidateTraceArea();
    ShowTimeLabels(static_cast<int>(x));
    event->accept();
    emit commandStateChanged();
}

// ---- Commands -----------------------------------------------------------

float CVitrelView::ZoomForCommand(int id)
{
    for (const ZoomItem& item : kZoomItems)
        if (item.id == id)
            return item.zoom;
    return 0;
}

// The next zoom of the list above (step +1) or below (step -1) zoom; 0 at the end.
static float NextZoom(float zoom, int step)
{
    if (step > 0) {
        for (const ZoomItem& item : kZoomItems)
            if (item.zoom > zoom)
                return item.zoom;
    } else {
        for (auto it = std::rbegin(kZoomItems); it != std::rend(kZoomItems); ++it)
            if (it->zoom < zoom)
                return it->zoom;
    }
    return 0;
}

bool CVitrelView::HandlesCommand(int id)
{
    return (id >= ID_BEAT_LABEL_N && id <= ID_EDIT_REDO_BEAT) || ZoomForCommand(id) > 0 || id == ID_VIEW_ZOOM_IN || id == ID_VIEW_ZOOM_OUT || id == ID_VIEW_GRID || id == ID_VIEW_RMARKS || id == ID_FILE_PRINT ||
           id == ID_FILE_PRINT_DIRECT || id == ID_FILE_PRINT_PREVIEW;
}

bool CVitrelView::IsAnalysisBusy() const
{
    // A long recording cannot be printed until its run has ended.
    return m_pDocument && m_pDocument->IsAnalysisRunning() && !m_bRunEnded;
}

bool CVitrelView::IsCommandEnabled(int id) const
{
    if (id >= ID_BEAT_LABEL_N && id <= ID_EDIT_REDO_BEAT) {
        const IBeatEditor* editor = Editor();
        if (!editor)
            return false;
        if (id == ID_BEAT_INSERT)
            return true;
        if (id == ID_EDIT_UNDO_BEAT)
            return editor->CanUndo();
        if (id == ID_EDIT_REDO_BEAT)
            return editor->CanRedo();
        return SelectedIndex() >= 0;
    }
    if (id == ID_VIEW_RMARKS)
        return m_pDocument && m_pDocument->IsDetectionDone();
    if (id == ID_FILE_PRINT || id == ID_FILE_PRINT_DIRECT || id == ID_FILE_PRINT_PREVIEW)
        return !IsAnalysisBusy();
    if (id == ID_VIEW_ZOOM_IN || id == ID_VIEW_ZOOM_OUT)
        return NextZoom(m_settings.m_fZoom, id == ID_VIEW_ZOOM_IN ? 1 : -1) > 0;
    return HandlesCommand(id);
}

bool CVitrelView::IsCommandChecked(int id) const
{
    if (id == ID_VIEW_GRID)
        return m_settings.m_bShowGrid;
    if (id == ID_VIEW_RMARKS)
        return m_settings.m_bShowRMarks;
    const float zoom = ZoomForCommand(id);
    return zoom > 0 && m_settings.m_fZoom == zoom;
}

void CVitrelView::OnCommand(int id)
{
    if (!IsCommandEnabled(id))
        return;
    float zoom = ZoomForCommand(id);
    if (id == ID_VIEW_ZOOM_IN || id == ID_VIEW_ZOOM_OUT)
        zoom = NextZoom(m_settings.m_fZoom, id == ID_VIEW_ZOOM_IN ? 1 : -1);
    if (id >= ID_BEAT_LABEL_N && id <= ID_EDIT_REDO_BEAT) {
        // From the beat menu, Insert adds at once where the menu was opened.
        RunBeatCommand(id, id == ID_BEAT_INSERT ? m_nContextSample : -1);
        m_nContextSample = -1;
    } else if (zoom > 0) {
        m_settings.m_fZoom = zoom;
        UpdateScrollRange();
        update();
    } else if (id == ID_VIEW_GRID) {
        m_settings.m_bShowGrid = !m_settings.m_bShowGrid;
        InvalidateTraceArea();
    } else if (id == ID_VIEW_RMARKS) {
        m_settings.m_bShowRMarks = !m_settings.m_bShowRMarks;
        InvalidateTraceArea();
    }
    emit commandStateChanged();
}

// ---- Beat review ----------------------------------------------------------

IBeatEditor* CVitrelView::Editor() const
{
    IBeatEditor* editor = m_pHost ? m_pHost->GetBeatEditor(const_cast<CVitrelView*>(this)) : nullptr;
    return editor && editor->IsEditable() ? editor : nullptr;
}

int64_t CVitrelView::SampleAtX(int x) const
{
    return std::max<int64_t>(0, static_cast<int64_t>(2.0 * x / m_settings.m_fZoom) + m_settings.LeftEdge());
}

int64_t CVitrelView::BeatNearX(int x) const
{
    const auto results = m_pDocument ? m_pDocument->GetResults() : nullptr;
    if (!results || results->beats.empty())
        return -1;
    // Within reach: 8 pixels either side of the mark, whatever the zoom.
    const int64_t at = SampleAtX(x);
    const int64_t reach = static_cast<int64_t>(16.0 / m_settings.m_fZoom) + 1;
    const auto& beats = results->beats;
    auto it = std::lower_bound(beats.begin(), beats.end(), static_cast<uint32_t>(std::min<int64_t>(at, UINT32_MAX)));
    int64_t best = -1;
    for (auto c : {it, it == beats.begin() ? it : std::prev(it)}) {
        if (c == beats.end())
            continue;
        const int64_t d = std::abs(static_cast<int64_t>(*c) - at);
        if (d <= reach && (best < 0 || d < std::abs(best - at)))
            best = *c;
    }
    return best;
}

int64_t CVitrelView::SelectedIndex() const
{
    const auto results = m_pDocument ? m_pDocument->GetResults() : nullptr;
    if (!results || m_settings.m_nSelectedBeat < 0)
        return -1;
    const auto& beats = results->beats;
    auto it = std::lower_bound(beats.begin(), beats.end(), static_cast<uint32_t>(m_settings.m_nSelectedBeat));
    if (it == beats.end() || *it != m_settings.m_nSelectedBeat)
        return -1;
    return it - beats.begin();
}

bool CVitrelView::SelectBeat(int64_t position)
{
    const int64_t before = m_settings.m_nSelectedBeat;
    m_settings.m_nSelectedBeat = position;
    if (position >= 0 && SelectedIndex() < 0)
        m_settings.m_nSelectedBeat = -1;
    const int64_t selected = m_settings.m_nSelectedBeat;
    if (selected >= 0) {
        const int64_t left = m_settings.LeftEdge();
        const int64_t span = static_cast<int64_t>(2.0 * GetClientRect().width() / m_settings.m_fZoom);
        // The first 50 mm hold the calibration pulse, where no mark is drawn.
        if (selected < left + static_cast<int64_t>(100) || selected >= left + span)
            CenterOnSample(static_cast<uint32_t>(selected));
    }
    if (selected != before) {
        InvalidateTraceArea();
        if (m_pHost)
            m_pHost->OnBeatSelected(this, selected);
        emit commandStateChanged();
    }
    return selected >= 0 || position < 0;
}

void CVitrelView::StepSelection(int direction, bool sameClass)
{
    const auto results = m_pDocument ? m_pDocument->GetResults() : nullptr;
    if (!results || results->beats.empty())
        return;
    const auto& beats = results->beats;
    int64_t i = SelectedIndex();
    if (i < 0) {
        // From the middle of the screen when nothing is selected.
        const int64_t middle = SampleAtX(GetClientRect().width() / 2);
        i = std::lower_bound(beats.begin(), beats.end(), static_cast<uint32_t>(std::min<int64_t>(middle, UINT32_MAX))) -
            beats.begin();
        if (direction > 0)
            --i;
    }
    const BeatClass cls = i >= 0 && i < static_cast<int64_t>(beats.size()) ? results->classes[size_t(i)]
                                                                           : BeatClass::Unclassified;
    const bool matchClass = sameClass && SelectedIndex() >= 0;
    for (int64_t j = i + direction; j >= 0 && j < static_cast<int64_t>(beats.size()); j += direction) {
        if (!matchClass || results->classes[size_t(j)] == cls) {
            SelectBeat(beats[size_t(j)]);
            return;
        }
    }
}

void CVitrelView::RunBeatCommand(int id, int64_t at)
{
    IBeatEditor* editor = Editor();
    if (!editor)
        return;
    const int64_t index = SelectedIndex();
    bool changed = false;
    switch (id) {
    case ID_BEAT_LABEL_N:
    case ID_BEAT_LABEL_S:
    case ID_BEAT_LABEL_V:
    case ID_BEAT_LABEL_F:
    case ID_BEAT_LABEL_Q: {
        static constexpr char kLetters[] = "NSVFQ";
        if (index >= 0)
            changed = editor->Relabel({size_t(index)}, BeatClassFromLetter(kLetters[id - ID_BEAT_LABEL_N]));
        break;
    }
    case ID_BEAT_DELETE:
        // The selection goes with the beat, so that a second Del takes nothing.
        if (index >= 0 && (changed = editor->Delete(size_t(index))))
            m_settings.m_nSelectedBeat = -1;
        break;
    case ID_BEAT_INSERT:
        if (at < 0) {
            m_bInsertArmed = true;
            setCursor(Qt::CrossCursor);
            return;
        }
        m_bInsertArmed = false;
        setCursor(m_hOpenHand);
        if (at <= UINT32_MAX) {
            size_t added = 0;
            if ((changed = editor->InsertNear(static_cast<uint32_t>(at), BeatClass::N, &added))) {
                const auto results = m_pDocument->GetResults();
                m_settings.m_nSelectedBeat = results && added < results->beats.size() ? results->beats[added] : -1;
            }
        }
        break;
    case ID_EDIT_UNDO_BEAT: changed = editor->Undo(); break;
    case ID_EDIT_REDO_BEAT: changed = editor->Redo(); break;
    default: break;
    }
    if (changed)
        AfterEdit();
}

void CVitrelView::AfterEdit()
{
    // A selection whose beat an undo took away goes too.
    if (SelectedIndex() < 0)
        m_settings.m_nSelectedBeat = -1;
    InvalidateTraceArea();
    if (m_pHost) {
        m_pHost->OnBeatsEdited(this);
        m_pHost->OnBeatSelected(this, m_settings.m_nSelectedBeat);
    }
    emit commandStateChanged();
}
