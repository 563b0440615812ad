// The one place that talks to BioSig: signature sniffing and an open header.
#pragma once

#include <string>
#include <vector>

#include <biosig.h>
// BioSig's header may define isfinite as a macro, which breaks std::isfinite.
#ifdef isfinite
#undef isfinite
#endif

enum class SignatureKind { none, edf, bdf, gdf, mit, scp, hl7 };

struct Sniffed {
    SignatureKind kind = SignatureKind::none;
    std::string durationField;  // EDF/BDF: the record duration as written
};

// What an EDF/BDF header says of itself, read without BioSig.
struct EdfFacts {
    bool plus = false;
    bool gaps = false;  // EDF+D whose data records do not follow each other
    double recordSeconds = 0;
    long long headerBytes = 0, records = 0;
    std::vector<std::string> labels;
    std::vector<long long> samplesPerRecord;
    bool annotationsOnly = false;
    // The start as the header gives it; unknown for EDF+'s "Startdate X".
    bool startKnown = false;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
// False when the header is not sound enough to tell.
bool ReadEdfFacts(const std::string& path, bool bdf, EdfFacts* out);

// Looks at the first bytes (and, for a WFDB header, the name) for the
// signature of a standard format. Never hands the file to BioSig.
Sniffed SniffStandardFile(const std::string& path);

// What is checked before BioSig sees a file: the header of its kind is
// sound, and a WFDB header's signal files (which BioSig reads past the end of).
bool StandardHeaderIsSound(const std::string& path, SignatureKind kind);
std::vector<std::string> WfdbSignalFiles(const std::string& path);

// A file opened for reading by BioSig whose type matches its signature.
// Only ever made in a child process (see ChildSandbox.h).
class BiosigHandle {
public:
    // Raises CFileException when BioSig cannot read the file as its signature says.
    explicit BiosigHandle(const std::string& path);
    ~BiosigHandle();
    BiosigHandle(const BiosigHandle&) = delete;
    BiosigHandle& operator=(const BiosigHandle&) = delete;

    HDRTYPE* get() const { return m_hdr; }

private:
    HDRTYPE* m_hdr = nullptr;
};
