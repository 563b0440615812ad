// The export command's dialog and the pieces of its workflow that the main
// frame and the tests share: the suggested names, the target a choice
// stands for, and the message of a failure.
#pragma once

#include <QString>

#include "formats/ExportJob.h"

class QWidget;

// The name the dialog suggests for kind: the whole recording name and the
// kind's suffix, or the header of the WFDB record that will be written.
QString DefaultExportName(const QString& recordingPath, ExportKind kind);
// What a chosen path writes: a missing suffix of a file gets the kind's, a
// WFDB record goes in the folder chosen or the folder of the file chosen.
ExportTarget ResolveExportTarget(const QString& chosen, ExportKind kind);
// The save dialog; false when the user cancels. It asks no replace question.
bool RunExportDialog(QWidget* parent, const QString& recordingPath, QString* target, ExportKind* kind);
// The error box's text for failure.
QString ExportFailureText(const ExportFailure& failure);
