// Writing synthetic recordings in the recorder's file formats.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "SynthSignal.h"

// A failure to write an output; main turns it into exit status 1.
class SynthError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A short recording (5400 samples behind a header filled in from the
// generated beats); remote adds the 22 leading bytes.
void WriteShortRecording(const SynthParams& params, bool remote, const std::string& path,
                         const std::string& beatsPath);

// The YYMMDDHH.MM name of a long recording starting at params' start.
std::string LongRecordingName(const SynthParams& params);

// A long recording of sampleCount bare samples in dir; returns its path.
std::string WriteLongRecording(const SynthParams& params, int64_t sampleCount, const std::string& dir,
                               const std::string& beatsPath);
