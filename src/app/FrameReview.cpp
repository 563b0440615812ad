// The frame's side of a beat review: the view's editor, the panes after
// each correction, saving the review and asking before it is lost.
#include <QFileDialog>
#include <QMessageBox>
#include <QStatusBar>

#include "app/ChildFrame.h"
#include "app/MainFrame.h"
#include "app/VitrelDoc.h"
#include "display/VitrelView.h"
#include "panes/TemplatesDlg.h"
#include "recording/ErrorMessage.h"
#include "resources/QtResources.h"
#include "resources/Resource.h"

CVitrelDoc* CMainFrame::DocumentOf(CVitrelView* pView)
{
    return pView ? dynamic_cast<CVitrelDoc*>(pView->GetDocument()) : nullptr;
}

IBeatEditor* CMainFrame::GetBeatEditor(CVitrelView* pView)
{
    return DocumentOf(pView);
}

void CMainFrame::OnRunEnded(CVitrelView* pView)
{
    CVitrelDoc* doc = DocumentOf(pView);
    if (!doc || doc->IsClosed())
        return;
    ReviewStatus status;
    try {
        status = doc->BeginReview();
    } catch (const std::exception& e) {
        statusBar()->showMessage(QString::fromStdString(ErrorMessageFor(e, doc->GetFilePath())));
        return;
    }
    const QString path = doc->GetReviewPath();
    switch (status) {
    case ReviewStatus::loaded: statusBar()->showMessage(ToQString(Text::kReviewLoaded).arg(path)); break;
    case ReviewStatus::foreign: statusBar()->showMessage(ToQString(Text::kReviewForeign).arg(path)); break;
    case ReviewStatus::damaged: statusBar()->showMessage(ToQString(Text::kReviewDamaged).arg(path)); break;
    case ReviewStatus::absent: break;
    }
    if (status == ReviewStatus::loaded && IsActiveView(pView))
        OnBeatsEdited(pView);
    else if (IsActiveView(pView)) {
        if (CTemplatesDlg* templates = m_paneSet.GetTemplatesPane())
            templates->SetScale(pView->GetDisplaySettings().m_nGain, pView->GetDisplaySettings().m_fZoom);
        m_paneSet.FillTemplates(doc);
    }
    UpdateFrameTitle();
    UpdateCommandUI();
}

void CMainFrame::OnBeatsEdited(CVitrelView* pView)
{
    if (IsActiveView(pView)) {
        // Panes out of sight follow when they are shown: a day's summary,
        // events and plots cost about as much as the edit itself.
        m_paneSet.DeferHidden(pView->GetDocument());
        FillResultPanes(pView);
        FillRhythmPane(pView);
        if (CTemplatesDlg* templates = m_paneSet.GetTemplatesPane())
            templates->SetScale(pView->GetDisplaySettings().m_nGain, pView->GetDisplaySettings().m_fZoom);
        m_paneSet.FillTemplates(pView->GetDocument());
        m_paneSet.DeferHidden(nullptr);
    }
    pView->update();
    UpdateFrameTitle();
    UpdateCommandUI();
}

void CMainFrame::OnBeatSelected(CVitrelView* pView, int64_t position)
{
    if (CTemplatesDlg* templates = m_paneSet.GetTemplatesPane(); templates && IsActiveView(pView))
        templates->SetSelectedBeat(position);
}

void CMainFrame::OnRelabelFamily(const std::vector<size_t>& indices, BeatClass to)
{
    CVitrelView* view = g_pActiveView;
    CVitrelDoc* doc = DocumentOf(view);
    if (doc && doc->IsEditable() && doc->Relabel(indices, to))
        OnBeatsEdited(view);
}

bool CMainFrame::SaveReview(CVitrelDoc* doc)
{
    std::string error;
    QString target;
    while (!doc->SaveReview(&error, target)) {
        target = PromptForReviewSaveAs(doc, ToQString(Text::kReviewSaveFailed).arg(QString::fromStdString(error)));
        if (target.isEmpty())
            return false;
        error.clear();
    }
    statusBar()->showMessage(ToQString(Text::kReviewSaved).arg(target.isEmpty() ? doc->GetReviewPath() : target));
    UpdateFrameTitle();
    return true;
}

bool CMainFrame::ConfirmCloseReview(CVitrelDoc* doc)
{
    if (!doc || !doc->IsReviewModified())
        return true;
    switch (AskSaveReview(doc)) {
    case QMessageBox::Save: return SaveReview(doc);
    case QMessageBox::Discard: return true;
    default: return false;
    }
}

int CMainFrame::AskSaveReview(const CVitrelDoc* doc)
{
    return QMessageBox::question(this, LoadQString(IDR_MAINFRAME), ToQString(Text::kReviewAskSave).arg(QFileInfo(doc->GetPathName()).fileName()),
                                 QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save);
}

QString CMainFrame::PromptForReviewSaveAs(const CVitrelDoc* doc, const QString& message)
{
    if (QMessageBox::warning(this, LoadQString(IDR_MAINFRAME), message, QMessageBox::Yes | QMessageBox::No,
                             QMessageBox::Yes) != QMessageBox::Yes)
        return {};
    QFileDialog dialog(this, ToQString(Text::kReviewSaveAsTitle), QFileInfo(doc->GetReviewPath()).fileName(),
                       ToQString(Text::kReviewSaveAsFilter));
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}

