#include "formats/ExportJob.h"

#include "formats/ReviewFile.h"

#include <algorithm>
#include <exception>

#include "analysis/EcgDocument.h"
#include "formats/StandardFile.h"
#include "recording/ErrorMessage.h"
#include "recording/File.h"

std::string RecordingLeadLabel(const CEcgFile* file)
{
    return file ? file->GetLeadLabel() : std::string();
}

ExportInput MakeExportInput(const CEcgDocument& doc)
{
    ExportInput in;
    if (const std::shared_ptr<const AnalysisResults> results = doc.GetResults()) {
        in.beats = results->beats;
        in.irregular = results->irregular;
        in.classes = results->classes;
        for (const Episode& e : results->episodes)
            if (e.type == EpisodeType::AF)
                in.af.push_back(e);
    } else {
        doc.GetBeatsInRange(0, UINT32_MAX, in.beats);
        doc.GetAbnormalBeats(in.irregular);
    }
    std::sort(in.irregular.begin(), in.irregular.end());
    if (CEcgFile* ecg = doc.GetEcgFile())
        in.hasStartTime = ecg->GetStartTime(&in.startTime);
    in.leadLabel = RecordingLeadLabel(doc.GetEcgFile());
    if (in.leadLabel.empty())
        in.leadLabel = "ECG";
    return in;
}

std::vector<std::string> ExportOutputs(const ExportTarget& target, const std::string& recordingPath)
{
    if (target.kind != ExportKind::Wfdb)
        return {target.path};
    return WfdbRecordFiles(target.path, WfdbRecordName(CFile::FileTitleOf(recordingPath)));
}

std::vector<std::string> InputFilesOf(const std::vector<std::string>& recordings)
{
    std::vector<std::string> inputs;
    for (const std::string& path : recordings) {
        inputs.push_back(path);
        inputs.push_back(ReviewPathFor(path));
        for (const std::string& companion : CompanionFiles(path))
            inputs.push_back(companion);
    }
    return inputs;
}

bool CheckOutputs(const std::vector<std::string>& outputs, const std::vector<std::string>& inputs,
                  ExportFailure* failure)
{
    for (const std::string& out : outputs) {
        for (const std::string& in : inputs) {
            if (IsSameFile(out, in)) {
                *failure = {ExportFailure::Reason::OverInput, out, in, {}};
                return false;
            }
        }
    }
    return true;
}

bool RunExport(const ExportInput& in, CEcgFile& ecg, const std::string& recordingPath, const ExportTarget& target,
               const std::vector<std::string>& inputs, ExportFailure* failure)
{
    const std::vector<std::string> outputs = ExportOutputs(target, recordingPath);
    if (!CheckOutputs(outputs, inputs, failure))
        return false;
    std::string error;
    bool written = false;
    try {
        switch (target.kind) {
        case ExportKind::BeatsCsv: written = WriteBeatsCsv(target.path, in, &error); break;
        case ExportKind::EdfPlus: written = WriteEdfPlus(target.path, ecg, in, &error); break;
        case ExportKind::Wfdb:
            written = WriteWfdbRecord(target.path, WfdbRecordName(CFile::FileTitleOf(recordingPath)), ecg, in, &error);
            break;
        }
    } catch (const std::exception& e) {
        // Nothing was put in place: the writers commit only once all is read.
        *failure = {ExportFailure::Reason::CannotRead, {}, {}, ErrorMessageFor(e, recordingPath)};
        return false;
    }
    if (written)
        return true;
    // The writers name the file they failed on as "PATH: reason".
    for (const std::string& out : outputs) {
        if (error.size() > out.size() + 2 && error.compare(0, out.size() + 2, out + ": ") == 0) {
            *failure = {ExportFailure::Reason::CannotWrite, out, {}, error.substr(out.size() + 2)};
            return false;
        }
    }
    *failure = {ExportFailure::Reason::CannotWrite, {}, {}, error};
    return false;
}
