#include "panes/Panes.h"

#include <QKeyEvent>

CDialogEx::CDialogEx(QWidget* parent) : QDialog(parent) {}

bool CDialogEx::Create(QWidget* parent)
{
    if (m_bCreated)
        return true;
    setParent(parent, Qt::Widget);
    OnInitDialog();
    m_bCreated = true;
    return true;
}

void CDialogEx::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

CAnalyzeResultDlg::CAnalyzeResultDlg() = default;
void CAnalyzeResultDlg::ClearResults() {}
void CAnalyzeResultDlg::ShowResults(int, const QString&) {}

CHeartRateDlg::CHeartRateDlg() = default;
void CHeartRateDlg::DeleteAllItems() {}
void CHeartRateDlg::AddHourRow(const HourRateStats*) {}

CAbnormalWaveDlg::CAbnormalWaveDlg() = default;
void CAbnormalWaveDlg::DeleteAllItems() {}
void CAbnormalWaveDlg::AddAbnormalRow(uint32_t) {}

CHeartRateTrendDlg::CHeartRateTrendDlg() = default;

// Function-local statics: built on first use, destroyed at exit after the
// main window (which only borrows them) is gone.
template <class T>
static T* PaneInstance()
{
    static T* s_pane = new T;
    return s_pane;
}

CAnalyzeResultDlg* GetAnalyzeResultDlg() { return PaneInstance<CAnalyzeResultDlg>(); }
CHeartRateDlg* GetHeartRateDlg() { return PaneInstance<CHeartRateDlg>(); }
CAbnormalWaveDlg* GetAbnormalWaveDlg() { return PaneInstance<CAbnormalWaveDlg>(); }
CHeartRateTrendDlg* GetHeartRateTrendDlg() { return PaneInstance<CHeartRateTrendDlg>(); }
