// Reference beats from annotation files of the standard formats.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

enum class ReferenceKind {
    none,      // not a standard annotation source: read it as "index,code" lines
    wfdb,      // REC.atr beside REC.hea
    embedded,  // the annotations of an EDF+, BDF+, GDF (or WFDB header's) record
};

ReferenceKind ClassifyReference(const std::string& path);

// The MIT code of an annotation mnemonic ("N", "V", "(AFIB"...), 0 for none.
int MitCodeOfMnemonic(const std::string& text);

struct ReferenceBeat {
    double position = 0;  // samples at 250/s, not rounded
    int code = 0;         // MIT annotation code; 0 when the source gives none
};

struct ReferenceAnnotations {
    std::vector<ReferenceBeat> beats;  // beat annotations only, sorted
    // Ventricular flutter and fibrillation episodes the reference marks
    // (from its "[" to its "]"), at 250/s: beats are not scored there.
    std::vector<std::pair<double, double>> unscored;
};

// Every kind of reference: a standard source, or "index[,code]" lines at
// 250/s whose code is an annotation mnemonic (N, V, ...) or an MIT code
// number. False with a message in *error when it cannot be read.
bool ReadReferenceAnnotations(const std::string& path, ReferenceAnnotations* out, std::string* error);

// The beat annotations (the EC57 beat codes) of a standard source, as sample
// positions at 250/s, sorted. False with a message in *error when the source
// cannot be read.
bool ReadReferenceBeats(const std::string& path, std::vector<int64_t>* out, std::string* error);
