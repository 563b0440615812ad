// The command line of vitrel-analyze.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "analysis/EcgDocument.h"
#include "formats/ExportJob.h"

enum ExitStatus { kExitOk = 0, kExitFileFailed = 1, kExitUsage = 2 };

struct Options {
    bool done = false;  // --help or --version answered: exit with status
    bool json = false;
    bool applyReview = true;  // a saved review beside the recording replaces the beats
    std::optional<DetectorKind> detector;  // unset: the default for the file's kind
    int threads = 0;                       // 0: one per core
    std::string lead;
    std::string beatsCsv;
    std::string exportEdf;
    std::string exportWfdb;
    std::string reference;
    std::string referenceRhythm;  // "first,last,rhythm" lines
    int64_t scoreFrom = 0;                            // samples
    std::vector<std::pair<int64_t, int64_t>> exclude;  // inclusive sample spans
    std::string report;
    std::string pageSize;
    bool holterPages = true;  // the report's Holter pages and beat classes
    std::vector<std::string> files;
};


// Reads argv into *opt. Returns kExitOk to go on (or, with opt->done, to
// stop at once), else the exit status after the message has been printed.
int ParseOptions(int argc, char** argv, Options* opt);
// The exports asked for, in the order they are written.
std::vector<ExportTarget> ExportTargetsOf(const Options& opt);
// The files the outputs would write, and the inputs they must never replace.
std::vector<std::string> OutputsOf(const Options& opt);
std::vector<std::string> InputsOf(const Options& opt);
