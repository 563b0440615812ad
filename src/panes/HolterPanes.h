// The Holter summary and the event list: figures of the latest analysis run
// of the document the frame hands them. Refresh() reads the document again
// (call it when the run has ended or the active document changes).
#pragma once

#include <QString>
#include <memory>
#include <vector>

#include "analysis/Episodes.h"
#include "panes/Panes.h"

struct AnalysisResults;
class QComboBox;
class QTableView;
class QTreeWidget;
class QTreeWidgetItem;
class CEventsModel;

class CHolterSummaryDlg : public CDialogEx {
    Q_OBJECT
public:
    CHolterSummaryDlg();
    // Fills the pane from the document's results; empty without them.
    void Refresh();
    QTreeWidget* GetTree() const { return m_pTree; }
    // The row whose first column reads caption (the first such), or null.
    QTreeWidgetItem* FindItem(const QString& caption) const;

private:
    void OnItemClicked(QTreeWidgetItem* item);

    QTreeWidget* m_pTree = nullptr;
};

class CEventsDlg : public CDialogEx {
    Q_OBJECT
public:
    CEventsDlg();
    void Refresh();
    QTableView* GetTable() const { return m_pTable; }
    QComboBox* GetFilter() const { return m_pFilter; }
    // The events listed under the current filter, and the episode of a row.
    int GetRowCount() const;
    const Episode* GetRowEpisode(int row) const;

public slots:
    // The next / previous event of the selected type after the current row.
    void NextEvent();
    void PreviousEvent();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ApplyFilter();
    void SelectRow(int row);

    QComboBox* m_pFilter = nullptr;
    QTableView* m_pTable = nullptr;
    CEventsModel* m_pModel = nullptr;
    int m_nRowAtPress = -1;
};
