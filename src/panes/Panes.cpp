#include "panes/Panes.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QPointer>

CDialogEx::CDialogEx(QWidget* parent) : QDialog(parent) {}

bool CDialogEx::Create(QWidget* parent)
{
    // The frame may already have handed the dialog to its dock; keep it there.
    if (!parentWidget())
        setParent(parent, Qt::Widget);
    m_bCreated = true;
    return true;
}

bool CDialogEx::event(QEvent* event)
{
    if (event->type() == QEvent::ParentChange)
        WatchParent();
    return QDialog::event(event);
}

void CDialogEx::WatchParent()
{
    QObject::disconnect(m_parentWatch);
    if (QWidget* parent = parentWidget())
        m_parentWatch = connect(parent, &QObject::destroyed, this, &CDialogEx::OnParentDestroyed);
}

void CDialogEx::OnParentDestroyed()
{
    // Runs inside the parent's destructor, before it deletes its children.
    QObject::disconnect(m_parentWatch);
    setParent(nullptr, Qt::Widget);
    m_bCreated = false;
}

void CDialogEx::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

// One object per pane for the whole run. The QPointer is a second line of
// defence: should a pane ever be deleted by someone else, the next call
// builds a fresh one instead of handing out a dangling pointer.
template <class T>
static T* PaneInstance()
{
    static QPointer<T> s_pane;
    if (!s_pane) {
        s_pane = new T;
        if (QCoreApplication* app = QCoreApplication::instance())
            QObject::connect(app, &QCoreApplication::aboutToQuit, s_pane.data(), [] { delete s_pane.data(); });
    }
    return s_pane.data();
}

CAnalyzeResultDlg* GetAnalyzeResultDlg() { return PaneInstance<CAnalyzeResultDlg>(); }
CHeartRateDlg* GetHeartRateDlg() { return PaneInstance<CHeartRateDlg>(); }
CAbnormalWaveDlg* GetAbnormalWaveDlg() { return PaneInstance<CAbnormalWaveDlg>(); }
CHeartRateTrendDlg* GetHeartRateTrendDlg() { return PaneInstance<CHeartRateTrendDlg>(); }
