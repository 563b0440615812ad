// The four docking panes of the main frame and their dialogs: made once,
// handed the active view's document, filled from it and emptied.
#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <cstdint>
#include <functional>

class QDockWidget;
class QMainWindow;
class CAbnormalWaveDlg;
class CAnalyzeResultDlg;
class CDialogEx;
class CEcgDocument;
class CHourlyRateDlg;
class CHeartRateTrendDlg;
class CHolterSummaryDlg;
class CEventsDlg;
class CRRPlotsDlg;
class CTemplatesDlg;

class CPaneSet {
public:
    CPaneSet() = default;
    CPaneSet(const CPaneSet&) = delete;
    CPaneSet& operator=(const CPaneSet&) = delete;
    ~CPaneSet();

    // Docks the panes in frame; a pane that asks to centre a sample calls onCenter.
    void Create(QMainWindow* frame, std::function<void(uint32_t)> onCenter);
    // The sizes the panes start with; honoured once the frame has its real size.
    void ApplyInitialSizes(QMainWindow* frame);

    QDockWidget* GetPane(int id) const { return m_panes.value(id); }
    CAnalyzeResultDlg* GetResultPane() const { return m_pResultPane; }
    CHourlyRateDlg* GetRhythmPane() const { return m_pRhythmPane; }
    CAbnormalWaveDlg* GetAbnormalPane() const { return m_pAbnormalPane; }
    CHeartRateTrendDlg* GetTrendPane() const { return m_pTrendPane; }
    CHolterSummaryDlg* GetSummaryPane() const { return m_pSummaryPane; }
    CEventsDlg* GetEventsPane() const { return m_pEventsPane; }
    CRRPlotsDlg* GetRRPlotsPane() const { return m_pRRPlotsPane; }
    CTemplatesDlg* GetTemplatesPane() const { return m_pTemplatesPane; }

    // The pane accessors no longer return these panes (the frame is going).
    void Unregister();

    void SetDocument(const CEcgDocument* doc);
    // The result and abnormal panes; the message of a recording that failed
    // while its results were read (the result pane then stays cleared).
    QString FillResults(CEcgDocument* doc);
    void FillRhythm(CEcgDocument* doc);
    // The Holter panes, from the document's published results.
    void FillHolter();
    void RepaintTrend();
    void FillTemplates(CEcgDocument* doc);
    void Clear();
    // While on (after a correction), the Holter fills leave a pane that is
    // out of sight to be filled when it is shown (the families pane is acted
    // on from outside and stays filled).
    // doc: the active document, null to end.
    void DeferHidden(CEcgDocument* doc);
    // Fills a pane left for later now; nothing when it is up to date.
    void RefillDeferred(int id);

private:
    QDockWidget* CreatePane(QMainWindow* frame, int id, CDialogEx* dialog, Qt::DockWidgetArea area,
                            const std::function<void(uint32_t)>& onCenter);

    // True when the fill of pane id is left for later.
    bool Defer(int id);

    QHash<int, QDockWidget*> m_panes;
    QSet<int> m_deferred;
    CEcgDocument* m_pDeferredDoc = nullptr;   // whose fills m_deferred are
    CEcgDocument* m_pDeferringDoc = nullptr;  // set while fills may be deferred
    CAnalyzeResultDlg* m_pResultPane = nullptr;
    CHourlyRateDlg* m_pRhythmPane = nullptr;
    CAbnormalWaveDlg* m_pAbnormalPane = nullptr;
    CHeartRateTrendDlg* m_pTrendPane = nullptr;
    // The Holter panes, made after the recorder's four and tabbed behind them.
    CHolterSummaryDlg* m_pSummaryPane = nullptr;
    CEventsDlg* m_pEventsPane = nullptr;
    CRRPlotsDlg* m_pRRPlotsPane = nullptr;
    CTemplatesDlg* m_pTemplatesPane = nullptr;
};

// The panes of the main frame; made on demand, without a window, while there
// is no frame (so they are never null).
CAnalyzeResultDlg* GetAnalyzeResultDlg();
CHourlyRateDlg* GetHourlyRateDlg();
CAbnormalWaveDlg* GetAbnormalWaveDlg();
CHeartRateTrendDlg* GetHeartRateTrendDlg();
