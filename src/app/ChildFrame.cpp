#include "app/ChildFrame.h"

#include <QCloseEvent>
#include <QIcon>
#include <QMdiArea>
#include <QMenu>

#include "app/VitrelDoc.h"
#include "display/VitrelView.h"

CChildFrame::CChildFrame(CVitrelDoc* pDoc, IViewHost* pHost, QWidget* parent)
    : QMdiSubWindow(parent), m_pDocument(pDoc)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("CChildFrame"));
    m_pView = new CVitrelView(pDoc);
    m_pView->SetHost(pHost);
    pDoc->SetView(m_pView);
    setWidget(m_pView);
    setWindowTitle(pDoc->GetTitle());
    setWindowIcon(QIcon(QStringLiteral(":/icons/app.svg")));
    // The window menu's Close would claim Ctrl+W beside the frame's own command.
    if (QMenu* menu = systemMenu())
        for (QAction* action : menu->actions())
            action->setShortcuts({});
    pDoc->SetFrame(this);
}

CChildFrame::~CChildFrame()
{
    // The view stops the worker and lets go of the document before the document goes.
    QWidget* view = widget();
    if (view) {
        setWidget(nullptr);
        delete view;
    }
    m_pView = nullptr;
    if (m_pDocument) {
        m_pDocument->SetView(nullptr);
        m_pDocument->SetFrame(nullptr);
    }
    m_pDocument.reset();
}

void CChildFrame::closeEvent(QCloseEvent* event)
{
    if (!m_bClosing && m_closeGuard && !m_closeGuard(this)) {
        event->ignore();
        return;
    }
    if (!m_bClosing) {
        m_bClosing = true;
        if (m_pDocument)
            m_pDocument->OnCloseDocument();
        emit documentClosed(this);
    }
    QMdiSubWindow::closeEvent(event);
}

QSize CChildFrame::sizeHint() const
{
    if (const QMdiArea* area = mdiArea())
        return (area->viewport()->size() * 2 / 3).expandedTo(minimumSizeHint());
    return QMdiSubWindow::sizeHint();
}
