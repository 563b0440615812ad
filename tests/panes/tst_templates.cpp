// The templates pane: families largest first with class and count, drawn at
// the view's calibrated scale; a family relabelled as one request; stepping
// through a family; a split from a selected beat that follows the beats
// through later edits.
#include <QImage>
#include <QSignalSpy>
#include <QtTest>

#include "analysis/EcgDocument.h"
#include "panes/TemplatesDlg.h"
#include "support/DocumentAccess.h"
#include "support/QtSupport.h"

namespace {

constexpr uint32_t kSpacing = 200;
uint32_t Position(size_t beat) { return 100 + kSpacing * uint32_t(beat); }

// A narrow 1 mV spike, and a broad hump after R: the shape of beats 4 and 5.
int16_t Narrow(int d) { return d >= -3 && d <= 3 ? int16_t(ECG_UNITS_PER_MV * (4 - std::abs(d)) / 4) : 0; }
int16_t Broad(int d) { return int16_t(800.0 * std::exp(-(d - 10) * (d - 10) / 120.0)); }

std::vector<int16_t> Shape(int16_t (*f)(int))
{
    std::vector<int16_t> shape;
    for (int i = 0; i < int(BEAT_SHAPE_LENGTH); ++i)
        shape.push_back(f(i - int(BEAT_SHAPE_BEFORE)));
    return shape;
}

// Ten beats: six in family 0 (the two broad ones among them), three V in
// family 1, one added by hand.
std::shared_ptr<AnalysisResults> MakeResults(size_t drop = SIZE_MAX)
{
    auto r = std::make_shared<AnalysisResults>();
    r->completed = true;
    r->families = {{BeatClass::N, 6, Shape(Narrow)}, {BeatClass::V, 3, Shape(Broad)}};
    for (size_t i = 0; i < 10; ++i) {
        if (i == drop)
            continue;
        r->beats.push_back(Position(i));
        r->classes.push_back(i >= 6 && i < 9 ? BeatClass::V : BeatClass::N);
        r->family.push_back(i < 6 ? 0 : i < 9 ? 1 : NO_FAMILY);
    }
    return r;
}

std::vector<int16_t> Signal()
{
    std::vector<int16_t> s(Position(10), 0);
    for (size_t i = 0; i < 10; ++i)
        for (int d = -int(BEAT_SHAPE_BEFORE); d <= int(BEAT_SHAPE_AFTER); ++d)
            s[Position(i) + d] = (i == 4 || i == 5) ? Broad(d) : Narrow(d);
    return s;
}

// Rows of the trace colour in the tile at the top left, below its caption.
int TraceHeight(CTemplatesDlg& pane)
{
    const QImage image = pane.grab().toImage();
    // The button row, then the first tile's 2.5 mV.
    const int rows = std::min(image.height(), int(40 + 2.5 * pane.GetGain() * pane.GetZoom()));
    int top = -1, bottom = -1;
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < 110; ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() > 200 && c.green() > 200 && c.blue() < 80) {
                top = top < 0 ? y : top;
                bottom = y;
            }
        }
    return top < 0 ? 0 : bottom - top;
}

}  // namespace

class TestTemplates : public QObject {
    Q_OBJECT
private slots:
    void init();
    void familiesAtScale();
    void relabelAndStep();
    void splitFollowsTheBeats();

private:
    CEcgDocument m_doc;
    std::vector<int16_t> m_signal = Signal();
    std::unique_ptr<CTemplatesDlg> m_pane;
};

void TestTemplates::init()
{
    DocAccess::SetResults(m_doc, MakeResults());
    m_pane = std::make_unique<CTemplatesDlg>();
    m_pane->resize(400, 600);
    m_pane->SetDocument(&m_doc);
    m_pane->SetSampleReader([this](int16_t* out, uint64_t first, uint32_t count) {
        const uint32_t n = first < m_signal.size() ? std::min<uint32_t>(count, uint32_t(m_signal.size() - first)) : 0;
        std::copy_n(m_signal.begin() + int64_t(first), n, out);
        return n;
    });
    m_pane->Refill();
}

void TestTemplates::familiesAtScale()
{
    const auto& groups = m_pane->GetGroups();
    QCOMPARE(groups.size(), size_t(3));
    QCOMPARE(groups[0].beats.size(), size_t(6));
    QCOMPARE(groups[0].beatClass, BeatClass::N);
    QCOMPARE(groups[1].beats.size(), size_t(3));
    QCOMPARE(groups[1].beatClass, BeatClass::V);
    // The hand-added beat, with its shape read from the lead.
    QCOMPARE(groups[2].beats, std::vector<size_t>{9});
    QCOMPARE(groups[2].shape, Shape(Narrow));

    // 1 mV is 10 mm: the painter's 50 pixels at zoom 1, twice that at zoom 2.
    m_pane->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_pane.get()));
    m_pane->SetScale(50, 1.0f);
    QVERIFY2(std::abs(TraceHeight(*m_pane) - 50) <= 2, qPrintable(QString::number(TraceHeight(*m_pane))));
    m_pane->SetScale(50, 2.0f);
    QVERIFY2(std::abs(TraceHeight(*m_pane) - 100) <= 3, qPrintable(QString::number(TraceHeight(*m_pane))));
    testsupport::SaveForInspection(m_pane.get(), "templates.png");
}

void TestTemplates::relabelAndStep()
{
    QSignalSpy relabel(m_pane.get(), &CTemplatesDlg::relabelRequested);
    QSignalSpy select(m_pane.get(), &CTemplatesDlg::selectRequested);
    m_pane->RelabelCurrent(BeatClass::N);   // no family chosen: nothing asked
    QCOMPARE(relabel.count(), 0);
    m_pane->SetCurrentGroup(1);
    m_pane->RelabelCurrent(BeatClass::N);
    QCOMPARE(relabel.count(), 1);
    QCOMPARE(relabel[0][0].value<std::vector<size_t>>(), (std::vector<size_t>{6, 7, 8}));
    for (int i = 0; i < 4; ++i)
        m_pane->StepCurrent();
    QCOMPARE(select.count(), 4);
    const uint32_t expected[] = {Position(6), Position(7), Position(8), Position(6)};
    for (int i = 0; i < 4; ++i)
        QCOMPARE(select[i][0].toUInt(), expected[i]);
}

void TestTemplates::splitFollowsTheBeats()
{
    QVERIFY(!m_pane->SplitFromSelected());   // nothing selected
    m_pane->SetSelectedBeat(Position(4));
    QVERIFY(m_pane->SplitFromSelected());
    auto groups = m_pane->GetGroups();
    QCOMPARE(groups.size(), size_t(4));
    QCOMPARE(groups[0].beats, (std::vector<size_t>{0, 1, 2, 3}));
    const auto split = std::find_if(groups.begin(), groups.end(), [](const auto& g) { return g.split; });
    QVERIFY(split != groups.end());
    QCOMPARE(split->beats, (std::vector<size_t>{4, 5}));
    QCOMPARE(int(split - groups.begin()), m_pane->GetCurrentGroup());
    QCOMPARE(split->shape, Shape(Broad));
    // All its beats alike: splitting it again changes nothing.
    QVERIFY(!m_pane->SplitFromSelected());

    // A beat before them is deleted: the split keeps its beats by position.
    DocAccess::SetResults(m_doc, MakeResults(1));
    m_pane->Refill();
    groups = m_pane->GetGroups();
    const auto moved = std::find_if(groups.begin(), groups.end(), [](const auto& g) { return g.split; });
    QVERIFY(moved != groups.end());
    QCOMPARE(moved->beats, (std::vector<size_t>{3, 4}));
    QCOMPARE(groups[0].beats, (std::vector<size_t>{0, 1, 2}));

    // Another document starts without the splits.
    CEcgDocument other;
    DocAccess::SetResults(other, MakeResults());
    m_pane->SetDocument(&other);
    m_pane->Refill();
    QVERIFY(std::none_of(m_pane->GetGroups().begin(), m_pane->GetGroups().end(), [](const auto& g) { return g.split; }));
    m_pane->SetDocument(nullptr);
}

QTEST_MAIN(TestTemplates)
#include "tst_templates.moc"
