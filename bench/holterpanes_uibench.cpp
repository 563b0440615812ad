// The Holter panes over a day: 100 000 beats and 100 000 events.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QPainter>

#include <memory>

#include "analysis/EcgDocument.h"
#include "panes/HolterPanes.h"
#include "panes/RRPlots.h"
#include "support/DocumentAccess.h"

namespace {

constexpr uint32_t kCount = 100000;

CEcgDocument& Document()
{
    static CEcgDocument* doc = [] {
        auto* d = new CEcgDocument;
        auto r = std::make_shared<AnalysisResults>();
        uint32_t seed = 1, at = 1000;
        for (uint32_t i = 0; i < kCount; ++i) {
            seed = seed * 1103515245u + 12345u;
            at += 150 + (seed >> 16) % 150;
            r->beats.push_back(at);
            const auto type = static_cast<EpisodeType>(i % 7 == 0 ? 1 : (i % 11 == 0 ? 11 : 0));
            r->episodes.push_back(Episode{type, at, at + (type == EpisodeType::AF ? 7500u : 0u), 1, 80.0f});
        }
        r->classes.assign(r->beats.size(), BeatClass::N);
        r->hours.push_back({0, 0, 0, 59, 70.f, 50.f, 100.f, 0, 0});
        DocAccess::SetResults(*d, r);
        DocAccess::SetStartTime(*d, CTime(1700000000));
        return d;
    }();
    return *doc;
}

template <class Pane>
void Render(Pane& pane, QImage& target)
{
    QPainter p(&target);
    pane.render(&p);
}

void BM_EventsRefresh(benchmark::State& state)
{
    CEventsDlg pane;
    pane.SetDocument(&Document());
    for (auto _ : state)
        pane.Refresh();
}

void BM_EventsFilterAndPaint(benchmark::State& state)
{
    CEventsDlg pane;
    pane.SetDocument(&Document());
    pane.resize(480, 600);
    pane.Refresh();
    QImage target(480, 600, QImage::Format_ARGB32_Premultiplied);
    int i = 0;
    for (auto _ : state) {
        pane.GetFilter()->setCurrentIndex(i++ % pane.GetFilter()->count());
        pane.NextEvent();
        Render(pane, target);
    }
}

void BM_SummaryRefresh(benchmark::State& state)
{
    CHolterSummaryDlg pane;
    pane.SetDocument(&Document());
    for (auto _ : state)
        pane.Refresh();
}

void BM_RRPlotsRefreshAndPaint(benchmark::State& state)
{
    CRRPlotsDlg pane;
    pane.SetDocument(&Document());
    pane.resize(1200, 500);
    QImage target(1200, 500, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        pane.Refresh();
        Render(pane, target);
    }
}

BENCHMARK(BM_EventsRefresh)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EventsFilterAndPaint)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SummaryRefresh)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RRPlotsRefreshAndPaint)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
