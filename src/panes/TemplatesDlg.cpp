#include "panes/TemplatesDlg.h"

#include <QHBoxLayout>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <map>

#include "analysis/AnalysisResults.h"
#include "analysis/EcgDocument.h"
#include "recording/EcgFile.h"
#include "resources/QtResources.h"

namespace {

constexpr int kCaptionHeight = 18;

// Pearson correlation of two shapes of the same length.
double Correlation(const std::vector<double>& a, const std::vector<double>& b)
{
    const size_t n = std::min(a.size(), b.size());
    if (n == 0)
        return 0;
    double ma = 0, mb = 0;
    for (size_t i = 0; i < n; ++i) {
        ma += a[i];
        mb += b[i];
    }
    ma /= double(n);
    mb /= double(n);
    double sab = 0, saa = 0, sbb = 0;
    for (size_t i = 0; i < n; ++i) {
        sab += (a[i] - ma) * (b[i] - mb);
        saa += (a[i] - ma) * (a[i] - ma);
        sbb += (b[i] - mb) * (b[i] - mb);
    }
    return saa > 0 && sbb > 0 ? sab / std::sqrt(saa * sbb) : 0;
}

BeatClass CommonClass(const std::vector<size_t>& beats, const std::vector<BeatClass>& classes)
{
    int counts[8] = {};
    for (size_t i : beats)
        if (i < classes.size())
            ++counts[static_cast<size_t>(classes[i]) & 7];
    return static_cast<BeatClass>(std::max_element(std::begin(counts), std::end(counts)) - std::begin(counts));
}

}  // namespace

// The tiles, one per group, in rows as wide as the pane.
class CTemplateCanvas : public QWidget {
public:
    explicit CTemplateCanvas(CTemplatesDlg* owner) : m_pOwner(owner) {}

    // A tile holds 2.5 mV and twice a beat's width at the scale shown.
    int TileWidth() const { return std::max(120, int(BEAT_SHAPE_LENGTH * m_pOwner->GetZoom()) + 20); }
    int TileHeight() const { return kCaptionHeight + int(2.5 * m_pOwner->GetGain() * m_pOwner->GetZoom()) + 4; }
    int Columns() const { return std::max(1, width() / TileWidth()); }
    void Relayout()
    {
        const int rows = (int(m_pOwner->GetGroups().size()) + Columns() - 1) / Columns();
        setMinimumHeight(std::max(rows, 1) * TileHeight());
        update();
    }

protected:
    void resizeEvent(QResizeEvent*) override { Relayout(); }
    void mousePressEvent(QMouseEvent* event) override
    {
        const QPoint p = event->position().toPoint();
        const int group = p.y() / TileHeight() * Columns() + p.x() / TileWidth();
        if (p.x() < Columns() * TileWidth() && group < int(m_pOwner->GetGroups().size()))
            m_pOwner->SetCurrentGroup(group);
    }
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), QColor(0, 50, 50));
        const auto& groups = m_pOwner->GetGroups();
        const double x1 = 0.5 * m_pOwner->GetZoom();                    // pixels per sample
        const double y1 = m_pOwner->GetGain() * m_pOwner->GetZoom() / ECG_UNITS_PER_MV;   // pixels per unit
        for (size_t g = 0; g < groups.size(); ++g) {
            const CTemplatesDlg::Group& group = groups[g];
            const QRect tile(int(g % size_t(Columns())) * TileWidth(), int(g / size_t(Columns())) * TileHeight(),
                             TileWidth() - 4, TileHeight() - 4);
            const QColor colour(QRgb(0xFF000000u | GetBeatClassInfo(group.beatClass).rgb));
            painter.setPen(int(g) == m_pOwner->GetCurrentGroup() ? QPen(Qt::white, 2) : QPen(QColor(0, 90, 90)));
            painter.drawRect(tile);
            const QString caption = ToQString(group.split ? Text::kTemplateSplitCaption : Text::kTemplateCaption)
                                        .arg(QChar(GetBeatClassInfo(group.beatClass).letter))
                                        .arg(group.beats.size());
            painter.setPen(colour);
            painter.drawText(tile.adjusted(4, 2, -2, 0), Qt::AlignLeft | Qt::AlignTop, caption);
            if (group.shape.empty())
                continue;
            // R at the tile's middle, the baseline two thirds down.
            const double left = tile.center().x() - BEAT_SHAPE_BEFORE * x1;
            const double base = tile.top() + kCaptionHeight + (tile.height() - kCaptionHeight) * 2 / 3.0;
            QPolygonF line;
            for (size_t i = 0; i < group.shape.size(); ++i)
                line << QPointF(left + double(i) * x1, base - group.shape[i] * y1);
            painter.save();
            painter.setClipRect(tile.adjusted(1, kCaptionHeight, -1, -1));
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setPen(QPen(QColor(240, 240, 0), 1.5));
            painter.drawPolyline(line);
            painter.restore();
        }
    }

private:
    CTemplatesDlg* m_pOwner;
};

CTemplatesDlg::CTemplatesDlg()
{
    setObjectName(QStringLiteral("CTemplatesDlg"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    auto* buttons = new QHBoxLayout;
    m_pRelabel = new QToolButton(this);
    m_pRelabel->setText(ToQString(Text::kTemplateRelabel));
    m_pRelabel->setPopupMode(QToolButton::InstantPopup);
    auto* menu = new QMenu(m_pRelabel);
    for (char letter : {'N', 'S', 'V', 'F', 'Q'}) {
        const BeatClass cls = BeatClassFromLetter(letter);
        menu->addAction(QString(QChar(letter)), this, [this, cls] { RelabelCurrent(cls); });
    }
    m_pRelabel->setMenu(menu);
    m_pStep = new QPushButton(ToQString(Text::kTemplateNext), this);
    m_pSplit = new QPushButton(ToQString(Text::kTemplateSplit), this);
    connect(m_pStep, &QPushButton::clicked, this, &CTemplatesDlg::StepCurrent);
    connect(m_pSplit, &QPushButton::clicked, this, &CTemplatesDlg::SplitFromSelected);
    buttons->addWidget(m_pRelabel);
    buttons->addWidget(m_pStep);
    buttons->addWidget(m_pSplit);
    buttons->addStretch();
    layout->addLayout(buttons);
    auto* scroll = new QScrollArea(this);
    m_pCanvas = new CTemplateCanvas(this);
    scroll->setWidget(m_pCanvas);
    scroll->setWidgetResizable(true);
    layout->addWidget(scroll);
    UpdateButtons();
}

void CTemplatesDlg::SetScale(int gain, float zoom)
{
    m_nGain = gain;
    m_fZoom = zoom;
    m_pCanvas->Relayout();
}

void CTemplatesDlg::Clear()
{
    m_groups.clear();
    m_splits.clear();
    m_nCurrent = -1;
    m_nSelected = -1;
    m_pCanvas->Relayout();
    UpdateButtons();
}

void CTemplatesDlg::Refill()
{
    const auto results = m_pDocument ? m_pDocument->GetResults() : nullptr;
    m_groups.clear();
    if (m_pDocument != m_pSplitDocument) {
        m_splits.clear();
        m_nCurrent = -1;
        m_pSplitDocument = m_pDocument;
    }
    if (!results || results->families.empty()) {
        m_pCanvas->Relayout();
        UpdateButtons();
        return;
    }
    const auto& beats = results->beats;
    // The beats of the splits first: they leave their families.
    std::vector<int> splitOf(beats.size(), -1);
    std::vector<Group> splits;
    for (const auto& positions : m_splits) {
        Group group;
        group.split = true;
        for (uint32_t pos : positions) {
            auto it = std::lower_bound(beats.begin(), beats.end(), pos);
            if (it != beats.end() && *it == pos) {
                group.beats.push_back(size_t(it - beats.begin()));
                splitOf[group.beats.back()] = int(splits.size());
            }
        }
        splits.push_back(std::move(group));
    }
    std::vector<Group> families(results->families.size());
    for (size_t f = 0; f < families.size(); ++f)
        families[f].shape = results->families[f].shape;
    // Beats of no family (added by hand) are shown as one group of their own.
    Group unassigned;
    for (size_t i = 0; i < beats.size(); ++i) {
        if (splitOf[i] >= 0)
            continue;
        if (i < results->family.size() && results->family[i] < families.size())
            families[results->family[i]].beats.push_back(i);
        else
            unassigned.beats.push_back(i);
    }
    if (!unassigned.beats.empty())
        splits.push_back(std::move(unassigned));
    for (Group& group : splits)
        if (!group.beats.empty()) {
            // Its own average, read from the lead.
            std::vector<double> sum(BEAT_SHAPE_LENGTH, 0.0), shape;
            size_t n = 0;
            for (size_t i : group.beats)
                if (ReadShape(beats[i], &shape)) {
                    for (size_t k = 0; k < sum.size(); ++k)
                        sum[k] += shape[k];
                    ++n;
                }
            if (n)
                for (double v : sum)
                    group.shape.push_back(static_cast<int16_t>(std::lround(v / double(n))));
            families.push_back(std::move(group));
        }
    for (Group& group : families) {
        if (group.beats.empty())
            continue;
        group.beatClass = CommonClass(group.beats, results->classes);
        m_groups.push_back(std::move(group));
    }
    std::stable_sort(m_groups.begin(), m_groups.end(),
                     [](const Group& a, const Group& b) { return a.beats.size() > b.beats.size(); });
    if (m_nCurrent >= int(m_groups.size()))
        m_nCurrent = m_groups.empty() ? -1 : 0;
    m_pCanvas->Relayout();
    UpdateButtons();
}

void CTemplatesDlg::SetCurrentGroup(int group)
{
    if (group < -1 || group >= int(m_groups.size()))
        return;
    if (group != m_nCurrent)
        m_nStep = 0;
    m_nCurrent = group;
    m_pCanvas->update();
    UpdateButtons();
}

void CTemplatesDlg::UpdateButtons()
{
    const bool current = m_nCurrent >= 0;
    m_pRelabel->setEnabled(current);
    m_pStep->setEnabled(current);
    m_pSplit->setEnabled(m_nSelected >= 0 && !m_groups.empty());
}

void CTemplatesDlg::RelabelCurrent(BeatClass to)
{
    if (m_nCurrent >= 0)
        emit relabelRequested(m_groups[size_t(m_nCurrent)].beats, to);
}

void CTemplatesDlg::StepCurrent()
{
    const auto results = m_pDocument ? m_pDocument->GetResults() : nullptr;
    if (m_nCurrent < 0 || !results)
        return;
    const std::vector<size_t>& beats = m_groups[size_t(m_nCurrent)].beats;
    if (beats.empty())
        return;
    const size_t i = beats[m_nStep % beats.size()];
    m_nStep = (m_nStep + 1) % beats.size();
    if (i < results->beats.size())
        emit selectRequested(results->beats[i]);
}

bool CTemplatesDlg::ReadShape(uint32_t position, std::vector<double>* shape) const
{
    if (!m_reader || position < BEAT_SHAPE_BEFORE)
        return false;
    std::vector<int16_t> raw(BEAT_SHAPE_LENGTH);
    if (m_reader(raw.data(), position - BEAT_SHAPE_BEFORE, BEAT_SHAPE_LENGTH) != BEAT_SHAPE_LENGTH)
        return false;
    // Baseline 0 at the window's start, as the families' averages have it.
    shape->assign(raw.begin(), raw.end());
    const double base = (*shape)[0];
    for (double& v : *shape)
        v -= base;
    return true;
}

bool CTemplatesDlg::SplitFromSelected()
{
    const auto results = m_pDocument ? m_pDocument->GetResults() : nullptr;
    if (!results || m_nSelected < 0)
        return false;
    const auto& beats = results->beats;
    auto it = std::lower_bound(beats.begin(), beats.end(), uint32_t(m_nSelected));
    if (it == beats.end() || *it != m_nSelected)
        return false;
    const size_t selected = size_t(it - beats.begin());
    auto owner = std::find_if(m_groups.begin(), m_groups.end(), [selected](const Group& g) {
        return std::find(g.beats.begin(), g.beats.end(), selected) != g.beats.end();
    });
    std::vector<double> pick;
    if (owner == m_groups.end() || owner->beats.size() < 2 || !ReadShape(beats[selected], &pick))
        return false;
    const std::vector<double> average(owner->shape.begin(), owner->shape.end());
    std::vector<uint32_t> positions;
    std::vector<double> shape;
    for (size_t i : owner->beats)
        if (i == selected ||
            (ReadShape(beats[i], &shape) && Correlation(shape, pick) >= Correlation(shape, average)))
            positions.push_back(beats[i]);
    // Splitting off the whole group would change nothing.
    if (positions.size() == owner->beats.size())
        return false;
    // A beat taken from an earlier split leaves it.
    for (auto& split : m_splits)
        split.erase(std::remove_if(split.begin(), split.end(),
                                   [&](uint32_t p) { return std::binary_search(positions.begin(), positions.end(), p); }),
                    split.end());
    m_splits.push_back(positions);
    Refill();
    for (size_t g = 0; g < m_groups.size(); ++g)
        if (m_groups[g].split && std::find(m_groups[g].beats.begin(), m_groups[g].beats.end(), selected) != m_groups[g].beats.end())
            SetCurrentGroup(int(g));
    return true;
}
