#include "app/VitrelDoc.h"

#include <QFileInfo>

#include "app/ChildFrame.h"
#include "display/VitrelView.h"
#include "panes/Panes.h"
#include "recording/File.h"

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
    g_pActiveView = nullptr;
    ClearPanes();
    if (m_pFrame && !m_pFrame->IsClosing())
        m_pFrame->close();
}

void CVitrelDoc::ClearPanes()
{
    GetHeartRateDlg()->DeleteAllItems();
    GetAbnormalWaveDlg()->DeleteAllItems();
    GetAnalyzeResultDlg()->ClearResults();
    GetHeartRateTrendDlg()->update();
}

QString CVitrelDoc::GetPathName() const
{
    return QFile::decodeName(QByteArray::fromStdString(GetFilePath()));
}

QString CVitrelDoc::GetTitle() const
{
    return QFileInfo(GetPathName()).fileName();
}

bool CVitrelDoc::IsSamePath(const QString& a, const QString& b)
{
    return IsSameFile(QFile::encodeName(a).toStdString(), QFile::encodeName(b).toStdString());
}
