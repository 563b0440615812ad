#include "app/RecentFileList.h"

#include "app/VitrelDoc.h"

#include <QDir>
#include <QSettings>

static const char* const kGroup = "Recent File List";

CRecentFileList::CRecentFileList(int nSize) : m_nSize(nSize) {}

void CRecentFileList::ReadList()
{
    m_files.clear();
    QSettings settings(QStringLiteral("VITREL-ECG"), QStringLiteral("vitrel-ecg"));
    settings.beginGroup(QLatin1String(kGroup));
    for (int i = 1; i <= m_nSize; ++i) {
        const QString path = settings.value(QStringLiteral("File%1").arg(i)).toString();
        if (!path.isEmpty())
            m_files.append(path);
    }
}

void CRecentFileList::WriteList() const
{
    QSettings settings(QStringLiteral("VITREL-ECG"), QStringLiteral("vitrel-ecg"));
    settings.remove(QLatin1String(kGroup));
    settings.beginGroup(QLatin1String(kGroup));
    for (int i = 0; i < m_files.size(); ++i)
        settings.setValue(QStringLiteral("File%1").arg(i + 1), m_files[i]);
}

void CRecentFileList::Add(const QString& path)
{
    for (int i = 0; i < m_files.size(); ++i) {
        if (CVitrelDoc::IsSamePath(m_files[i], path)) {
            m_files.removeAt(i);
            break;
        }
    }
    m_files.prepend(path);
    while (m_files.size() > m_nSize)
        m_files.removeLast();
    WriteList();
}

void CRecentFileList::Remove(int index)
{
    if (index < 0 || index >= m_files.size())
        return;
    m_files.removeAt(index);
    WriteList();
}

QString CRecentFileList::GetDisplayName(int index) const
{
    QString path = QDir::toNativeSeparators(m_files.value(index));
    // Long paths keep their start and their file name.
    constexpr int kMax = 64;
    if (path.size() > kMax) {
        const int slash = path.lastIndexOf(QLatin1Char('/'));
        const QString tail = path.mid(slash);
        const int head = std::max<int>(kMax - static_cast<int>(tail.size()) - 3, 4);
        path = path.left(head) + QStringLiteral("...") + tail;
    }
    path.replace(QLatin1Char('&'), QStringLiteral("&&"));
    return QStringLiteral("&%1 %2").arg(index + 1).arg(path);
}
