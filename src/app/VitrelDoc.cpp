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
    return lead.isEmpty() ? name : ToQString(Text::kLeadTitle).arg(name, lead);
}

QString CVitrelDoc::GetLeadLabel() const
{
    return QString::fromStdString(RecordingLeadLabel(GetEcgFile()));
}

bool CVitrelDoc::IsSamePath(const QString& a, const QString& b)
{
    return IsSameFile(QFile::encodeName(a).toStdString(), QFile::encodeName(b).toStdString());
}
