// The Qt side of the test support: recordings and programs with Qt paths,
// private settings, pictures of widgets for a look by eye.
#pragma once

#include <QString>
#include <QStringList>

#include "support/Recordings.h"

class QImage;
class QWidget;

namespace testsupport {

// Writes samples as the bare long recording dir/name; returns the path.
QString WriteSamples(const QString& dir, const QString& name, const std::vector<int16_t>& samples);
// A sparse file of byteCount bytes at dir/name; returns the path, or "" without sparse files.
QString WriteSparseFile(const QString& dir, const QString& name, uint64_t byteCount);
// Runs vitrel-synth with args; returns the path it printed, or "".
QString RunSynth(const QStringList& args);
// Keeps the test's QSettings in a private folder.
void IsolateSettings(const QString& dir);
// Saves a picture into the test output folder; false when it cannot.
bool SaveForInspection(const QImage& image, const char* name);
bool SaveForInspection(QWidget* widget, const char* name);

}  // namespace testsupport
