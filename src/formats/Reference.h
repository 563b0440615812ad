// Reference beats from annotation files of the standard formats.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class ReferenceKind {
    none,      // not a standard annotation source: read it as "index,code" lines
    wfdb,      // REC.atr beside REC.hea
    embedded,  // the annotations of an EDF+, BDF+, GDF (or WFDB header's) record
};

ReferenceKind ClassifyReference(const std::string& path);

// The beat annotations (the EC57 beat codes) of a standard source, as sample
// positions at 250/s, sorted. False with a message in *error when the source
// cannot be read.
bool ReadReferenceBeats(const std::string& path, std::vector<int64_t>* out, std::string* error);
