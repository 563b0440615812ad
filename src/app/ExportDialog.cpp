#include "app/ExportDialog.h"

#include <algorithm>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QStatusBar>

#include "app/MainFrame.h"
#include "app/VitrelDoc.h"
#include "recording/ErrorMessage.h"
#include "recording/File.h"
#include "resources/QtResources.h"

namespace {

// How long the status bar tells of a finished export.
constexpr int kStatusMessageMs = 10000;

QString Decode(const std::string& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path));
}

std::string Encode(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

// The beats are final and no run is still going (statistics included).
bool IsAnalysisComplete(const CVitrelDoc* doc)
{
    return doc && doc->IsDetectionDone() && !doc->HasRunFailed() && !doc->IsAnalysisRunning();
}

}  // namespace

QString DefaultExportName(const QString& recordingPath, ExportKind kind)
{
    const QString name = QFileInfo(recordingPath).fileName();
    switch (kind) {
    case ExportKind::EdfPlus: return name + QStringLiteral(".edf");
    case ExportKind::Wfdb: return Decode(WfdbRecordName(Encode(name))) + QStringLiteral(".hea");
    case ExportKind::BeatsCsv: break;
    }
    return name + QStringLiteral(".csv");
}

ExportTarget ResolveExportTarget(const QString& chosen, ExportKind kind)
{
    const QFileInfo info(chosen);
    QString path = info.absoluteFilePath();
    if (kind == ExportKind::Wfdb)
        return {kind, Encode(info.isDir() ? path : info.absolutePath())};
    if (info.suffix().isEmpty())
        path += kind == ExportKind::BeatsCsv ? QStringLiteral(".csv") : QStringLiteral(".edf");
    return {kind, Encode(path)};
}

bool RunExportDialog(QWidget* parent, const QString& recordingPath, QString* target, ExportKind* kind)
{
    static constexpr ExportKind kKinds[] = {ExportKind::BeatsCsv, ExportKind::EdfPlus, ExportKind::Wfdb};
    const QStringList filters{ToQString(Text::kExportFilterCsv), ToQString(Text::kExportFilterEdf),
                              ToQString(Text::kExportFilterWfdb)};
    QFileDialog dialog(parent, ToQString(Text::kExportTitle), QFileInfo(recordingPath).absolutePath());
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    // The frame asks once it knows the target is allowed at all.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.setObjectName(QStringLiteral("ExportFileDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(filters);
    dialog.setLabelText(QFileDialog::LookIn, ToQString(Text::kExportLookIn));
    dialog.setLabelText(QFileDialog::FileName, ToQString(Text::kExportFileName));
    dialog.setLabelText(QFileDialog::FileType, ToQString(Text::kExportFileType));
    dialog.setLabelText(QFileDialog::Accept, ToQString(Text::kExportAccept));
    dialog.setLabelText(QFileDialog::Reject, ToQString(Text::kExportReject));
    dialog.selectFile(DefaultExportName(recordingPath, ExportKind::BeatsCsv));
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&](const QString& filter) {
        const qsizetype i = filters.indexOf(filter);
        if (i < 0)
            return;
        // selectFile leaves the name alone while it has the focus, and the
        // dialog has just put the new filter's suffix on the old name.
        const QString name = DefaultExportName(recordingPath, kKinds[i]);
        if (auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            edit->setText(name);
        else
            dialog.selectFile(name);
    });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    *target = dialog.selectedFiles().constFirst();
    // A suffix typed for one of the kinds wins over the filter left as it was.
    const QString suffix = QFileInfo(*target).suffix().toLower();
    qsizetype index = filters.indexOf(dialog.selectedNameFilter());
    if (suffix == QLatin1String("csv"))
        index = 0;
    else if (suffix == QLatin1String("edf"))
        index = 1;
    else if (suffix == QLatin1String("hea"))
        index = 2;
    *kind = kKinds[index >= 0 && index < 3 ? index : 0];
    return true;
}

QString ExportFailureText(const ExportFailure& failure)
{
    switch (failure.why) {
    case ExportFailure::Reason::OverInput: return ToQString(Text::kExportOverRecording).arg(Decode(failure.path));
    case ExportFailure::Reason::CannotWrite:
        if (!failure.path.empty())
            return ToQString(Text::kCannotWriteExport).arg(Decode(failure.path), QString::fromLocal8Bit(failure.text));
        break;
    case ExportFailure::Reason::CannotRead:
    case ExportFailure::Reason::None: break;
    }
    return ToQString(Text::kCannotExport).arg(QString::fromLocal8Bit(failure.text));
}

// ---- The frame's export command -----------------------------------------

bool CMainFrame::CanExport() const
{
    return IsAnalysisComplete(GetActiveDocument());
}

bool CMainFrame::PromptForExportTarget(const CVitrelDoc* doc, QString* target, ExportKind* kind)
{
    return RunExportDialog(this, doc->GetPathName(), target, kind);
}

std::vector<std::string> CMainFrame::GetInputFiles() const
{
    std::vector<std::string> recordings;
    for (const CVitrelDoc* open : GetDocuments())
        recordings.push_back(open->GetFilePath());
    return InputFilesOf(recordings);
}

void CMainFrame::OnFileExport()
{
    CVitrelDoc* doc = GetActiveDocument();
    if (!doc || !CanExport())
        return;
    QString chosen;
    ExportKind kind = ExportKind::BeatsCsv;
    if (!PromptForExportTarget(doc, &chosen, &kind))
        return;
    // A forbidden target is refused before anything is asked about it.
    const ExportTarget target = ResolveExportTarget(chosen, kind);
    const std::vector<std::string> outputs = ExportOutputs(target, doc->GetFilePath());
    ExportFailure failure;
    if (!CheckOutputs(outputs, GetInputFiles(), &failure)) {
        ShowErrorMessage(ExportFailureText(failure));
        return;
    }
    // A record is asked about by its header, the file that names it.
    const std::string& named = kind == ExportKind::Wfdb ? outputs.back() : outputs.front();
    if (std::any_of(outputs.begin(), outputs.end(), [](const std::string& p) { return QFileInfo::exists(Decode(p)); })) {
        const QString question = kind == ExportKind::Wfdb ? ToQString(Text::kExportReplaceRecord)
                                                          : ToQString(Text::kExportReplaceFile);
        if (QMessageBox::question(this, ToQString(Text::kExportTitle), question.arg(Decode(named)),
                                  QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
            return;
    }
    ExportDocument(doc, chosen, kind);
}

bool CMainFrame::ExportDocument(CVitrelDoc* doc, const QString& chosen, ExportKind kind)
{
    if (!IsAnalysisComplete(doc))
        return false;
    const ExportTarget target = ResolveExportTarget(chosen, kind);
    ExportFailure failure;
    bool written = false;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    if (CEcgFile* ecg = doc->GetEcgFile()) {
        ExportInput in = MakeExportInput(*doc);
        written = RunExport(in, *ecg, doc->GetFilePath(), target, GetInputFiles(), &failure);
    } else {
        failure = {ExportFailure::Reason::CannotRead, {}, {},
                   ErrorMessageFor(CFileException(CFileException::fileNotFound, -1, doc->GetFilePath()),
                                   doc->GetFilePath())};
    }
    QApplication::restoreOverrideCursor();
    if (!written) {
        ShowErrorMessage(ExportFailureText(failure));
        return false;
    }
    const std::vector<std::string> outputs = ExportOutputs(target, doc->GetFilePath());
    const std::string& named = kind == ExportKind::Wfdb ? outputs.back() : outputs.front();
    statusBar()->showMessage(ToQString(Text::kExportDone).arg(Decode(named)), kStatusMessageMs);
    return true;
}
