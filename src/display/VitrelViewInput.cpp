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
    } else if (event->button() == Qt::RightButton) {
        if (m_pHost)
            m_pHost->TrackContextMenu(IDR_CONTEXT_MENU, event->globalPosition().toPoint());
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
    return ZoomForCommand(id) > 0 || id == ID_VIEW_ZOOM_IN || id == ID_VIEW_ZOOM_OUT || id == ID_VIEW_GRID || id == ID_VIEW_RMARKS || id == ID_FILE_PRINT ||
           id == ID_FILE_PRINT_DIRECT || id == ID_FILE_PRINT_PREVIEW;
}

bool CVitrelView::IsAnalysisBusy() const
{
    // A long recording cannot be printed until its run has ended.
    return m_pDocument && m_pDocument->IsAnalysisRunning() && !m_bRunEnded;
}

bool CVitrelView::IsCommandEnabled(int id) const
{
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
    if (zoom > 0) {
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
