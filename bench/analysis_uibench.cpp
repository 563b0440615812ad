// The application over a day's analysis: opens the recording in the main
// frame (offscreen), lets the run fill every pane, and reports the longest
// time the event loop could not answer.
// Usage: analysis_uibench [--threads N] RECORDING
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <string>

#include "app/MainFrame.h"
#include "app/VitrelDoc.h"

int main(int argc, char** argv)
{
    int threads = 0;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--threads") == 0 && i + 1 < argc)
            threads = std::atoi(argv[++i]);
        else
            path = argv[i];
    }
    if (!path) {
        std::fprintf(stderr, "usage: analysis_uibench [--threads N] RECORDING\n");
        return 2;
    }
    // The settings of this run only, never the user's.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QSettings(QStringLiteral("VITREL-ECG"), QStringLiteral("vitrel-ecg")).setValue(QStringLiteral("Settings/AnalysisThreads"), threads);

    CMainFrame frame;
    if (!frame.OnCreate())
        return 1;
    frame.resize(1280, 900);
    frame.show();

    QElapsedTimer clock, since;
    qint64 longest = 0, longestAt = 0, doneAt = -1;
    bool finished = false;
    CVitrelDoc* doc = nullptr;
    QTimer tick;
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 gap = since.restart();
        if (gap > longest) {
            longest = gap;
            longestAt = clock.elapsed();
        }
        if (doc && !finished && doc->IsStatisticsReady() && !doc->IsAnalysisRunning() && doc->GetResults()) {
            finished = true;
            doneAt = clock.elapsed();
            // The panes fill from the notifications still queued.
            QTimer::singleShot(300, &app, &QCoreApplication::quit);
        }
    });
    QTimer::singleShot(0, [&] {
        clock.start();
        since.start();
        tick.start();
        doc = frame.OpenDocumentFile(QString::fromLocal8Bit(path));
        if (!doc)
            app.exit(1);
    });
    const int rc = app.exec();
    std::printf("analysis and panes: %.3f s\n", double(clock.elapsed()) / 1000.0);
    std::printf("run ended at %lld ms, the longest wait ended at %lld ms\n", static_cast<long long>(doneAt),
                static_cast<long long>(longestAt));
    std::printf("longest wait, ms: %lld\n", static_cast<long long>(longest));
    return rc;
}
