#include "app/PaneSet.h"

#include <QKeySequence>
#include <QShortcut>

#include <QCoreApplication>
#include <QDockWidget>
#include <QFile>
#include <QMainWindow>
#include <QPointer>

#include "analysis/EcgDocument.h"
#include "app/MainFrame.h"
#include "panes/HolterPanes.h"
#include "panes/Panes.h"
#include "panes/RRPlots.h"
#include "panes/TemplatesDlg.h"
#include "recording/ErrorMessage.h"
#include "resources/QtResources.h"
#include "resources/Resource.h"

namespace {

// The set whose panes the pane accessors return.
const CPaneSet* s_pFramePanes = nullptr;

}  // namespace

CPaneSet::~CPaneSet()
{
    Unregister();
}

void CPaneSet::Unregister()
{
    if (s_pFramePanes == this)
        s_pFramePanes = nullptr;
}

QDockWidget* CPaneSet::CreatePane(QMainWindow* frame, int id, CDialogEx* dialog, Qt::DockWidgetArea area,
                                  const std::function<void(uint32_t)>& onCenter)
{
    // The pane id is also the string id of its caption.
    auto* pane = new QDockWidget(LoadQString(id), frame);
    pane->setObjectName(QString::number(id));
    pane->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable |
                      QDockWidget::DockWidgetFloatable);
    m_panes.insert(id, pane);
    dialog->Create(frame);
    pane->setWidget(dialog);
    frame->addDockWidget(area, pane);
    QObject::connect(dialog, &CDialogEx::centerRequested, frame, onCenter);
    QObject::connect(pane, &QDockWidget::visibilityChanged, frame, [this, id](bool visible) {
        if (visible)
            RefillDeferred(id);
    });
    return pane;
}

void CPaneSet::Create(QMainWindow* frame, std::function<void(uint32_t)> onCenter)
{
    m_pTrendPane = new CHeartRateTrendDlg;
    m_pAbnormalPane = new CAbnormalWaveDlg;
    m_pResultPane = new CAnalyzeResultDlg;
    m_pRhythmPane = new CHourlyRateDlg;
    QDockWidget* trend = CreatePane(frame, IDR_PANE_TREND, m_pTrendPane, Qt::BottomDockWidgetArea, onCenter);
    trend->setMinimumSize(480, 160);
    QDockWidget* abnormal = CreatePane(frame, IDR_PANE_ABNORMAL, m_pAbnormalPane, Qt::LeftDockWidgetArea, onCenter);
    QDockWidget* result = CreatePane(frame, IDR_PANE_RESULT, m_pResultPane, Qt::RightDockWidgetArea, onCenter);
    result->setMinimumSize(260, 394);
    QDockWidget* rhythm = CreatePane(frame, IDR_PANE_RHYTHM, m_pRhythmPane, Qt::LeftDockWidgetArea, onCenter);
    frame->splitDockWidget(abnormal, rhythm, Qt::Vertical);
    m_pTemplatesPane = new CTemplatesDlg;
    QDockWidget* templates = CreatePane(frame, IDR_PANE_TEMPLATES, m_pTemplatesPane, Qt::RightDockWidgetArea, onCenter);
    frame->tabifyDockWidget(result, templates);

    m_pSummaryPane = new CHolterSummaryDlg;
    m_pEventsPane = new CEventsDlg;
    m_pRRPlotsPane = new CRRPlotsDlg;
    frame->tabifyDockWidget(result, CreatePane(frame, IDR_PANE_SUMMARY, m_pSummaryPane, Qt::RightDockWidgetArea, onCenter));
    frame->tabifyDockWidget(abnormal, CreatePane(frame, IDR_PANE_EVENTS, m_pEventsPane, Qt::LeftDockWidgetArea, onCenter));
    frame->tabifyDockWidget(trend, CreatePane(frame, IDR_PANE_RRPLOTS, m_pRRPlotsPane, Qt::BottomDockWidgetArea, onCenter));
    // The next and previous event of the type the events pane shows.
    auto* next = new QShortcut(QKeySequence(Qt::Key_F3), frame);
    // The list may be hidden behind another tab and not yet filled.
    QObject::connect(next, &QShortcut::activated, m_pEventsPane, [this] {
        RefillDeferred(IDR_PANE_EVENTS);
        m_pEventsPane->NextEvent();
    });
    auto* previous = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3), frame);
    QObject::connect(previous, &QShortcut::activated, m_pEventsPane, [this] {
        RefillDeferred(IDR_PANE_EVENTS);
        m_pEventsPane->PreviousEvent();
    });
    // The recorder's panes stay in front.
    trend->raise();
    abnormal->raise();

    ApplyInitialSizes(frame);
    result->show();
    result->raise();
    s_pFramePanes = this;
}

void CPaneSet::ApplyInitialSizes(QMainWindow* frame)
{
    QDockWidget* trend = m_panes.value(IDR_PANE_TREND);
    QDockWidget* abnormal = m_panes.value(IDR_PANE_ABNORMAL);
    QDockWidget* result = m_panes.value(IDR_PANE_RESULT);
    QDockWidget* rhythm = m_panes.value(IDR_PANE_RHYTHM);
    if (!trend || !abnormal || !result || !rhythm)
        return;
    frame->resizeDocks({trend}, {240}, Qt::Vertical);
    frame->resizeDocks({abnormal, result}, {290, 280}, Qt::Horizontal);
    frame->resizeDocks({abnormal, rhythm}, {120, 120}, Qt::Vertical);
}

void CPaneSet::DeferHidden(CEcgDocument* doc)
{
    m_pDeferringDoc = doc;
    if (doc && doc != m_pDeferredDoc) {
        m_deferred.clear();
        m_pDeferredDoc = doc;
    }
}

bool CPaneSet::Defer(int id)
{
    QDockWidget* pane = m_panes.value(id);
    // A frame that is not shown, or a pane in sight, is filled as before; a
    // tab behind another is moved out of the frame, not hidden.
    const bool inSight = pane && pane->isVisible() && !pane->visibleRegion().isEmpty();
    if (!m_pDeferringDoc || !pane || !pane->window()->isVisible() || inSight) {
        m_deferred.remove(id);
        return false;
    }
    m_deferred.insert(id);
    return true;
}

void CPaneSet::RefillDeferred(int id)
{
    if (!m_deferred.remove(id))
        return;
    switch (id) {
    case IDR_PANE_SUMMARY: m_pSummaryPane->Refresh(); break;
    case IDR_PANE_EVENTS: m_pEventsPane->Refresh(); break;
    case IDR_PANE_RRPLOTS: m_pRRPlotsPane->Refresh(); break;
    default: break;
    }
}

void CPaneSet::SetDocument(const CEcgDocument* doc)
{
    if (doc != m_pDeferredDoc) {
        m_deferred.clear();
        m_pDeferredDoc = nullptr;
    }
    // The panes read the document of the active view, and only that one.
    for (CDialogEx* pane : std::initializer_list<CDialogEx*>{m_pResultPane, m_pRhythmPane, m_pAbnormalPane, m_pTrendPane,
                                                             m_pSummaryPane, m_pEventsPane, m_pRRPlotsPane, m_pTemplatesPane})
        if (pane)
            pane->SetDocument(doc);
}

QString CPaneSet::FillResults(CEcgDocument* doc)
{
    if (!doc || !m_pResultPane)
        return {};
    QString error;
    if (doc->GetFileKind() != 0) {
        try {
            m_pResultPane->ShowResults(doc->GetFileKind(), QFile::decodeName(QByteArray::fromStdString(doc->GetFilePath())));
        } catch (const std::exception& e) {
            error = QString::fromStdString(ErrorMessageFor(e, doc->GetFilePath()));
        }
    }
    m_pAbnormalPane->DeleteAllItems();
    std::vector<uint32_t> beats;
    doc->GetAbnormalBeats(beats);
    for (uint32_t pos : beats)
        m_pAbnormalPane->AddAbnormalRow(pos);
    m_pTrendPane->update();
    return error;
}

void CPaneSet::FillRhythm(CEcgDocument* doc)
{
    if (!doc || !m_pRhythmPane)
        return;
    m_pRhythmPane->DeleteAllItems();
    std::vector<const HourRateStats*> hours;
    doc->GetHourStats(hours);
    for (const HourRateStats* record : hours)
        m_pRhythmPane->AddHourRow(record);
    m_pTrendPane->update();
    FillHolter();
}

void CPaneSet::FillHolter()
{
    for (auto* pane : {static_cast<CDialogEx*>(m_pSummaryPane), static_cast<CDialogEx*>(m_pEventsPane)})
        if (!pane)
            return;
    if (!Defer(IDR_PANE_SUMMARY))
        m_pSummaryPane->Refresh();
    if (!Defer(IDR_PANE_EVENTS))
        m_pEventsPane->Refresh();
    if (!Defer(IDR_PANE_RRPLOTS))
        m_pRRPlotsPane->Refresh();
}

void CPaneSet::RepaintTrend()
{
    if (m_pTrendPane)
        m_pTrendPane->update();
}

void CPaneSet::FillTemplates(CEcgDocument* doc)
{
    if (!m_pTemplatesPane)
        return;
    m_pTemplatesPane->SetSampleReader(doc ? SampleReader([doc](int16_t* buffer, uint64_t first, uint32_t count) {
        return doc->ReadSamples(buffer, int64_t(first), count);
    }) : SampleReader());
    m_pTemplatesPane->Refill();
}

void CPaneSet::Clear()
{
    m_deferred.clear();
    m_pDeferredDoc = m_pDeferringDoc = nullptr;
    if (m_pTemplatesPane)
        m_pTemplatesPane->Clear();
    if (!m_pResultPane)
        return;
    m_pRhythmPane->DeleteAllItems();
    m_pAbnormalPane->DeleteAllItems();
    m_pResultPane->ClearResults();
    m_pTrendPane->update();
    SetDocument(nullptr);
    FillHolter();
}

// ---- Pane accessors -----------------------------------------------------

namespace {

// A pane for callers that come while there is no main frame; it lives
// until the application quits.
template <class T>
T* PaneWithoutFrame()
{
    static QPointer<T> s_pane;
    if (!s_pane) {
        s_pane = new T;
        if (QCoreApplication* app = QCoreApplication::instance())
            QObject::connect(app, &QCoreApplication::aboutToQuit, s_pane.data(), [] { delete s_pane.data(); });
    }
    return s_pane.data();
}

}  // namespace

CAnalyzeResultDlg* GetAnalyzeResultDlg()
{
    return s_pFramePanes ? s_pFramePanes->GetResultPane() : PaneWithoutFrame<CAnalyzeResultDlg>();
}

CHourlyRateDlg* GetHourlyRateDlg()
{
    return s_pFramePanes ? s_pFramePanes->GetRhythmPane() : PaneWithoutFrame<CHourlyRateDlg>();
}

CAbnormalWaveDlg* GetAbnormalWaveDlg()
{
    return s_pFramePanes ? s_pFramePanes->GetAbnormalPane() : PaneWithoutFrame<CAbnormalWaveDlg>();
}

CHeartRateTrendDlg* GetHeartRateTrendDlg()
{
    return s_pFramePanes ? s_pFramePanes->GetTrendPane() : PaneWithoutFrame<CHeartRateTrendDlg>();
}
