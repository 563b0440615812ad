#include "app/VitrelDoc.h"

#include <QFileInfo>

#include "app/ChildFrame.h"
#include "formats/ExportJob.h"
#include "recording/File.h"
#include "resources/QtResources.h"

CVitrelDoc::CVitrelDoc(QObject* parent) : QObject(parent) {}

CVitrelDoc::~CVitrelDoc()
{
    StopAnalysis();
    m_pReview.reset();
    CloseFile();
}

bool CVitrelDoc::OnOpenDocument(const QString& path)
{
    const QString full = QFileInfo(path).absoluteFilePath();
    OpenFile(QFile::encodeName(full).toStdString());
    return true;
}

void CVitrelDoc::OnCloseDocument()
{
    if (m_bClosed)
        return;
    m_bClosed = true;
    StopAnalysis();
    m_pReview.reset();
    CloseFile();
    emit documentClosing();
    if (m_pFrame && !m_pFrame->IsClosing())
        m_pFrame->close();
}

QString CVitrelDoc::GetPathName() const
{
    return QFile::decodeName(QByteArray::fromStdString(GetFilePath()));
}

QString CVitrelDoc::GetTitle() const
{
    const QString name = QFileInfo(GetPathName()).fileName();
    const QString lead = GetLeadLabel();
    QString title = lead.isEmpty() ? name : ToQString(Text::kLeadTitle).arg(name, lead);
    if (m_bReviewed)
        title = ToQString(Text::kReviewedTitle).arg(title);
    if (IsReviewModified())
        title = ToQString(Text::kModifiedTitle).arg(title);
    return title;
}

bool CVitrelDoc::AnalyseLead(int lead, IAnalysisView* pView)
{
    if (IsReviewModified() || lead < 0 || lead >= GetLeadCount() || lead == GetAnalysedLead())
        return false;
    m_pReview.reset();
    m_bReviewed = false;
    return SelectLead(lead, pView);
}

ReviewStatus CVitrelDoc::BeginReview()
{
    m_pReview = std::make_unique<CReviewSession>(*this);
    const ReviewStatus status = m_pReview->Begin();
    m_bReviewed = status == ReviewStatus::loaded;
    return status;
}

QString CVitrelDoc::GetReviewPath() const
{
    return QFile::decodeName(QByteArray::fromStdString(ReviewPathFor(GetFilePath())));
}

bool CVitrelDoc::SaveReview(std::string* error, const QString& path)
{
    if (!m_pReview || !m_pReview->Save(error, QFile::encodeName(path).toStdString()))
        return false;
    m_bReviewed = true;
    return true;
}

bool CVitrelDoc::Relabel(const std::vector<size_t>& indices, BeatClass to)
{
    return m_pReview && m_pReview->Relabel(indices, to);
}

bool CVitrelDoc::Delete(size_t index)
{
    return m_pReview && m_pReview->Delete(index);
}

bool CVitrelDoc::InsertNear(uint32_t near, BeatClass cls, size_t* index)
{
    return m_pReview && m_pReview->InsertNear(near, cls, index);
}

bool CVitrelDoc::Undo()
{
    return m_pReview && m_pReview->Undo();
}

bool CVitrelDoc::Redo()
{
    return m_pReview && m_pReview->Redo();
}

QString CVitrelDoc::GetLeadLabel() const
{
    return QString::fromStdString(RecordingLeadLabel(GetEcgFile()));
}

bool CVitrelDoc::IsSamePath(const QString& a, const QString& b)
{
    return IsSameFile(QFile::encodeName(a).toStdString(), QFile::encodeName(b).toStdString());
}
