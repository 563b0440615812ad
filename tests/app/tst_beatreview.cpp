// The beat review in the window: selecting and correcting beats with the
// mouse and keys, undo and redo, the panes and title following, saving,
// reopening, a review of another recording, a folder that cannot be written,
// and the questions asked before unsaved corrections are closed away.
#include <QDir>
#include <QDockWidget>
#include <QFile>
#include <QMenu>
#include <QMessageBox>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include "analysis/AnalysisResults.h"
#include "app/ChildFrame.h"
#include "app/VitrelDoc.h"
#include "display/VitrelView.h"
#include "formats/ReviewFile.h"
#include "panes/HolterPanes.h"
#include "panes/TemplatesDlg.h"
#include "resources/Resource.h"
#include "support/QtSupport.h"
#include "support/TestFrame.h"

using namespace testsupport;

namespace {

constexpr uint32_t kPeriod = 190;

// The frame with the review's questions answered by the test.
class CReviewFrame : public CTestFrame {
public:
    int m_answer = QMessageBox::Cancel;
    int m_asked = 0;
    QString m_saveAs;
    QStringList m_saveErrors;

protected:
    int AskSaveReview(const CVitrelDoc*) override
    {
        ++m_asked;
        return m_answer;
    }
    QString PromptForReviewSaveAs(const CVitrelDoc*, const QString& message) override
    {
        m_saveErrors << message;
        return std::exchange(m_saveAs, QString());
    }
};

std::vector<uint32_t> Beats(const CVitrelDoc* doc)
{
    return doc->GetResults() ? doc->GetResults()->beats : std::vector<uint32_t>{};
}

// Client x of the mark of the beat at r, as the painter draws it.
int MarkX(const CVitrelView* view, uint32_t r)
{
    const DisplaySettings& s = view->GetDisplaySettings();
    return static_cast<int>(static_cast<double>((static_cast<int64_t>(r) - s.LeftEdge()) / 2) * s.m_fZoom);
}

void Click(CVitrelView* view, int x, Qt::MouseButton button = Qt::LeftButton)
{
    QTest::mouseClick(view, button, Qt::NoModifier, QPoint(x, view->height() / 2));
}

QStringList TreeTexts(const QTreeWidget* tree)
{
    QStringList texts;
    for (QTreeWidgetItemIterator it(const_cast<QTreeWidget*>(tree)); *it; ++it)
        for (int c = 0; c < tree->columnCount(); ++c)
            texts << (*it)->text(c);
    return texts;
}

}  // namespace

class TestBeatReview : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void editInView();
    void panesOutOfSightFollow();
    void saveReopenAndAsk();
    void reviewOfAnotherRecording();
    void unwritableFolder();

private:
    QString Recording(const QString& name, uint32_t seconds, uint32_t period = kPeriod);
    CVitrelDoc* OpenReady(CReviewFrame& frame, const QString& path);

    QTemporaryDir m_dir;
    QTemporaryDir m_settings;
};

void TestBeatReview::initTestCase()
{
    QVERIFY(m_dir.isValid());
    IsolateSettings(m_settings.path());
}

QString TestBeatReview::Recording(const QString& name, uint32_t seconds, uint32_t period)
{
    return WriteSamples(m_dir.path(), name, SpikeTrain(seconds * 250, period));
}

CVitrelDoc* TestBeatReview::OpenReady(CReviewFrame& frame, const QString& path)
{
    CVitrelDoc* doc = frame.OpenDocumentFile(path);
    if (!doc)
        return nullptr;
    if (!QTest::qWaitFor([&] { return doc->IsEditable() && doc->GetView()->IsIdle(); }, 30000))
        return nullptr;
    CVitrelView* view = doc->GetView();
    if (!view->IsCommandChecked(ID_VIEW_RMARKS))
        view->OnCommand(ID_VIEW_RMARKS);
    return doc;
}

void TestBeatReview::editInView()
{
    CReviewFrame frame;
    QVERIFY(frame.OnCreate());
    frame.resize(1200, 800);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    CVitrelDoc* doc = OpenReady(frame, Recording(QStringLiteral("10110808.00"), 180));
    QVERIFY(doc);
    CVitrelView* view = doc->GetView();
    const std::vector<uint32_t> before = Beats(doc);
    QVERIFY(before.size() > 100);
    QVERIFY(!doc->GetTitle().contains(QLatin1Char('*')));

    // A click a few pixels beside a mark selects its beat; far from any, nothing.
    view->CenterOnSample(before[50]);
    Click(view, MarkX(view, before[50]) + 4);
    QCOMPARE(view->GetSelectedBeat(), int64_t(before[50]));
    Click(view, (MarkX(view, before[50]) + MarkX(view, before[51])) / 2);
    QCOMPARE(view->GetSelectedBeat(), int64_t(-1));
    // With nothing selected, Ctrl+→ starts from the middle of the screen.
    QTest::keyClick(view, Qt::Key_Right, Qt::ControlModifier);
    const int middle = MarkX(view, uint32_t(view->GetSelectedBeat())) - view->GetClientRect().width() / 2;
    QVERIFY2(view->GetSelectedBeat() >= 0 && middle >= 0 && middle < 100, qPrintable(QString::number(middle)));
    Click(view, MarkX(view, before[50]) - 3);
    QCOMPARE(view->GetSelectedBeat(), int64_t(before[50]));

    // Relabel by key: the document, the title and the families pane follow.
    QTest::keyClick(view, Qt::Key_V);
    QCOMPARE(doc->GetResults()->ClassAt(before[50]), BeatClass::V);
    QVERIFY(doc->GetTitle().endsWith(QLatin1Char('*')));
    QVERIFY(frame.windowTitle().endsWith(QLatin1Char('*')));

    // Ctrl+arrows step beat by beat; with Shift only through beats of the same class.
    QTest::keyClick(view, Qt::Key_Right, Qt::ControlModifier);
    QCOMPARE(view->GetSelectedBeat(), int64_t(before[51]));
    QTest::keyClick(view, Qt::Key_Left, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(view->GetSelectedBeat(), int64_t(before[49]));
    QTest::keyClick(view, Qt::Key_Right, Qt::ControlModifier);
    QCOMPARE(view->GetSelectedBeat(), int64_t(before[50]));
    // No later V: the selection stays.
    QTest::keyClick(view, Qt::Key_Right, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(view->GetSelectedBeat(), int64_t(before[50]));

    // Stepping off the screen brings the beat into view.
    for (int i = 0; i < 40; ++i)
        QTest::keyClick(view, Qt::Key_Right, Qt::ControlModifier);
    const int x = MarkX(view, before[90]);
    QCOMPARE(view->GetSelectedBeat(), int64_t(before[90]));
    QVERIFY2(x > 0 && x < view->GetClientRect().width(), qPrintable(QString::number(x)));

    // Plain arrows still scroll and leave the selection alone.
    const int64_t left = view->GetDisplaySettings().LeftEdge();
    QTest::keyClick(view, Qt::Key_Right);
    QVERIFY(view->GetDisplaySettings().LeftEdge() > left);
    QCOMPARE(view->GetSelectedBeat(), int64_t(before[90]));

    // Del takes the beat and the selection; a second Del takes nothing.
    QTest::keyClick(view, Qt::Key_Delete);
    QCOMPARE(Beats(doc).size(), before.size() - 1);
    QCOMPARE(view->GetSelectedBeat(), int64_t(-1));
    QTest::keyClick(view, Qt::Key_Delete);
    QCOMPARE(Beats(doc).size(), before.size() - 1);

    // Insert then a click off the peak: the beat lands on the peak.
    view->CenterOnSample(before[90]);
    QTest::keyClick(view, Qt::Key_Insert);
    QVERIFY(view->IsInsertArmed());
    Click(view, MarkX(view, before[90] + 16));
    QVERIFY(!view->IsInsertArmed());
    QCOMPARE(Beats(doc).size(), before.size());
    const int64_t added = view->GetSelectedBeat();
    QVERIFY2(std::abs(added - int64_t(before[90])) <= 1, qPrintable(QString::number(added)));
    QCOMPARE(Beats(doc)[90], uint32_t(added));

    // Undo and redo step by step, down to the beats the run found.
    QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(Beats(doc).size(), before.size() - 1);
    QTest::keyClick(view, Qt::Key_Y, Qt::ControlModifier);
    QCOMPARE(Beats(doc)[90], uint32_t(added));
    QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
    QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
    QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(Beats(doc), before);
    QCOMPARE(doc->GetResults()->ClassAt(before[50]), BeatClass::N);
    QVERIFY(!doc->GetTitle().contains(QLatin1Char('*')));
    QVERIFY(!view->IsCommandEnabled(ID_EDIT_UNDO_BEAT));

    // The beat menu carries the same commands, for the beat under the pointer.
    QMenu* menu = frame.GetContextMenu(IDR_BEAT_MENU);
    QVERIFY(menu);
    WhenShown<QMenu>([&](QMenu* shown) {
        QCOMPARE(shown, menu);
        frame.GetAction(ID_BEAT_LABEL_S)->trigger();
        shown->close();
    });
    Click(view, MarkX(view, before[91]), Qt::RightButton);
    QCOMPARE(view->GetSelectedBeat(), int64_t(before[91]));
    QCOMPARE(doc->GetResults()->ClassAt(before[91]), BeatClass::S);

    // A whole family relabelled from the pane is one step.
    CTemplatesDlg* templates = frame.GetTemplatesPane();
    QVERIFY(templates && !templates->GetGroups().empty());
    size_t total = 0;
    for (const auto& group : templates->GetGroups())
        total += group.beats.size();
    QCOMPARE(total, before.size());
    // Stepping through a family centres its beats one after the other.
    templates->SetCurrentGroup(0);
    templates->StepCurrent();
    templates->StepCurrent();
    const uint32_t second = before[templates->GetGroups()[0].beats[1]];
    QCOMPARE(view->GetSelectedBeat(), int64_t(second));
    // Near the start the strip cannot move further left: centred as far as it goes.
    const int expectedX = std::min<int>(view->GetClientRect().width() / 2, MarkX(view, second) + int(view->GetDisplaySettings().LeftEdge() / 2));
    QVERIFY(std::abs(MarkX(view, second) - expectedX) < 5);
    const size_t largest = templates->GetGroups()[0].beats.size();
    templates->RelabelCurrent(BeatClass::V);
    QCOMPARE(size_t(std::count(doc->GetResults()->classes.begin(), doc->GetResults()->classes.end(), BeatClass::V)),
             largest);
    QCOMPARE(templates->GetGroups()[0].beatClass, BeatClass::V);
    QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(doc->GetResults()->ClassAt(before[0]), BeatClass::N);
    QCOMPARE(doc->GetResults()->ClassAt(before[91]), BeatClass::S);

    frame.m_answer = QMessageBox::Discard;
    frame.CloseAllDocuments();
    Settle();
}

void TestBeatReview::panesOutOfSightFollow()
{
    CReviewFrame frame;
    QVERIFY(frame.OnCreate());
    frame.resize(1200, 800);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    CVitrelDoc* doc = OpenReady(frame, Recording(QStringLiteral("10110909.00"), 180));
    QVERIFY(doc);
    CVitrelView* view = doc->GetView();
    QDockWidget* summary = frame.GetPane(IDR_PANE_SUMMARY);
    QDockWidget* events = frame.GetPane(IDR_PANE_EVENTS);
    QVERIFY(summary && events);
    QVERIFY(summary->visibleRegion().isEmpty() && events->visibleRegion().isEmpty());

    // Corrections made while the panes are behind other tabs: once shown
    // they read what a pane filled afresh reads.
    const size_t beats = Beats(doc).size();
    QVERIFY(doc->Delete(10) && doc->Delete(20) && doc->Relabel({30, 31}, BeatClass::V));
    frame.OnBeatsEdited(view);
    QVERIFY(doc->Undo());
    frame.OnBeatsEdited(view);
    QCOMPARE(Beats(doc).size(), beats - 2);
    CHolterSummaryDlg freshSummary;
    freshSummary.SetDocument(doc);
    freshSummary.Refresh();
    CEventsDlg freshEvents;
    freshEvents.SetDocument(doc);
    freshEvents.Refresh();
    summary->raise();
    events->raise();
    Settle();
    auto* shownSummary = summary->findChild<CHolterSummaryDlg*>();
    auto* shownEvents = events->findChild<CEventsDlg*>();
    QVERIFY(shownSummary && shownEvents);
    QCOMPARE(TreeTexts(shownSummary->GetTree()), TreeTexts(freshSummary.GetTree()));
    QCOMPARE(shownEvents->GetRowCount(), freshEvents.GetRowCount());

    // In sight, a correction shows at once.
    QVERIFY(doc->Undo());
    frame.OnBeatsEdited(view);
    freshSummary.Refresh();
    QCOMPARE(TreeTexts(shownSummary->GetTree()), TreeTexts(freshSummary.GetTree()));

    frame.m_answer = QMessageBox::Discard;
    frame.CloseAllDocuments();
    Settle();
}

void TestBeatReview::saveReopenAndAsk()
{
    const QString path = Recording(QStringLiteral("10110809.00"), 120);
    const QString reviewPath = QFile::decodeName(QByteArray::fromStdString(ReviewPathFor(QFile::encodeName(path).toStdString())));
    std::vector<uint32_t> saved;
    {
        CReviewFrame frame;
        QVERIFY(frame.OnCreate());
        CVitrelDoc* doc = OpenReady(frame, path);
        QVERIFY(doc);
        QVERIFY(!doc->IsReviewed());
        QVERIFY(!frame.GetAction(ID_FILE_SAVE_REVIEW)->shortcut().isEmpty());
        QVERIFY(doc->Delete(10));
        saved = Beats(doc);
        frame.OnCommand(ID_FILE_SAVE_REVIEW);
        QVERIFY(QFile::exists(reviewPath));
        QVERIFY(frame.statusBar()->currentMessage().contains(reviewPath));
        QVERIFY(doc->GetTitle().contains(QStringLiteral("已审核")));
        QVERIFY(!doc->GetTitle().contains(QLatin1Char('*')));

        // Unsaved again: closing asks; Cancel keeps the window, also on exit.
        QVERIFY(doc->Delete(20));
        frame.m_answer = QMessageBox::Cancel;
        frame.OnCommand(ID_FILE_CLOSE);
        Settle();
        QCOMPARE(frame.m_asked, 1);
        QCOMPARE(frame.GetDocuments().size(), 1);
        QVERIFY(!frame.close());
        QCOMPARE(frame.m_asked, 2);
        QCOMPARE(frame.GetDocuments().size(), 1);
        // Discard closes and leaves the saved review as it was.
        frame.m_answer = QMessageBox::Discard;
        frame.OnCommand(ID_FILE_CLOSE);
        Settle();
        QCOMPARE(frame.GetDocuments().size(), 0);
    }
    CReviewFrame frame;
    QVERIFY(frame.OnCreate());
    CVitrelDoc* doc = OpenReady(frame, path);
    QVERIFY(doc);
    QCOMPARE(Beats(doc), saved);
    QVERIFY(doc->IsReviewed());
    QVERIFY(frame.windowTitle().contains(QStringLiteral("已审核")));
    QVERIFY(frame.statusBar()->currentMessage().contains(reviewPath));
    QVERIFY(!doc->IsReviewModified());
    // Nothing unsaved: closing asks nothing.
    frame.OnCommand(ID_FILE_CLOSE);
    Settle();
    QCOMPARE(frame.m_asked, 0);
    QCOMPARE(frame.GetDocuments().size(), 0);
}

void TestBeatReview::reviewOfAnotherRecording()
{
    const QString a = Recording(QStringLiteral("10110810.00"), 60);
    const QString b = Recording(QStringLiteral("10110811.00"), 60, 200);
    const QString reviewB = QFile::decodeName(QByteArray::fromStdString(ReviewPathFor(QFile::encodeName(b).toStdString())));
    {
        CReviewFrame frame;
        QVERIFY(frame.OnCreate());
        CVitrelDoc* doc = OpenReady(frame, a);
        QVERIFY(doc && doc->Delete(3));
        std::string error;
        QVERIFY(doc->SaveReview(&error, reviewB));
        frame.m_answer = QMessageBox::Discard;
        frame.CloseAllDocuments();
        Settle();
    }
    const QByteArray bytes = QByteArray::fromStdString(ReadWholeFile(QFile::encodeName(reviewB).toStdString()));
    CReviewFrame frame;
    QVERIFY(frame.OnCreate());
    CVitrelDoc* doc = OpenReady(frame, b);
    QVERIFY(doc);
    QVERIFY(frame.statusBar()->currentMessage().contains(reviewB));
    QVERIFY(!doc->IsReviewed());
    QVERIFY(!doc->GetTitle().contains(QStringLiteral("已审核")));
    QCOMPARE(Beats(doc).front() % 200, Beats(doc)[1] % 200);
    QCOMPARE(QByteArray::fromStdString(ReadWholeFile(QFile::encodeName(reviewB).toStdString())), bytes);
    // Saving does not replace it; only another place is offered.
    QVERIFY(doc->Delete(1));
    QVERIFY(!frame.SaveReview(doc));
    QCOMPARE(frame.m_saveErrors.size(), 1);
    QVERIFY2(frame.m_saveErrors[0].contains(reviewB), qPrintable(frame.m_saveErrors[0]));
    QCOMPARE(QByteArray::fromStdString(ReadWholeFile(QFile::encodeName(reviewB).toStdString())), bytes);
    QVERIFY(doc->IsReviewModified());
    frame.m_answer = QMessageBox::Discard;
    frame.CloseAllDocuments();
    Settle();
}

void TestBeatReview::unwritableFolder()
{
    // A folder where the review file should be: no rename can replace it,
    // whoever runs the test.
    const QString folder = QDir(m_dir.path()).filePath(QStringLiteral("locked"));
    QVERIFY(QDir().mkpath(folder));
    const QString path = WriteSamples(folder, QStringLiteral("10110812.00"), SpikeTrain(60 * 250, kPeriod));
    QVERIFY(QDir().mkpath(QFile::decodeName(QByteArray::fromStdString(ReviewPathFor(QFile::encodeName(path).toStdString())))));
    CReviewFrame frame;
    QVERIFY(frame.OnCreate());
    CVitrelDoc* doc = OpenReady(frame, path);
    QVERIFY2(doc, qPrintable(frame.statusBar()->currentMessage()));
    QVERIFY(doc->Delete(1));
    // Refused: the message names the file; the other place is then written.
    frame.m_saveAs = QDir(m_dir.path()).filePath(QStringLiteral("elsewhere.atr"));
    QVERIFY(frame.SaveReview(doc));
    QCOMPARE(frame.m_saveErrors.size(), 1);
    QVERIFY2(frame.m_saveErrors[0].contains(doc->GetReviewPath()), qPrintable(frame.m_saveErrors[0]));
    QVERIFY(QFile::exists(QDir(m_dir.path()).filePath(QStringLiteral("elsewhere.atr"))));
    QVERIFY(!doc->IsReviewModified());
    // Refused and not saved elsewhere: still unsaved.
    QVERIFY(doc->Delete(1));
    QVERIFY(!frame.SaveReview(doc));
    QVERIFY(doc->IsReviewModified());
    frame.m_answer = QMessageBox::Discard;
    frame.CloseAllDocuments();
    Settle();
}

QTEST_MAIN(TestBeatReview)
#include "tst_beatreview.moc"
