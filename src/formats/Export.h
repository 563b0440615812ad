// Writing what the analysis found in forms other programs read: a beat
// list as CSV, an EDF+ file and a WFDB record. Every writer goes through
// COutputFile: the target appears whole or not at all.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/BeatClass.h"
#include "analysis/Episodes.h"
#include "recording/EcgFile.h"

struct ExportInput {
    std::vector<uint32_t> beats;      // sorted sample positions at 250/s
    std::vector<uint32_t> irregular;  // the RR-irregular ones among them, sorted
    std::vector<BeatClass> classes;   // one per beat, or none: then N, and Q for an irregular beat
    std::vector<Episode> af;          // atrial fibrillation episodes
    bool hasStartTime = false;
    CTime startTime;
    std::string leadLabel;  // "ECG" when the recording does not name it
};

// The class a beat is written with.
BeatClass ExportedClass(const ExportInput& in, size_t index);

// position,clock time,RR ms,irregular (1/0),class letter; no header line.
bool WriteBeatsCsv(const std::string& out, const ExportInput& in, std::string* error);

// One ECG signal (250/s, mV, 1 s data records) and an "EDF Annotations"
// signal with every beat by its class's text, and each AF episode with its
// duration as "AF".
bool WriteEdfPlus(const std::string& out, CEcgFile& ecg, const ExportInput& in, std::string* error);

// DIR/NAME.hea, NAME.dat (format 16) and NAME.atr (MIT annotations: each
// beat by its class's code, rhythm changes "(AFIB" and "(N" around AF).
bool WriteWfdbRecord(const std::string& dir, const std::string& name, CEcgFile& ecg, const ExportInput& in,
                     std::string* error);
// The paths WriteWfdbRecord writes.
std::vector<std::string> WfdbRecordFiles(const std::string& dir, const std::string& name);
// A WFDB record name (letters, digits, underscores) made from a file title.
std::string WfdbRecordName(const std::string& fileTitle);
