// The four docking-pane dialogs. The main frame owns them: it hands each the
// document of the active view and carries out their requests to move that
// view. Create(parent) puts the dialog's window under parent.
#pragma once

#include <QDialog>
#include <QFont>
#include <QPoint>
#include <QRect>
#include <QString>
#include <cstdint>

class CEcgDocument;
struct HourRateStats;
class QGroupBox;
class QLabel;
class QPainter;
class QTableWidget;
class QItemSelection;

// Pane dialog base: Enter and Esc never close or hide an embedded pane.
class CDialogEx : public QDialog {
    Q_OBJECT
public:
    explicit CDialogEx(QWidget* parent = nullptr);
    // Puts the window under parent; true on success or when it already has one.
    virtual bool Create(QWidget* parent);
    bool IsCreated() const { return m_bCreated; }

    // The document of the active view, or null; the pane reads it, never keeps its data.
    void SetDocument(const CEcgDocument* pDoc) { m_pDocument = pDoc; }
    const CEcgDocument* GetDocument() const { return m_pDocument; }

signals:
    // The user chose a moment: the active view should centre on this sample.
    void centerRequested(uint32_t sample);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void reject() override {}
    void accept() override {}
    void done(int) override {}

    const CEcgDocument* m_pDocument = nullptr;

private:
    bool m_bCreated = false;
};

class CAnalyzeResultDlg : public CDialogEx {
    Q_OBJECT
public:
    // Value field ids in the order the pane keeps their texts.
    static constexpr int kFieldIds[12] = {1012, 1014, 1025, 1023, 1024, 1013, 1015, 1016, 1017, 1018, 1019, 1022};

    CAnalyzeResultDlg();
    void ClearResults();
    // Fills the pane from the recording at path, of file kind `kind`.
    // Raises CFileException when the file cannot be read; the pane is cleared then.
    void ShowResults(int kind, const QString& path);
    // Text shown in value field id, or an empty string for an unknown id.
    QString GetFieldText(int id) const;

private:
    void UpdateData();

    QString m_strValues[12];
    QLabel* m_pFields[12] = {};
};

// Common part of the two list panes: one QTableWidget filling the pane.
class CListPaneDlg : public CDialogEx {
    Q_OBJECT
public:
    struct Column {
        const char* heading;
        int width;
    };

    void DeleteAllItems();
    QTableWidget* GetListCtrl() const { return m_pList; }

protected:
    CListPaneDlg(const Column* columns, int count, int minRowHeight, QSize templateSize);
    // Appends a row with the given column texts.
    void AppendRow(const QString* texts, int count);

    QTableWidget* m_pList = nullptr;
};

// The hour records of the rhythm statistics list: span, slowest, average, fastest rate.
class CHourlyRateDlg : public CListPaneDlg {
    Q_OBJECT
public:
    CHourlyRateDlg();
    void AddHourRow(const HourRateStats* record);
};

class CAbnormalWaveDlg : public CListPaneDlg {
    Q_OBJECT
public:
    CAbnormalWaveDlg();
    void AddAbnormalRow(uint32_t position);

private:
    void OnItemChanged(const QItemSelection& selected);
};

class CHeartRateTrendDlg : public CDialogEx {
    Q_OBJECT
public:
    CHeartRateTrendDlg();

    // Paints the whole chart for client rectangle rcClient.
    void DrawChart(QPainter& dc, const QRect& rcClient);

    // Plot rectangle and legend boxes of the last paint (right/bottom exclusive, as QRect sizes).
    QRect GetChartRect() const { return m_rcChart; }
    QRect GetLegendBox(int series) const;
    bool IsSeriesShown(int series) const;
    bool IsTracking() const { return m_bTracking; }
    bool IsPointerInChart() const { return m_bPointerInChart; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void MoveViewToX(int x);
    void ComputeLayout(const QRect& rcClient);

    QFont m_fontChart;
    QRect m_rcChart;
    bool m_bPointerInChart = false;
    bool m_bTracking = false;
    bool m_bConfined = false;
    QPoint m_ptPointer;
    QRect m_rcAvgBox, m_rcMinBox, m_rcMaxBox;
    bool m_bShowAvg = true;
    bool m_bShowMin = false;
    bool m_bShowMax = false;
};
