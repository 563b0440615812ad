#include "display/VitrelView.h"

#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTimer>

#include <climits>
#include <cmath>
#include <iterator>
#include <mutex>
#include <vector>

#include "analysis/EcgDocument.h"
#include "display/EcgPainter.h"
#include "display/HandCursors.h"
#include "display/ViewHost.h"
#include "resources/QtResources.h"

namespace {

constexpr int kLabelBand = CEcgPainter::LABEL_BAND;

}  // namespace

// The view's scroll bar. Its own context menu would move the bar without the
// trace ("Scroll here" sets the value directly) and is not in the user's
// language; the wheel zooms here as it does over the trace.
class CViewScrollBar : public QScrollBar {
public:
    CViewScrollBar(CVitrelView* view) : QScrollBar(Qt::Horizontal, view), m_pView(view) {}

protected:
    void contextMenuEvent(QContextMenuEvent* event) override
    {
        const int64_t here = ValueAt(event->pos().x()) * m_pView->GetScrollUnit();
        using V = CVitrelView;
        const struct {
            const char* text;
            int code;
        } items[] = {
            {Text::kScrollHere, V::SB_THUMBPOSITION}, {nullptr, -1},
            {Text::kScrollLeftEdge, V::SB_LEFT},      {Text::kScrollRightEdge, V::SB_RIGHT},
            {nullptr, -1},
            {Text::kScrollPageLeft, V::SB_PAGELEFT},  {Text::kScrollPageRight, V::SB_PAGERIGHT},
            {nullptr, -1},
            {Text::kScrollLineLeft, V::SB_LINELEFT},  {Text::kScrollLineRight, V::SB_LINERIGHT},
        };
        QMenu menu(this);
        menu.setObjectName(QStringLiteral("ScrollBarMenu"));
        for (const auto& item : items) {
            if (item.code < 0) {
                menu.addSeparator();
                continue;
            }
            QAction* action = menu.addAction(ToQString(item.text));
            const int code = item.code;
            connect(action, &QAction::triggered, m_pView, [this, code, here] { m_pView->OnHScroll(code, here); });
        }
        menu.exec(event->globalPos());
        event->accept();
    }

    void wheelEvent(QWheelEvent* event) override { m_pView->ZoomByWheel(event, event->position().x()); }

private:
    // The bar value whose thumb centre lies at x, as a click there would give.
    int ValueAt(double x) const
    {
        QStyleOptionSlider opt;
        initStyleOption(&opt);
        const QRect groove = style()->subControlRect(QStyle::CC_ScrollBar, &opt, QStyle::SC_ScrollBarGroove, this);
        const QRect thumb = style()->subControlRect(QStyle::CC_ScrollBar, &opt, QStyle::SC_ScrollBarSlider, this);
        const int span = groove.width() - thumb.width();
        const int pos = static_cast<int>(x) - groove.x() - thumb.width() / 2;
        return QStyle::sliderValueFromPosition(minimum(), maximum(), std::clamp(pos, 0, std::max(span, 0)),
                                               std::max(span, 1), opt.upsideDown);
    }

    CVitrelView* m_pView;
};

CVitrelView::CVitrelView(CEcgDocument* pDoc, QWidget* parent)
    : QWidget(parent),
      m_pPainter(std::make_unique<CEcgPainter>()),
      m_hOpenHand(MakeOpenHandCursor()),
      m_hClosedHand(MakeClosedHandCursor()),
      m_pDocument(pDoc)
{
    setObjectName(QStringLiteral("CVitrelView"));
    // All painting is done by OnDraw over the whole client area.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setAutoFillBackground(false);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(m_hOpenHand);
    setMinimumSize(1, 1);

    m_pScrollBar = new CViewScrollBar(this);
    m_pScrollBar->setRange(0, 0);
    m_pScrollBar->hide();
    m_pScrollBar->setCursor(Qt::ArrowCursor);
    connect(m_pScrollBar, &QAbstractSlider::actionTriggered, this, &CVitrelView::OnScrollBarAction);
}

CVitrelView::~CVitrelView()
{
    // No worker may call into this view once it is gone.
    if (m_pDocument)
        m_pDocument->StopAnalysis();
    if (IsActive())
        m_pHost->SetActiveView(nullptr);
}

bool CVitrelView::IsActive() const
{
    return m_pHost && m_pHost->IsActiveView(this);
}

QRect CVitrelView::GetClientRect() const
{
    int h = height();
    if (m_pScrollBar && !m_pScrollBar->isHidden())
        h -= m_pScrollBar->sizeHint().height();
    return QRect(0, 0, width(), std::max(h, 0));
}

bool CVitrelView::IsProgressVisible() const
{
    return m_wndProgress && !m_wndProgress->isHidden();
}

void CVitrelView::OnInitialUpdate()
{
    update();
    UpdateScrollRange();
    m_bProgressCreated = true;
    m_wndProgress = new QProgressBar(this);
    m_wndProgress->setObjectName(QStringLiteral("IDC_PROGRESS"));
    m_wndProgress->setTextVisible(false);
    m_wndProgress->setRange(0, 100);
    m_wndProgress->setValue(0);
    m_wndProgress->setCursor(Qt::ArrowCursor);
    m_wndProgress->setGeometry(0, 0, 120, 20);
    m_wndProgress->show();
    // The frame is already sized when the view is initialised here.
    OnSize();
    if (m_pDocument)
        m_pDocument->StartAnalysis(this);
    emit commandStateChanged();
}

void CVitrelView::OnActivateView(bool bActivate, CVitrelView* pActivateView, CVitrelView*)
{
    if (!bActivate && !pActivateView)
        return;
    if (!m_pHost || m_pHost->IsActiveView(pActivateView))
        return;
    m_pHost->SetActiveView(pActivateView);
    if (pActivateView && bActivate) {
        pActivateView->RefreshResultPanes();
        pActivateView->RefreshRhythmPane();
    }
}

void CVitrelView::OnDraw(QPainter* pDC)
{
    const QRect rc = GetClientRect();
    m_pPainter->DrawStrip(m_pDocument, m_settings, pDC, rc.width(), rc.height(), IsProgressVisible());
    const int64_t first = m_settings.LeftEdge();
    const int64_t length = static_cast<int64_t>(2.0 * rc.width() / m_settings.m_fZoom);
    if (first != m_nMovedFirst || length != m_nMovedLength) {
        m_nMovedFirst = first;
        m_nMovedLength = length;
        emit viewMoved(static_cast<uint32_t>(std::clamp<int64_t>(first, 0, UINT32_MAX)),
                       static_cast<uint32_t>(std::clamp<int64_t>(length, 0, UINT32_MAX)));
    }
}

void CVitrelView::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    const QRect client = GetClientRect();
    painter.setClipRegion(event->region() & client);
    OnDraw(&painter);
    // The time captions live until the label band is repainted for another reason.
    const QRect band(0, 0, client.width(), kLabelBand);
    if (event->region().intersects(band)) {
        if (m_bLabelsFresh)
            m_pPainter->PaintTimeLabels(&painter);
        else
            m_pPainter->ClearTimeLabels();
        m_bLabelsFresh = false;
    }
}

void CVitrelView::ShowTimeLabels(int x)
{
    m_pPainter->DrawTimeLabels(m_pDocument, m_settings, x);
    m_bLabelsFresh = true;
    update(QRect(0, 0, GetClientRect().width(), kLabelBand));
}

// ---- Scrolling ----------------------------------------------------------

int64_t CVitrelView::GetMaxScrollPos() const
{
    const uint64_t S = m_pDocument ? m_pDocument->GetSampleCount() : 0;
    const double v = 2.0 * GetClientRect().width() / m_settings.m_fZoom;
    const uint64_t V = v > 0 ? static_cast<uint64_t>(v) : 0;
    if (S > V)
        return static_cast<int64_t>(std::min<uint64_t>(S - V, INT64_MAX));
    return 0;
}

void CVitrelView::SetScrollPos(int64_t pos)
{
    m_nScrollPos = std::clamp<int64_t>(pos, 0, m_nScrollMax);
    m_pScrollBar->setSliderPosition(static_cast<int>(m_nScrollPos / m_nScrollUnit));
}

void CVitrelView::UpdateScrollRange()
{
    const int64_t M = GetMaxScrollPos();
    m_nScrollMax = M;
    // The bar's range is an int: beyond it the bar steps in units of samples.
    m_nScrollUnit = M > INT_MAX ? (M + INT_MAX - 1) / INT_MAX : 1;
    const QSignalBlocker block(m_pScrollBar);
    m_pScrollBar->setRange(0, static_cast<int>(M / m_nScrollUnit));
    const double visible = 2.0 * GetClientRect().width() / m_settings.m_fZoom / static_cast<double>(m_nScrollUnit);
    m_pScrollBar->setPageStep(static_cast<int>(std::clamp(visible, 1.0, static_cast<double>(INT_MAX))));
    m_pScrollBar->setSingleStep(static_cast<int>(std::max<int64_t>(10 / m_nScrollUnit, 1)));
    SetScrollPos(m_nScrollPos);
    const bool show = M > 0;
    if (show == m_pScrollBar->isHidden()) {
        m_pScrollBar->setVisible(show);
        LayoutScrollBar();
        update();
    }
    m_settings.m_nViewPos = std::clamp<int64_t>(m_settings.m_nViewPos, 0, M);
    // A click commits the drag position: it must not be one the range no
    // longer holds.
    m_settings.m_nDragPos = std::clamp<int64_t>(m_settings.m_nDragPos, 0, M);
}

void CVitrelView::LayoutScrollBar()
{
    const int sbh = m_pScrollBar->sizeHint().height();
    m_pScrollBar->setGeometry(0, height() - sbh, width(), sbh);
    if (m_bProgressCreated && m_wndProgress) {
        const QRect rc = GetClientRect();
        int left = 100;
        // The precise detector's longer caption stays clear of the bar.
        if (m_pDocument && m_pDocument->GetAnalysisDetector() == DetectorKind::Precise)
            left = std::max(left, 15 + QFontMetrics(m_pPainter->GetFont())
                                           .horizontalAdvance(CEcgPainter::StatusCaption(m_pDocument)));
        m_wndProgress->setGeometry(left, rc.bottom() + 1 - 20, rc.width() - left - 5, 15);
        m_wndProgress->update();
    }
}

void CVitrelView::OnSize()
{
    if (m_bProgressCreated)
        UpdateScrollRange();
    LayoutScrollBar();
}

void CVitrelView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    OnSize();
}

void CVitrelView::OnScrollBarAction(int action)
{
    if (m_bInScrollAction)
        return;
    m_bInScrollAction = true;
    int code = SB_ENDSCROLL;
    switch (action) {
    case QAbstractSlider::SliderSingleStepSub: code = SB_LINELEFT; break;
    case QAbstractSlider::SliderSingleStepAdd: code = SB_LINERIGHT; break;
    case QAbstractSlider::SliderPageStepSub: code = SB_PAGELEFT; break;
    case QAbstractSlider::SliderPageStepAdd: code = SB_PAGERIGHT; break;
    case QAbstractSlider::SliderToMinimum: code = SB_LEFT; break;
    case QAbstractSlider::SliderToMaximum: code = SB_RIGHT; break;
    case QAbstractSlider::SliderMove: code = SB_THUMBTRACK; break;
    default: break;
    }
    const int64_t track = static_cast<int64_t>(m_pScrollBar->sliderPosition()) * m_nScrollUnit;
    OnHScroll(code, track);
    // Our position replaces the one the bar computed for the action.
    m_pScrollBar->setSliderPosition(static_cast<int>(m_nScrollPos / m_nScrollUnit));
    m_bInScrollAction = false;
}

void CVitrelView::OnHScroll(int code, int64_t trackPos)
{
    const int64_t p0 = m_nScrollPos;
    const int64_t M = GetMaxScrollPos();
    int64_t p = p0;
    switch (code) {
    case SB_LINELEFT: p = p0 > 10 ? p0 - 10 : 0; break;
    case SB_LINERIGHT: p = p0 < M - 10 ? p0 + 10 : M; break;
    case SB_PAGELEFT: {
        const int64_t step = M / 10;
        p = p0 <= step ? 0 : p0 - step;
        break;
    }
    case SB_PAGERIGHT: {
        const int64_t step = M / 10;
        p = p0 >= M - step ? M : p0 + step;
        break;
    }
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK: p = std::clamp<int64_t>(trackPos, 0, M); break;
    case SB_LEFT: p = 0; break;
    case SB_RIGHT: p = M; break;
    default: break;
    }
    if (p != p0) {
        m_settings.m_nViewPos = m_settings.m_nDragPos = p;
        SetScrollPos(p);
        ShowTimeLabels(0);
        InvalidateTraceArea();
    }
}

void CVitrelView::CenterOnSample(uint32_t sample)
{
    if (m_bPrinting)
        return;
    const double w = GetClientRect().width();
    int64_t pos = static_cast<int64_t>(static_cast<double>(sample) - w / m_settings.m_fZoom);
    const int64_t M = GetMaxScrollPos();
    if (pos > M)
        pos = M;
    if (pos < 0)
        pos = 0;
    m_settings.m_nViewPos = m_settings.m_nDragPos = pos;
    SetScrollPos(pos);
    update();
}

void CVitrelView::InvalidateTopBand()
{
    update(QRect(0, 0, GetClientRect().width(), kLabelBand));
}

void CVitrelView::InvalidateTraceArea()
{
    const QRect rc = GetClientRect();
    const int B = CEcgPainter::StatusBandHeight(m_pDocument);
    update(QRect(QPoint(0, kLabelBand), QPoint(rc.right(), rc.bottom() - B)));
}

void CVitrelView::InvalidateStatusCaption()
{
    const QRect rc = GetClientRect();
    // The caption naming the precise detector is wider than the plain one.
    const int width = m_pDocument && m_pDocument->GetAnalysisDetector() == DetectorKind::Precise ? rc.width() : 100;
    update(QRect(0, rc.bottom() + 1 - CEcgPainter::STATUS_BAND, width, CEcgPainter::STATUS_BAND));
}

// ---- Panes --------------------------------------------------------------

void CVitrelView::RefreshResultPanes()
{
    if (m_pDocument && m_pHost)
        m_pHost->FillResultPanes(this);
}

void CVitrelView::RefreshRhythmPane()
{
    if (m_pDocument && m_pHost)
        m_pHost->FillRhythmPane(this);
}

// ---- Printing -----------------------------------------------------------

void CVitrelView::OnBeginPrinting()
{
    m_bPrinting = true;
}

void CVitrelView::OnEndPrinting()
{
    m_bPrinting = false;
}

// ---- Analysis notifications (any thread) --------------------------------

namespace {
// Orders building a notification on the worker before running it on the
// user-interface thread in a way race checkers see: Qt's own queue lock is
// not instrumented.
std::mutex g_handOver;
}  // namespace

void CVitrelView::Post(std::function<void()> step, int pauseBeforeMs)
{
    m_nPosted.fetch_add(1, std::memory_order_relaxed);
    std::lock_guard<std::mutex> handOver(g_handOver);
    QMetaObject::invokeMethod(
        this,
        [this, step = std::move(step), pauseBeforeMs]() mutable {
            { std::lock_guard<std::mutex> handedOver(g_handOver); }
            m_queue.push_back({std::move(step), pauseBeforeMs});
            PumpNotifications();
        },
        Qt::QueuedConnection);
}

void CVitrelView::PumpNotifications()
{
    while (!m_bPaused && !m_queue.empty()) {
        Step& front = m_queue.front();
        if (front.pauseBeforeMs > 0) {
            const int ms = front.pauseBeforeMs;
            front.pauseBeforeMs = 0;
            m_bPaused = true;
            QTimer::singleShot(ms, this, [this]() {
                m_bPaused = false;
                PumpNotifications();
            });
            return;
        }
        std::function<void()> run = std::move(front.run);
        m_queue.pop_front();
        run();
        m_nDone.fetch_add(1, std::memory_order_relaxed);
    }
}

bool CVitrelView::IsIdle() const
{
    return m_nDone.load(std::memory_order_relaxed) == m_nPosted.load(std::memory_order_relaxed) && !m_bPaused;
}

void CVitrelView::ShowProgress()
{
    Post([this]() {
        m_bRunEnded = false;
        if (!m_wndProgress)
            return;
        LayoutScrollBar();   // the bar makes room for the run's caption
        m_wndProgress->setValue(0);
        m_wndProgress->show();
        InvalidateStatusCaption();
    });
}

void CVitrelView::SetProgress(short percent)
{
    Post([this, percent]() {
        if (m_wndProgress)
            m_wndProgress->setValue(percent);
    });
}

void CVitrelView::OnDetectionFinished(bool completed)
{
    Post(
        [this, completed]() {
            if (m_wndProgress) {
                m_wndProgress->setValue(0);
                m_wndProgress->hide();
            }
            InvalidateTraceArea();
            InvalidateStatusCaption();
            if (!completed)
                m_bRunEnded = true;   // a failed run computes no statistics
            if (completed && IsActive())
                RefreshResultPanes();
            emit commandStateChanged();
        },
        50);
}

void CVitrelView::BeginStatisticsProgress()
{
    Post([this]() {
        if (m_wndProgress) {
            m_wndProgress->setValue(0);
            m_wndProgress->show();
        }
        InvalidateStatusCaption();
    });
}

void CVitrelView::OnStatisticsFinished(bool produced)
{
    Post(
        [this, produced]() {
            if (m_wndProgress)
                m_wndProgress->hide();
            InvalidateTraceArea();
            InvalidateStatusCaption();
            if (m_pHost)
                m_pHost->RepaintTrendPane();
            m_bRunEnded = true;
            if (m_pHost)
                m_pHost->OnRunEnded(this);
            if (produced && IsActive())
                RefreshRhythmPane();
            emit commandStateChanged();
        },
        50);
}

void CVitrelView::SetShowBeatClasses(bool on)
{
    if (m_settings.m_bShowBeatClasses == on)
        return;
    m_settings.m_bShowBeatClasses = on;
    update();
}

void CVitrelView::SetLeadHidden(int lead, bool hidden)
{
    if (lead < 0 || lead >= 64 || IsLeadHidden(lead) == hidden)
        return;
    m_settings.m_nHiddenLeads ^= uint64_t(1) << lead;
    update();
    emit commandStateChanged();
}

void CVitrelView::OnLeadChanged()
{
    m_settings.m_nSelectedBeat = -1;
    m_bInsertArmed = false;
    update();
    emit commandStateChanged();
}
