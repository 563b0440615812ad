// One full paint of a 24-hour recording at 50 % in a 1920-pixel-wide view.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <cstdlib>
#include <memory>
#include <vector>

#include "analysis/EcgDocument.h"
#include "display/EcgPainter.h"
#include "support/AnalysisViews.h"

namespace {

constexpr uint32_t kSamples = 250u * 3600u * 24u;

struct Fixture {
    QTemporaryDir dir;
    std::unique_ptr<CEcgDocument> raw;        // before the analysis
    std::unique_ptr<CEcgDocument> analysed;   // detection and statistics done
};

Fixture& GetFixture()
{
    static Fixture* fixture = [] {
        auto* f = new Fixture;
        const QString path = QDir(f->dir.path()).filePath(QStringLiteral("24050508.00"));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            std::abort();
        // A beat every 0.8 s: a narrow R wave, a T wave, a little noise.
        std::vector<int16_t> block(250 * 60);
        uint32_t seed = 1;
        for (uint32_t minute = 0; minute < kSamples / block.size(); ++minute) {
            for (size_t i = 0; i < block.size(); ++i) {
                seed = seed * 1103515245u + 12345u;
                const int phase = static_cast<int>(i % 200);
                int v = static_cast<int>((seed >> 16) % 21) - 10;
                if (phase >= 96 && phase <= 104)
                    v += 1500 * (5 - std::abs(phase - 100)) / 5;
                if (phase >= 140 && phase <= 170)
                    v += 300 * (15 - std::abs(phase - 155)) / 15;
                block[i] = static_cast<int16_t>(v);
            }
            file.write(reinterpret_cast<const char*>(block.data()), static_cast<qint64>(block.size() * 2));
        }
        file.close();
        f->raw = std::make_unique<CEcgDocument>();
        f->raw->OpenFile(path.toStdString());
        f->analysed = std::make_unique<CEcgDocument>();
        f->analysed->OpenFile(path.toStdString());
        static testsupport::NullAnalysisView sink;
        f->analysed->StartAnalysis(&sink);
        f->analysed->WaitAnalysis();
        return f;
    }();
    return *fixture;
}

void Paint(benchmark::State& state, bool analysed)
{
    Fixture& f = GetFixture();
    CEcgDocument* doc = analysed ? f.analysed.get() : f.raw.get();
    const int w = 1920, h = 900;
    QImage target(w, h, QImage::Format_ARGB32_Premultiplied);
    CEcgPainter painter;
    DisplaySettings settings;
    settings.m_fZoom = 0.5f;
    settings.m_bShowRMarks = analysed;
    settings.m_nViewPos = kSamples / 2;
    for (auto _ : state) {
        QPainter p(&target);
        painter.DrawStrip(doc, settings, &p, w, h, !analysed);
        p.end();
        benchmark::DoNotOptimize(target.constBits());
    }
}

void BM_PaintDuringAnalysis(benchmark::State& state) { Paint(state, false); }
void BM_PaintAnalysedWithRMarks(benchmark::State& state) { Paint(state, true); }

BENCHMARK(BM_PaintDuringAnalysis)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PaintAnalysedWithRMarks)->Unit(benchmark::kMillisecond);

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
