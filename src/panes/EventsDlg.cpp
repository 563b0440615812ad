#include <QAbstractTableModel>
#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <array>

#include "analysis/EcgDocument.h"
#include "panes/HolterPanes.h"
#include "figures/HolterText.h"
#include "resources/QtResources.h"

// Rows are computed when shown, so that a day's events list at once.
class CEventsModel : public QAbstractTableModel {
public:
    enum Column { kNumber, kType, kStart, kDuration, kBeats, kRate, kColumns };

    void SetResults(std::shared_ptr<const AnalysisResults> results, CTime start, bool elapsed)
    {
        beginResetModel();
        m_results = std::move(results);
        m_start = start;
        m_elapsed = elapsed;
        m_order.clear();
        if (m_results) {
            const std::vector<Episode>& e = m_results->episodes;
            m_order.resize(e.size());
            for (uint32_t i = 0; i < m_order.size(); ++i)
                m_order[i] = i;
            // Stable: equal starts keep the analysis's own order.
            std::stable_sort(m_order.begin(), m_order.end(),
                             [&e](uint32_t a, uint32_t b) { return e[a].first < e[b].first; });
        }
        m_rows = m_order;
        endResetModel();
    }

    // type < 0: every event.
    void SetFilter(int type)
    {
        beginResetModel();
        m_rows.clear();
        if (type < 0) {
            m_rows = m_order;
        } else {
            for (uint32_t i : m_order)
                if (int(m_results->episodes[i].type) == type)
                    m_rows.push_back(i);
        }
        endResetModel();
    }

    const Episode* EpisodeAt(int row) const
    {
        if (row < 0 || row >= int(m_rows.size()))
            return nullptr;
        return &m_results->episodes[m_rows[size_t(row)]];
    }
    const AnalysisResults* Results() const { return m_results.get(); }

    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : int(m_rows.size()); }
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : kColumns; }

    QVariant data(const QModelIndex& index, int role) const override
    {
        const Episode* e = EpisodeAt(index.row());
        if (!e)
            return {};
        if (role == Qt::TextAlignmentRole)
            return int(index.column() == kType ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignRight | Qt::AlignVCenter);
        if (role != Qt::DisplayRole)
            return {};
        switch (index.column()) {
        case kNumber: return FormatCount(uint64_t(index.row()) + 1);
        case kType: return EpisodeTypeName(e->type);
        case kStart: return FormatClock(m_start, m_elapsed, e->first);
        case kDuration: return FormatDuration(e->last >= e->first ? e->last - e->first : 0);
        case kBeats: return FormatCount(e->beats);
        case kRate: return FormatBpm(e->rate);
        default: return {};
        }
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
            return {};
        static const char* const kHeadings[kColumns] = {Text::kColumnNumber,   Text::kColumnType,
                                                        Text::kColumnStart,    Text::kColumnDuration,
                                                        Text::kColumnBeats,    Text::kColumnRate};
        return section >= 0 && section < kColumns ? ToQString(kHeadings[section]) : QVariant();
    }

private:
    std::shared_ptr<const AnalysisResults> m_results;
    CTime m_start;
    bool m_elapsed = false;
    std::vector<uint32_t> m_order;  // episode indices by start
    std::vector<uint32_t> m_rows;   // those the filter passes
};

CEventsDlg::CEventsDlg()
{
    resize(480, 320);
    m_pFilter = new QComboBox(this);
    m_pFilter->setObjectName(QStringLiteral("EventsFilter"));
    m_pFilter->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_pModel = new CEventsModel;
    m_pModel->setParent(this);
    m_pTable = new QTableView(this);
    m_pTable->setObjectName(QStringLiteral("EventsTable"));
    m_pTable->setModel(m_pModel);
    m_pTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pTable->setSelectionMode(QAbstractItemView::SingleSelection);
    m_pTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_pTable->setWordWrap(false);
    m_pTable->setTabKeyNavigation(false);
    m_pTable->verticalHeader()->hide();
    // Fixed rows: the view never measures 100 000 of them.
    m_pTable->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_pTable->verticalHeader()->setDefaultSectionSize(m_pTable->fontMetrics().height() + 4);
    m_pTable->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_pTable->horizontalHeader()->setStretchLastSection(true);
    static const int kWidths[] = {50, 110, 70, 70, 55, 70};
    for (int c = 0; c < int(std::size(kWidths)); ++c)
        m_pTable->setColumnWidth(c, kWidths[c]);
    m_pTable->viewport()->installEventFilter(this);

    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(4, 4, 4, 0);
    bar->addWidget(new QLabel(ToQString(Text::kEventsFilter), this));
    bar->addWidget(m_pFilter);
    bar->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addLayout(bar);
    layout->addWidget(m_pTable, 1);

    connect(m_pFilter, &QComboBox::currentIndexChanged, this, [this] { ApplyFilter(); });
    connect(m_pTable->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (const Episode* e = m_pModel->EpisodeAt(current.row()))
                    emit centerRequested(e->first);
            });
    // A click on the row already current centres it again (the view may have moved since).
    connect(m_pTable, &QTableView::clicked, this, [this](const QModelIndex& index) {
        if (index.row() == m_nRowAtPress)
            if (const Episode* e = m_pModel->EpisodeAt(index.row()))
                emit centerRequested(e->first);
    });
    Refresh();
}

bool CEventsDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_pTable->viewport() && event->type() == QEvent::MouseButtonPress)
        m_nRowAtPress = m_pTable->currentIndex().row();
    return CDialogEx::eventFilter(watched, event);
}

void CEventsDlg::Refresh()
{
    std::shared_ptr<const AnalysisResults> results = m_pDocument ? m_pDocument->GetResults() : nullptr;
    const CTime start = m_pDocument ? m_pDocument->GetStartTime() : CTime();
    const QVariant previous = m_pFilter->currentData();

    std::array<bool, EPISODE_TYPE_COUNT> present{};
    if (results)
        for (const Episode& e : results->episodes)
            if (size_t(e.type) < present.size())
                present[size_t(e.type)] = true;

    {
        const QSignalBlocker block(m_pFilter);
        m_pFilter->clear();
        m_pFilter->addItem(ToQString(Text::kEventsAll), -1);
        for (int t = 0; t < EPISODE_TYPE_COUNT; ++t)
            if (present[size_t(t)])
                m_pFilter->addItem(EpisodeTypeName(static_cast<EpisodeType>(t)), t);
        // Keep the reviewer's choice while the new results still have the type.
        const int keep = previous.isValid() ? m_pFilter->findData(previous) : -1;
        m_pFilter->setCurrentIndex(keep >= 0 ? keep : 0);
    }
    m_pModel->SetResults(std::move(results), start, ShowsElapsedClock(m_pDocument));
    ApplyFilter();
}

void CEventsDlg::ApplyFilter()
{
    if (!m_pModel->Results())
        return;
    const QVariant type = m_pFilter->currentData();
    m_pModel->SetFilter(type.isValid() ? type.toInt() : -1);
    m_nRowAtPress = -1;
}

int CEventsDlg::GetRowCount() const
{
    return m_pModel->rowCount();
}

const Episode* CEventsDlg::GetRowEpisode(int row) const
{
    return m_pModel->EpisodeAt(row);
}

void CEventsDlg::SelectRow(int row)
{
    if (row < 0 || row >= m_pModel->rowCount())
        return;
    const QModelIndex index = m_pModel->index(row, 0);
    if (row == m_pTable->currentIndex().row()) {
        if (const Episode* e = m_pModel->EpisodeAt(row))
            emit centerRequested(e->first);
        return;
    }
    m_pTable->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    m_pTable->scrollTo(index);
}

void CEventsDlg::NextEvent()
{
    const int row = m_pTable->currentIndex().row();
    SelectRow(row < 0 ? 0 : row + 1);
}

void CEventsDlg::PreviousEvent()
{
    const int row = m_pTable->currentIndex().row();
    SelectRow(row < 0 ? m_pModel->rowCount() - 1 : row - 1);
}
