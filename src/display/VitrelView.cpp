#include "display/VitrelView.h"

#include <QPainter>
#include <QProgressBar>
#include <QScrollBar>

#include "app/VitrelDoc.h"
#include "display/EcgPainter.h"
#include "report/PrintJob.h"

CVitrelView* g_pActiveView = nullptr;

CVitrelView::CVitrelView(CVitrelDoc* pDoc, QWidget* parent) : QWidget(parent), m_pPainter(new CEcgPainter), m_pDocument(pDoc) {}
CVitrelView::~CVitrelView()
{
    if (m_pDocument)
        m_pDocument->StopAnalysis();
    if (g_pActiveView == this)
        g_pActiveView = nullptr;
    delete m_pPainter;
}
void CVitrelView::OnInitialUpdate() {}
void CVitrelView::OnActivateView(bool, CVitrelView*, CVitrelView*) {}
void CVitrelView::OnDraw(QPainter*) {}
bool CVitrelView::OnPreparePrinting(CPrintInfo*) { return true; }
void CVitrelView::OnBeginPrinting(QPainter*, CPrintInfo*) { m_bPrinting = true; }
void CVitrelView::OnPrint(QPainter*, CPrintInfo*) {}
void CVitrelView::OnEndPrinting(QPainter*, CPrintInfo*) { m_bPrinting = false; }
int CVitrelView::GetPrintPageCount() const { return 1; }
bool CVitrelView::HandlesCommand(int) { return false; }
void CVitrelView::OnCommand(int) {}
bool CVitrelView::IsCommandEnabled(int) const { return false; }
bool CVitrelView::IsCommandChecked(int) const { return false; }
float CVitrelView::ZoomForCommand(int) { return 0; }
void CVitrelView::CenterOnSample(uint32_t) {}
void CVitrelView::OnHScroll(int) {}
int64_t CVitrelView::GetMaxScrollPos() const { return 0; }
void CVitrelView::UpdateScrollRange() {}
void CVitrelView::InvalidateTopBand() {}
void CVitrelView::InvalidateTraceArea() {}
void CVitrelView::RefreshResultPanes() {}
void CVitrelView::RefreshRhythmPane() {}
QRect CVitrelView::GetClientRect() const { return rect(); }
bool CVitrelView::IsProgressVisible() const { return false; }
bool CVitrelView::IsIdle() const { return true; }
void CVitrelView::ShowProgress() {}
void CVitrelView::SetProgress(short) {}
void CVitrelView::OnDetectionFinished(bool) {}
void CVitrelView::BeginStatisticsProgress() {}
void CVitrelView::OnStatisticsFinished(bool) {}
void CVitrelView::paintEvent(QPaintEvent*) {}
void CVitrelView::resizeEvent(QResizeEvent*) {}
void CVitrelView::mousePressEvent(QMouseEvent*) {}
void CVitrelView::mouseReleaseEvent(QMouseEvent*) {}
void CVitrelView::mouseMoveEvent(QMouseEvent*) {}
void CVitrelView::wheelEvent(QWheelEvent*) {}
void CVitrelView::OnSize() {}
void CVitrelView::SetScrollPos(int64_t) {}
void CVitrelView::OnScrollBarAction(int) {}
void CVitrelView::LayoutScrollBar() {}
void CVitrelView::Post(std::function<void()>, int) {}
void CVitrelView::PumpNotifications() {}
