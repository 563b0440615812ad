#include <QHeaderView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "analysis/EcgDocument.h"
#include "figures/HolterSummary.h"
#include "figures/HolterText.h"
#include "panes/HolterPanes.h"
#include "resources/QtResources.h"

namespace {

constexpr int kSampleRole = Qt::UserRole;

}  // namespace

CHolterSummaryDlg::CHolterSummaryDlg()
{
    resize(400, 480);
    m_pTree = new QTreeWidget(this);
    m_pTree->setObjectName(QStringLiteral("HolterSummary"));
    m_pTree->setColumnCount(3);
    m_pTree->setHeaderLabels({ToQString(Text::kSummaryItem), ToQString(Text::kSummaryValue),
                              ToQString(Text::kSummaryTime)});
    m_pTree->setRootIsDecorated(false);
    m_pTree->setUniformRowHeights(true);
    m_pTree->setSelectionMode(QAbstractItemView::SingleSelection);
    m_pTree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_pTree->header()->setStretchLastSection(false);
    m_pTree->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    m_pTree->header()->setSectionResizeMode(1, QHeaderView::Stretch);
    m_pTree->header()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_pTree);
    connect(m_pTree, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) { OnItemClicked(item); });
    connect(m_pTree, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) { OnItemClicked(item); });
}

QTreeWidgetItem* CHolterSummaryDlg::FindItem(const QString& caption) const
{
    const QList<QTreeWidgetItem*> found = m_pTree->findItems(caption, Qt::MatchExactly | Qt::MatchRecursive, 0);
    return found.isEmpty() ? nullptr : found.first();
}

void CHolterSummaryDlg::OnItemClicked(QTreeWidgetItem* item)
{
    if (!item)
        return;
    const QVariant sample = item->data(0, kSampleRole);
    if (sample.isValid())
        emit centerRequested(sample.value<uint32_t>());
}

void CHolterSummaryDlg::Refresh()
{
    m_pTree->clear();
    const std::shared_ptr<const AnalysisResults> results = m_pDocument ? m_pDocument->GetResults() : nullptr;
    if (!results)
        return;
    for (const HolterFigureGroup& g : HolterSummaryFigures(m_pDocument, *results)) {
        auto* group = new QTreeWidgetItem(m_pTree, {g.title});
        group->setFirstColumnSpanned(true);
        QFont bold = group->font(0);
        bold.setBold(true);
        group->setFont(0, bold);
        group->setFlags(Qt::ItemIsEnabled);
        group->setExpanded(true);
        for (const HolterFigure& f : g.figures) {
            auto* item = new QTreeWidgetItem(group, {f.caption, f.value});
            item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
            item->setToolTip(1, f.value);   // a narrow dock elides the run texts
            if (f.hasTime) {
                item->setText(2, f.time);
                item->setData(0, kSampleRole, QVariant::fromValue(f.sample));
            }
        }
    }
    m_pTree->expandAll();
}
