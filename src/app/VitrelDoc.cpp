#include "app/VitrelDoc.h"

#include <QFileInfo>

CVitrelDoc::CVitrelDoc(QObject* parent) : QObject(parent) {}
CVitrelDoc::~CVitrelDoc() = default;
bool CVitrelDoc::OnOpenDocument(const QString& path)
{
    OpenFile(QFile::encodeName(QFileInfo(path).absoluteFilePath()).toStdString());
    return true;
}
void CVitrelDoc::OnCloseDocument() { m_bClosed = true; }
QString CVitrelDoc::GetPathName() const { return QFile::decodeName(m_strFilePath.c_str()); }
QString CVitrelDoc::GetTitle() const { return QFileInfo(GetPathName()).fileName(); }
bool CVitrelDoc::IsSamePath(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }
void CVitrelDoc::ClearPanes() {}
