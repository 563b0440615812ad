// WFDB records read without BioSig: the header text, the signal files in
// formats 8, 16, 24, 32, 61, 80, 160, 212, 310 and 311 (several signals to a
// file, several files to a record), and MIT annotation files.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct WfdbSignal {
    std::string file;
    int format = 16;
    int samplesPerFrame = 1;
    int skew = 0;
    int64_t byteOffset = 0;
    double gain = 200;  // units per physical unit; 0 in the header means 200
    int baseline = 0;
    std::string units = "mV";
    int adcZero = 0;
    int initial = 0;  // format 8's first value; the ADC zero unless given
    std::string description;
};

struct WfdbHeader {
    std::string record;
    double frequency = 250;  // frames per second
    int64_t frames = 0;      // 0: as many as the files hold
    bool hasTime = false, hasDate = false;
    int hour = 0, minute = 0, second = 0, day = 0, month = 0, year = 0;
    std::vector<WfdbSignal> signals;
};

// False when the text is not a single-segment WFDB header that can be read.
bool ParseWfdbHeader(const std::string& text, WfdbHeader* out);

// Millivolts per physical unit of a signal; 0 when its unit is not a voltage.
double WfdbMillivoltsPerUnit(const WfdbSignal& s);

// The signal's samples in physical units (an invalid sample holds the value
// before it), handed to sink in pieces after start has been told their
// number; its files are looked up in folder. Raises CFileException.
void ReadWfdbSignal(const std::string& folder, const WfdbHeader& header, size_t signal, const std::string& headerPath,
                    const std::function<void(uint64_t)>& start, const std::function<void(const double*, size_t)>& sink);
// The same, all at once.
std::vector<double> ReadWfdbSignal(const std::string& folder, const WfdbHeader& header, size_t signal,
                                   const std::string& headerPath);

struct WfdbAnnotation {
    int64_t sample = 0;
    int code = 0;
    std::string aux;
};

// Every annotation of an MIT annotation file, in file order; false when the
// bytes are not one.
bool ParseMitAnnotations(const std::string& bytes, std::vector<WfdbAnnotation>* out);
