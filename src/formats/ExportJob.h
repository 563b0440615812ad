// One export of a document's findings, without any window: where it writes,
// the refusal of a target that is an input, the writing through the writers
// of Export.h, and a failure that says which file and why.
#pragma once

#include <string>
#include <vector>

#include "formats/Export.h"

class CEcgDocument;

enum class ExportKind { BeatsCsv, EdfPlus, Wfdb };

struct ExportTarget {
    ExportKind kind = ExportKind::BeatsCsv;
    // The file; for a WFDB record the folder it goes in.
    std::string path;
};

struct ExportFailure {
    enum class Reason {
        None,
        OverInput,    // path would replace input
        CannotWrite,  // path could not be written: text is the system's reason
        CannotRead,   // the recording failed while it was read: text is the message
    };
    Reason why = Reason::None;
    std::string path;
    std::string input;
    std::string text;
};

// The lead a standard recording shows; empty for the recorder's files.
std::string RecordingLeadLabel(const CEcgFile* file);
// Beats, irregular beats (sorted), start time and lead label of doc's analysis.
ExportInput MakeExportInput(const CEcgDocument& doc);

// The files writing target makes for the recording at recordingPath (a WFDB
// record is named after the recording: 24050508.00 gives 24050508_00.*).
std::vector<std::string> ExportOutputs(const ExportTarget& target, const std::string& recordingPath);
// recordings and the files each is read from besides itself.
std::vector<std::string> InputFilesOf(const std::vector<std::string>& recordings);
// False, with OverInput, when one of outputs is one of inputs: the same
// device and inode, or the same path once resolved.
bool CheckOutputs(const std::vector<std::string>& outputs, const std::vector<std::string>& inputs,
                  ExportFailure* failure);

// Checks target's outputs against inputs, then writes them; every file
// appears whole or not at all. False with *failure filled otherwise.
bool RunExport(const ExportInput& in, CEcgFile& ecg, const std::string& recordingPath, const ExportTarget& target,
               const std::vector<std::string>& inputs, ExportFailure* failure);
