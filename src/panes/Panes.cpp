#include "panes/Panes.h"

#include <QKeyEvent>

CDialogEx::CDialogEx(QWidget* parent) : QDialog(parent) {}

bool CDialogEx::Create(QWidget* parent)
{
    // The frame may already have handed the dialog to its dock; keep it there.
    if (!parentWidget())
        setParent(parent, Qt::Widget);
    m_bCreated = true;
    return true;
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
