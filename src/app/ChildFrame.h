// The MDI child window of one document: holds the document and its view.
#pragma once

#include <QMdiSubWindow>
#include <functional>
#include <memory>

class CVitrelDoc;
class CVitrelView;
class IViewHost;

class CChildFrame : public QMdiSubWindow {
    Q_OBJECT
public:
    // Takes ownership of pDoc and creates its view, hosted by pHost, inside the frame.
    CChildFrame(CVitrelDoc* pDoc, IViewHost* pHost, QWidget* parent = nullptr);
    ~CChildFrame() override;

    CVitrelDoc* GetDocument() const { return m_pDocument.get(); }
    CVitrelView* GetView() const { return m_pView; }
    bool IsClosing() const { return m_bClosing; }
    // Cascading gives each window its size hint; the view has none of its own.
    QSize sizeHint() const override;
    // Asked before the window closes; false keeps it open (unsaved review).
    void SetCloseGuard(std::function<bool(CChildFrame*)> guard) { m_closeGuard = std::move(guard); }

signals:
    // The document has closed and emptied the panes; the frame goes next.
    void documentClosed(CChildFrame* frame);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::unique_ptr<CVitrelDoc> m_pDocument;
    CVitrelView* m_pView = nullptr;
    bool m_bClosing = false;
    std::function<bool(CChildFrame*)> m_closeGuard;
};
