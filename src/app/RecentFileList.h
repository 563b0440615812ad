// The recently used files, most recent first, kept in the settings group
// "Recent File List" as File1 ... FileN.
#pragma once

#include <QStringList>

class CRecentFileList {
public:
    explicit CRecentFileList(int nSize);
    void ReadList();
    void WriteList() const;
    // Puts path in front (an equal entry, letter case ignored, moves up).
    void Add(const QString& path);
    void Remove(int index);
    int GetSize() const { return m_nSize; }
    const QStringList& GetFiles() const { return m_files; }
    // Menu text of entry index: "&<n> <path>".
    QString GetDisplayName(int index) const;

private:
    int m_nSize;
    QStringList m_files;
};
