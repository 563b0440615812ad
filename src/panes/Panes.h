// The four docking-pane dialogs and their process-wide accessors.
// Each accessor constructs its dialog on first use (no window yet); callers
// never keep the pointer. Create(parent) makes the window on demand.
#pragma once

#include <QDialog>
#include <cstdint>

struct HourRateStats;

// Pane dialog base: Enter and Esc never close or hide an embedded pane.
class CDialogEx : public QDialog {
    Q_OBJECT
public:
    explicit CDialogEx(QWidget* parent = nullptr);
    // Creates the window as a child of parent; true on success or when it exists.
    virtual bool Create(QWidget* parent);
    bool IsCreated() const { return m_bCreated; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void reject() override {}
    void accept() override {}
    // Builds the controls; called once from Create.
    virtual void OnInitDialog() {}

private:
    bool m_bCreated = false;
};

class CAnalyzeResultDlg : public CDialogEx {
    Q_OBJECT
public:
    CAnalyzeResultDlg();
    void ClearResults();
    // Fills the pane from the recording at path, of file kind `kind`.
    void ShowResults(int kind, const QString& path);
};

class CHeartRateDlg : public CDialogEx {
    Q_OBJECT
public:
    CHeartRateDlg();
    void DeleteAllItems();
    void AddHourRow(const HourRateStats* record);
};

class CAbnormalWaveDlg : public CDialogEx {
    Q_OBJECT
public:
    CAbnormalWaveDlg();
    void DeleteAllItems();
    void AddAbnormalRow(uint32_t position);
};

class CHeartRateTrendDlg : public CDialogEx {
    Q_OBJECT
public:
    CHeartRateTrendDlg();
};

CAnalyzeResultDlg* GetAnalyzeResultDlg();
CHeartRateDlg* GetHeartRateDlg();
CAbnormalWaveDlg* GetAbnormalWaveDlg();
CHeartRateTrendDlg* GetHeartRateTrendDlg();
