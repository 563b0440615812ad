#include <QHeaderView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "analysis/EcgDocument.h"
#include "panes/HolterPanes.h"
#include "panes/HolterText.h"
#include "resources/QtResources.h"

namespace {

constexpr int kSampleRole = Qt::UserRole;

const Episode* FirstOfType(const AnalysisResults& r, EpisodeType type)
{
    for (const Episode& e : r.episodes)
        if (e.type == type)
            return &e;
    return nullptr;
}

QString RunText(const Episode& run)
{
    return ToQString(Text::kRunValue).arg(EpisodeTypeName(run.type), FormatCount(run.beats), FormatBpm(run.rate));
}

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
    const AnalysisResults& r = *results;
    const CEcgDocument* doc = m_pDocument;

    QTreeWidgetItem* group = nullptr;
    const auto addGroup = [&](const char* title) {
        group = new QTreeWidgetItem(m_pTree, {ToQString(title)});
        group->setFirstColumnSpanned(true);
        QFont bold = group->font(0);
        bold.setBold(true);
        group->setFont(0, bold);
        group->setFlags(Qt::ItemIsEnabled);
        group->setExpanded(true);
    };
    const auto add = [&](const QString& caption, const QString& value, const uint64_t* at = nullptr) {
        auto* item = new QTreeWidgetItem(group, {caption, value});
        item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        item->setToolTip(1, value);   // a narrow dock elides the run texts
        if (at) {
            item->setText(2, FormatClockAt(doc, *at));
            item->setData(0, kSampleRole, QVariant::fromValue(static_cast<uint32_t>(*at)));
        }
    };
    const auto addEpisode = [&](const QString& caption, const QString& value, const Episode* e) {
        const uint64_t at = e ? e->first : 0;
        add(caption, value, e ? &at : nullptr);
    };

    addGroup(Text::kSummaryGroupRate);
    add(ToQString(Text::kBeatsAnalysed), FormatCount(r.beats.size()));
    double mean = 0;
    if (r.beats.size() >= 2)
        mean = 60.0 * ECG_SAMPLE_RATE * double(r.beats.size() - 1) / double(r.beats.back() - r.beats.front());
    add(ToQString(Text::kMeanRate), FormatBpm(mean));
    if (!r.hours.empty()) {
        // The hour picked is the one the document's own positions come from: the first extreme.
        float slowest = 0, fastest = 0;
        for (const HourRateStats& h : r.hours) {
            if (slowest == 0 || h.fMinRate < slowest)
                slowest = h.fMinRate;
            if (fastest == 0 || h.fMaxRate > fastest)
                fastest = h.fMaxRate;
        }
        add(ToQString(Text::kMinRate), FormatBpm(slowest), &r.minRatePosition);
        add(ToQString(Text::kMaxRate), FormatBpm(fastest), &r.maxRatePosition);
    } else {
        add(ToQString(Text::kMinRate), ToQString(Text::kNoValue));
        add(ToQString(Text::kMaxRate), ToQString(Text::kNoValue));
    }

    const auto addTypes = [&](const char* title, const char* total, uint32_t beats, EpisodeType from, EpisodeType to) {
        addGroup(title);
        add(ToQString(total), FormatCount(beats));
        for (int t = int(from); t <= int(to); ++t) {
            const auto type = static_cast<EpisodeType>(t);
            addEpisode(EpisodeTypeName(type), FormatCount(r.ectopy.count[size_t(t)]), FirstOfType(r, type));
        }
    };
    addTypes(Text::kSummaryGroupV, Text::kVBeats, r.ectopy.vBeats, EpisodeType::IsolatedV, EpisodeType::Trigeminy);
    addTypes(Text::kSummaryGroupS, Text::kSBeats, r.ectopy.sBeats, EpisodeType::IsolatedS, EpisodeType::SVT);

    addGroup(Text::kSummaryGroupRuns);
    const auto addRun = [&](const char* caption, const Episode& run) {
        if (run.beats == 0)
            add(ToQString(caption), ToQString(Text::kNoValue));
        else
            addEpisode(ToQString(caption), RunText(run), &run);
    };
    addRun(Text::kLongestRun, r.ectopy.longestRun);
    addRun(Text::kFastestRun, r.ectopy.fastestRun);

    addGroup(Text::kSummaryGroupPauses);
    add(ToQString(Text::kPauseCount), FormatCount(r.ectopy.pauses));
    const Episode& pause = r.ectopy.longestPause;
    addEpisode(ToQString(Text::kLongestPause),
               pause.beats ? FormatDuration(pause.last - pause.first) : ToQString(Text::kNoValue),
               pause.beats ? &pause : nullptr);

    addGroup(Text::kSummaryGroupAf);
    add(ToQString(Text::kAfBurden), FormatPercent(true, r.af.burdenPercent));
    add(ToQString(Text::kAfEpisodes), FormatCount(r.af.episodes));
    const Episode& af = r.af.longest;
    addEpisode(ToQString(Text::kAfLongest), af.beats ? FormatDuration(af.last - af.first) : ToQString(Text::kNoValue),
               af.beats ? &af : nullptr);

    addGroup(Text::kSummaryGroupHrv);
    const HrvMeasures& h = r.hrv;
    const bool hrv = r.hasHrv;
    add(ToQString(Text::kHrvMeanNN), FormatMs(hrv && h.HasMean(), h.meanNN));
    add(ToQString(Text::kHrvSdnn), FormatMs(hrv && h.HasSdnn(), h.sdnn));
    add(ToQString(Text::kHrvSdann), FormatMs(hrv && h.HasSdann(), h.sdann));
    add(ToQString(Text::kHrvSdnnIndex), FormatMs(hrv && h.HasSdnnIndex(), h.sdnnIndex));
    add(ToQString(Text::kHrvRmssd), FormatMs(hrv && h.HasSuccessive(), h.rmssd));
    add(ToQString(Text::kHrvPnn50), FormatPercent(hrv && h.HasSuccessive(), h.pnn50));
    add(ToQString(Text::kHrvTriangular), FormatRatio(hrv && h.HasMean(), h.triangularIndex));
    m_pTree->expandAll();
}
