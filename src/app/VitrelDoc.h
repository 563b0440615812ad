// The Qt document of one opened recording: the UI-free CEcgDocument plus
// its place among the windows (child frame and view).
#pragma once

#include <QObject>
#include <QString>

#include "analysis/EcgDocument.h"

class CChildFrame;
class CVitrelView;

class CVitrelDoc : public QObject, public CEcgDocument {
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

    CVitrelView* GetView() const { return m_pView; }
    void SetView(CVitrelView* pView) { m_pView = pView; }
    CChildFrame* GetFrame() const { return m_pFrame; }
    void SetFrame(CChildFrame* pFrame) { m_pFrame = pFrame; }

signals:
    void documentClosing();

private:
    CVitrelView* m_pView = nullptr;
    CChildFrame* m_pFrame = nullptr;
    bool m_bClosed = false;
};
