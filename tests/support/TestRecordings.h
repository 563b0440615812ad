// Recordings and helpers shared by the widget tests.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

#include "analysis/AnalysisView.h"

namespace testsupport {

// Writes samples as a bare long recording dir/name; returns the path.
QString WriteSamples(const QString& dir, const QString& name, const std::vector<int16_t>& samples);
// A file of byteCount bytes with no data blocks (reads as zeros).
QString WriteSparseFile(const QString& dir, const QString& name, uint64_t byteCount);
// Zero baseline with a narrow triangular R wave of `height` units every `period` samples.
std::vector<int16_t> SpikeTrain(uint32_t count, uint32_t period = 200, int16_t height = 1500);
// Runs vitrel-synth with args; returns the path it printed, or empty.
QString RunSynth(const QStringList& args);
// Keeps QSettings of the test in a private folder.
void IsolateSettings(const QString& dir);

// An analysis view that only counts.
class CNullAnalysisView : public IAnalysisView {
public:
    void ShowProgress() override {}
    void SetProgress(short) override {}
    void OnDetectionFinished(bool) override {}
    void BeginStatisticsProgress() override {}
    void OnStatisticsFinished(bool) override {}
};

}  // namespace testsupport
