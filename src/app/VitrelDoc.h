// The Qt document of one opened recording: the UI-free CEcgDocument plus
// its place among the windows (child frame and view).
#pragma once

#include <QObject>
#include <QString>

#include <memory>
#include <string>

#include "analysis/EcgDocument.h"
#include "display/ViewHost.h"
#include "formats/ReviewSession.h"

class CChildFrame;
class CVitrelView;

class CVitrelDoc : public QObject, public CEcgDocument, public IBeatEditor {
    Q_OBJECT
public:
    explicit CVitrelDoc(QObject* parent = nullptr);
    ~CVitrelDoc() override;

    // Kind selection on path (made absolute). Raises CFileException or
    // CTimeException; after a failure the document holds nothing.
    bool OnOpenDocument(const QString& path);
    // Stops the analysis, closes the file, announces documentClosing (the
    // main frame then forgets the active view and empties the panes), then
    // closes the frame, which deletes view and document. Idempotent.
    void OnCloseDocument();
    bool IsClosed() const { return m_bClosed; }

    QString GetPathName() const;   // m_strFilePath
    // The last path component; a standard recording adds its lead ("100.hea — MLII").
    QString GetTitle() const;
    // The lead a standard recording shows; empty for the recorder's files.
    QString GetLeadLabel() const;
    // The same file on disk (device and inode, or resolved paths): a link or
    // "./" spelling of an open recording is that recording; letter case counts.
    static bool IsSamePath(const QString& a, const QString& b);

    // Analyses another lead from the start, the review dropped; false when
    // there is no such lead or an unsaved review would be lost.
    bool AnalyseLead(int lead, IAnalysisView* pView);

    CVitrelView* GetView() const { return m_pView; }
    void SetView(CVitrelView* pView) { m_pView = pView; }
    CChildFrame* GetFrame() const { return m_pFrame; }
    void SetFrame(CChildFrame* pFrame) { m_pFrame = pFrame; }

    // The review of this recording, begun once its run has ended. Raises
    // CFileException when the samples cannot be read.
    ReviewStatus BeginReview();
    bool IsReviewed() const { return m_bReviewed; }
    bool IsReviewModified() const { return m_pReview && m_pReview->IsModified(); }
    // Writes the review beside the recording, or to path.
    bool SaveReview(std::string* error, const QString& path = {});
    QString GetReviewPath() const;
    const CReviewSession* GetReview() const { return m_pReview.get(); }

    // IBeatEditor
    bool IsEditable() const override { return m_pReview && m_pReview->IsActive(); }
    bool Relabel(const std::vector<size_t>& indices, BeatClass to) override;
    bool Delete(size_t index) override;
    bool InsertNear(uint32_t near, BeatClass cls, size_t* index) override;
    bool CanUndo() const override { return m_pReview && m_pReview->Review().CanUndo(); }
    bool CanRedo() const override { return m_pReview && m_pReview->Review().CanRedo(); }
    bool Undo() override;
    bool Redo() override;

signals:
    void documentClosing();

private:
    CVitrelView* m_pView = nullptr;
    CChildFrame* m_pFrame = nullptr;
    bool m_bClosed = false;
    std::unique_ptr<CReviewSession> m_pReview;
    bool m_bReviewed = false;   // a saved review was loaded or written
};
