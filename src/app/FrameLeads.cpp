// The frame's side of a recording with several leads: the leads pop-up
// (show, analyse) and the tachogram's mark of the view's place.
#include <QActionGroup>
#include <QMenu>
#include <QStatusBar>

#include "app/ChildFrame.h"
#include "app/MainFrame.h"
#include "app/PaneSet.h"
#include "app/VitrelDoc.h"
#include "display/VitrelView.h"
#include "panes/RRPlots.h"
#include "resources/QtResources.h"

extern CVitrelView* g_pActiveView;

void CMainFrame::UpdateLeadMenu()
{
    if (!m_pLeadMenu)
        return;
    m_pLeadMenu->clear();
    CVitrelView* view = g_pActiveView;
    CVitrelDoc* doc = DocumentOf(view);
    const int count = doc ? doc->GetLeadCount() : 0;
    m_pLeadMenu->menuAction()->setEnabled(count > 1);
    if (count < 2)
        return;
    const int analysed = doc->GetAnalysedLead();
    for (int k = 0; k < count; ++k) {
        const QString name = QString::fromStdString(doc->GetLeadName(k));
        QString text = ToQString(Text::kShowLead).arg(name).arg(k + 1);
        if (k >= 9)
            text = text.left(text.indexOf(QLatin1Char('\t')));
        QAction* show = m_pLeadMenu->addAction(text);
        show->setCheckable(true);
        show->setChecked(!view->IsLeadHidden(k) || k == analysed);
        show->setEnabled(k != analysed);
        connect(show, &QAction::toggled, view, [view, k](bool on) { view->SetLeadHidden(k, !on); });
    }
    m_pLeadMenu->addSeparator();
    auto* group = new QActionGroup(m_pLeadMenu);
    for (int k = 0; k < count; ++k) {
        QAction* pick = m_pLeadMenu->addAction(ToQString(Text::kAnalyseLead).arg(QString::fromStdString(doc->GetLeadName(k))));
        pick->setCheckable(true);
        pick->setChecked(k == analysed);
        pick->setActionGroup(group);
        // A review with unsaved changes would be lost with the beats it corrects.
        pick->setEnabled(k == analysed || !doc->IsReviewModified());
        connect(pick, &QAction::triggered, this, [this, k]() { OnAnalyseLead(k); });
    }
}

void CMainFrame::OnAnalyseLead(int lead)
{
    CVitrelView* view = g_pActiveView;
    CVitrelDoc* doc = DocumentOf(view);
    if (!doc || doc->IsClosed() || !doc->AnalyseLead(lead, view))
        return;
    // The panes hold the old lead's figures until the new run refills them.
    m_paneSet.SetDocument(doc);
    view->SetLeadHidden(lead, false);
    view->OnLeadChanged();
    if (doc->GetFrame())
        doc->GetFrame()->setWindowTitle(doc->GetTitle());
    UpdateFrameTitle();
    statusBar()->showMessage(ToQString(Text::kLeadChanged).arg(doc->GetLeadLabel()));
}

void CMainFrame::OnViewMoved(CVitrelView* pView)
{
    if (!pView || pView != g_pActiveView)
        return;
    if (CRRPlotsDlg* plots = m_paneSet.GetRRPlotsPane()) {
        const QRect rc = pView->GetClientRect();
        const DisplaySettings& s = pView->GetDisplaySettings();
        const double length = 2.0 * rc.width() / s.m_fZoom;
        plots->SetViewPosition(uint32_t(std::clamp<int64_t>(s.LeftEdge(), 0, UINT32_MAX)),
                               uint32_t(std::clamp(length, 0.0, double(UINT32_MAX))));
    }
}
