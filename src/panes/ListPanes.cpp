#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMenu>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>

#include "analysis/EcgDocument.h"
#include "analysis/ElapsedTime.h"
#include "panes/Panes.h"
#include "resources/QtResources.h"

namespace {

// Digits after optional leading white space, up to the first non-digit;
// saturates instead of wrapping.
uint32_t ParseUnsigned(const QString& text)
{
    int i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    uint64_t value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + static_cast<uint64_t>(text[i].unicode() - u'0');
        if (value > UINT32_MAX)
            return UINT32_MAX;
    }
    return static_cast<uint32_t>(value);
}

}  // namespace

CListPaneDlg::CListPaneDlg(const Column* columns, int count, int minRowHeight, QSize templateSize)
{
    resize(templateSize);
    m_pList = new QTableWidget(0, count, this);
    m_pList->setObjectName(QStringLiteral("IDC_1001"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_pList);

    QStringList headings;
    for (int i = 0; i < count; ++i)
        headings << ToQString(columns[i].heading);
    m_pList->setHorizontalHeaderLabels(headings);
    QHeaderView* header = m_pList->horizontalHeader();
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setStretchLastSection(false);
    header->setSectionsClickable(false);
    header->setHighlightSections(false);
    header->setSortIndicatorShown(false);
    header->setMinimumSectionSize(0);
    header->setSectionResizeMode(QHeaderView::Interactive);
    for (int i = 0; i < count; ++i)
        m_pList->setColumnWidth(i, columns[i].width);
    // A column of width 0 has no grip to drag it open: the header's menu
    // shows and hides columns instead.
    header->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(header, &QHeaderView::customContextMenuRequested, this, [this](const QPoint& pos) {
        QHeaderView* h = m_pList->horizontalHeader();
        QMenu menu(h);
        menu.setObjectName(QStringLiteral("ColumnMenu"));
        for (int i = 0; i < m_pList->columnCount(); ++i) {
            QAction* action = menu.addAction(m_pList->horizontalHeaderItem(i)->text());
            action->setCheckable(true);
            action->setChecked(m_pList->columnWidth(i) > 0);
            connect(action, &QAction::toggled, this, [this, i](bool shown) {
                const int open = std::max(m_pList->horizontalHeader()->sectionSizeHint(i), 50);
                m_pList->setColumnWidth(i, shown ? open : 0);
            });
        }
        menu.exec(h->mapToGlobal(pos));
    });

    m_pList->verticalHeader()->hide();
    m_pList->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_pList->verticalHeader()->setMinimumSectionSize(minRowHeight);
    m_pList->verticalHeader()->setDefaultSectionSize(std::max(minRowHeight, m_pList->fontMetrics().height() + 2));

    m_pList->setSortingEnabled(false);
    m_pList->setShowGrid(true);
    m_pList->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pList->setSelectionMode(QAbstractItemView::SingleSelection);
    m_pList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_pList->setWordWrap(false);
    m_pList->setTabKeyNavigation(false);
    m_pList->setFocusPolicy(Qt::StrongFocus);
}

void CListPaneDlg::DeleteAllItems()
{
    m_pList->clearSelection();
    m_pList->setRowCount(0);
}

void CListPaneDlg::AppendRow(const QString* texts, int count)
{
    const int row = m_pList->rowCount();
    m_pList->insertRow(row);
    for (int i = 0; i < count; ++i) {
        auto* item = new QTableWidgetItem(texts[i]);
        item->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        m_pList->setItem(row, i, item);
    }
}

// ---- rhythm statistics list (313 x 192 dialog units) ----

static const CListPaneDlg::Column kHourColumns[] = {
    {Text::kColumnTime, 110},   {Text::kColumnSlowest, 50}, {Text::kColumnAverage, 50},
    {Text::kColumnFastest, 50}, {Text::kColumnIndex, 0},
};

CHourlyRateDlg::CHourlyRateDlg() : CListPaneDlg(kHourColumns, 5, 16, QSize(470, 312)) {}

void CHourlyRateDlg::AddHourRow(const HourRateStats* record)
{
    if (!record)
        return;
    int startHour = record->nStartHour, startMinute = record->nStartMinute;
    int endHour = record->nEndHour, endMinute = record->nEndMinute;
    if (ShowsElapsedTime(m_pDocument)) {
        // The records keep clock fields of a start that is not known: counted
        // again from the clock time the document starts at.
        const LocalFields start = m_pDocument->GetStartTime().GetLocalFields();
        const int origin = start.hour * 60 + start.minute;
        const auto since = [origin](int hour, int minute) { return ((hour * 60 + minute - origin) % 1440 + 1440) % 1440; };
        const int from = since(startHour, startMinute), to = since(endHour, endMinute);
        startHour = from / 60, startMinute = from % 60, endHour = to / 60, endMinute = to % 60;
    }
    const QString texts[5] = {
        FormatText("%02d:%02d-%02d:%02d", startHour, startMinute, endHour, endMinute),
        FormatText("%.0f", static_cast<double>(record->fMinRate)),
        FormatText("%.0f", static_cast<double>(record->fAvgRate)),
        FormatText("%.0f", static_cast<double>(record->fMaxRate)),
        // 64-bit so that a nonsensical hour cannot overflow the product.
        FormatText("%lld", static_cast<long long>(record->nStartHour) * 900000),
    };
    AppendRow(texts, 5);
}

// ---- abnormal waveform list (321 x 178 dialog units) ----

static const CListPaneDlg::Column kAbnormalColumns[] = {
    {Text::kColumnNumber, 50}, {Text::kColumnOccurred, 140}, {Text::kColumnIndex, 70},
};

CAbnormalWaveDlg::CAbnormalWaveDlg() : CListPaneDlg(kAbnormalColumns, 3, 18, QSize(482, 289))
{
    connect(m_pList->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection& selected, const QItemSelection&) { OnItemChanged(selected); });
}

void CAbnormalWaveDlg::AddAbnormalRow(uint32_t position)
{
    const int n = m_pList->rowCount();
    const int32_t seconds = static_cast<int32_t>(position / ECG_SAMPLE_RATE);
    // Without a document the times count from an unknown start (0).
    CTime time(seconds);
    if (m_pDocument)
        m_pDocument->GetTimeAt(&time, seconds, false);
    const LocalFields f = time.GetLocalFields();
    const QString texts[3] = {
        FormatText("%d", n + 1),
        ShowsElapsedTime(m_pDocument)
            ? QString::fromStdString(ElapsedText(seconds))
            : FormatText("%04d-%02d-%02d %02d:%02d:%02d", f.year, f.month, f.day, f.hour, f.minute, f.second),
        // Unsigned: a position past 2^31 must read back as itself.
        FormatText("%lu", static_cast<unsigned long>(position)),
    };
    AppendRow(texts, 3);
}

void CAbnormalWaveDlg::OnItemChanged(const QItemSelection& selected)
{
    if (selected.isEmpty())
        return;
    const int row = selected.indexes().first().row();
    const QTableWidgetItem* item = m_pList->item(row, 2);
    if (!item)
        return;
    emit centerRequested(ParseUnsigned(item->text()));
}
