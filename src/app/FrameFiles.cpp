// Recordings handed to the frame from outside: named on the command line or
// dropped on the window; they open as through 文件 → 打开文件.
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

#include "app/MainFrame.h"

bool CMainFrame::OpenFiles(const QStringList& paths)
{
    for (const QString& path : paths)
        if (!OpenDocumentFile(path))
            return false;
    return true;
}

void CMainFrame::OpenFilesLater(const QStringList& paths)
{
    if (!paths.isEmpty())
        QTimer::singleShot(0, this, [this, paths] { OpenFiles(paths); });
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (!urls.isEmpty() && std::all_of(urls.begin(), urls.end(), [](const QUrl& url) { return url.isLocalFile(); }))
        event->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent* event)
{
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile())
            paths << url.toLocalFile();
    if (paths.isEmpty())
        return;
    event->acceptProposedAction();
    // Opened after the drop has ended: an error box must not hold the source's drag.
    OpenFilesLater(paths);
}

