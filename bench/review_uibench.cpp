// How long one correction of a day-long recording takes to show in the
// window: the view's undo or redo of a deleted beat, the document's steps
// after detection, every pane in sight refilled (results, irregular beats,
// hours, trend, templates; the summary, events and RR plots behind other tabs
// wait until raised) and the whole frame painted offscreen. Uses
// $BENCH_RECORDING (e.g. vitrel-synth long --hours 24) or writes a day of a
// plain beat train.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QStandardPaths>
#include <QThread>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "DayRecording.h"
#include "app/VitrelDoc.h"
#include "display/VitrelView.h"
#include "resources/Resource.h"
#include "support/TestFrame.h"

namespace {

void BM_OneCorrectionShownInTheWindow(benchmark::State& state)
{
    testsupport::CTestFrame frame;
    if (!frame.OnCreate()) {
        state.SkipWithError("no frame");
        return;
    }
    frame.resize(1600, 1000);
    frame.show();
    CVitrelDoc* doc = frame.OpenDocumentFile(QString::fromStdString(BenchDayRecording()));
    if (!doc) {
        state.SkipWithError("cannot open the recording");
        return;
    }
    QElapsedTimer waited;
    waited.start();
    while (!(doc->IsEditable() && doc->GetView()->IsIdle()) && waited.elapsed() < 600000) {
        QCoreApplication::processEvents();
        QThread::msleep(10);
    }
    const auto results = doc->GetResults();
    if (!doc->IsEditable() || !results || results->beats.size() < 1000) {
        state.SkipWithError("no beats");
        return;
    }
    CVitrelView* view = doc->GetView();
    if (!view->IsCommandChecked(ID_VIEW_RMARKS))
        view->OnCommand(ID_VIEW_RMARKS);
    // One delete to undo and redo: each step is a whole correction.
    if (!doc->Delete(results->beats.size() / 2)) {
        state.SkipWithError("delete refused");
        return;
    }
    frame.OnBeatsEdited(view);
    QImage target(frame.size(), QImage::Format_ARGB32_Premultiplied);
    bool undo = true;
    for (auto _ : state) {
        view->OnCommand(undo ? ID_EDIT_UNDO_BEAT : ID_EDIT_REDO_BEAT);
        undo = !undo;
        QCoreApplication::processEvents();
        QPainter painter(&target);
        frame.render(&painter);
    }
    state.counters["beats"] = double(doc->GetResults()->beats.size());
    state.counters["edits"] = double(state.iterations());
    doc->Undo();
    if (doc->IsReviewModified())
        doc->Undo();
    frame.CloseAllDocuments();
}
BENCHMARK(BM_OneCorrectionShownInTheWindow)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
