#include "Options.h"

#include <cstdio>
#include <string>

#include "formats/Export.h"
#include "formats/ExportJob.h"
#include "formats/Reference.h"
#include "formats/ReviewFile.h"
#include "formats/StandardFile.h"
#include "recording/File.h"
#include "resources/Version.h"

#ifdef VITREL_HAVE_REPORT
#include "report/BatchReport.h"
#endif

namespace {

void PrintHelp(FILE* out)
{
    std::fprintf(out,
                 "Usage: vitrel-analyze [OPTIONS] FILE...\n"
                 "Analyse ECG recordings as the application does and print the findings.\n"
                 "\n"
                 "  --json               one JSON object per file, on one line\n"
                 "  --detector NAME      R-wave detector for long recordings: standard (the\n"
                 "                       default for the recorder's files, with the results its\n"
                 "                       users know) or precise (the default for standard\n"
                 "                       recordings: finds nearly every beat, wide ventricular\n"
                 "                       ones included, and invents almost none)\n"
                 "  --threads N          threads of the analysis (default 0: one per core); the\n"
                 "                       results do not depend on it\n"
                 "  --lead NAME|N        the lead of a standard recording: its channel label or\n"
                 "                       number from 1 (default: II, MLII, ECG, I, V1-V6, ...)\n"
                 "  --reference BEATS    compare the detected beats with a reference: lines\n"
                 "                       \"index,code\" (250 samples/s), a WFDB annotation file\n"
                 "                       (REC.atr beside REC.hea) or an EDF+/BDF+/GDF file's\n"
                 "                       annotations; only beat codes count, a beat matches\n"
                 "                       within 150 ms, and the ventricular flutter episodes\n"
                 "                       the reference marks ([ to ]) are left out\n"
                 "  --reference-rhythm RHYTHM\n"
                 "                       compare the AF episodes with reference rhythm episodes:\n"
                 "                       lines \"first,last,rhythm\" (250 samples/s, AFIB atrial\n"
                 "                       fibrillation, AFL flutter, left out of +P); episode and\n"
                 "                       duration Se and +P from the fifth minute\n"
                 "  --score-from SECONDS with --reference: leave the beats of the first SECONDS\n"
                 "                       out of the comparison (300 as in ANSI/AAMI EC57)\n"
                 "  --exclude FIRST-LAST with --reference: leave the beats of samples FIRST to\n"
                 "                       LAST out of the comparison (e.g. ventricular flutter);\n"
                 "                       may be given more than once\n"
                 "  --beats OUT.csv      write the beats: position, clock time, RR ms, irregular\n"
                 "  --export-edf OUT.edf write the ECG and the beats as an EDF+ file\n"
                 "  --export-wfdb DIR    write the ECG and the beats as a WFDB record in DIR\n"
                 "  --no-review          ignore a review saved beside the recording\n"
                 "                       (FILE.vitrel.atr); by default its beats and classes\n"
                 "                       replace the analysis's\n"
                 "  --report OUT.pdf     write the printed report of the (single) FILE\n"
                 "  --page-size NAME     page size of the report, e.g. A4 (default) or Letter\n"
                 "  --holter-pages       the report of a long recording ends with a Holter summary\n"
                 "                       and event strips, beats marked by class (the default)\n"
                 "  --no-holter-pages    the report without them\n"
                 "  --help               show this help\n"
                 "  --version            show the version\n"
                 "\n"
                 "Standard recordings (EDF/EDF+, BDF/BDF+, GDF, WFDB .hea, SCP-ECG, HL7 aECG)\n"
                 "are read at 250 samples/s and analysed as long recordings. --report and the\n"
                 "exports take a single FILE. The start time and clock fields follow the local\n"
                 "time zone (TZ).\n"
                 "\n"
                 "Exit status:\n"
                 "  0  every file was analysed completely\n"
                 "  1  a file could not be opened, its analysis did not complete, or the\n"
                 "     report or an export could not be written\n"
                 "  2  usage error\n");
}

// A whole number of at most 12 decimal digits, nothing else.
bool ParseCount(const std::string& text, int64_t* out)
{
    if (text.empty() || text.size() > 12 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    *out = std::stoll(text);
    return true;
}

int Usage(const char* message)
{
    std::fprintf(stderr, "vitrel-analyze: %s\nTry 'vitrel-analyze --help'.\n", message);
    return kExitUsage;
}

}  // namespace

int ParseOptions(int argc, char** argv, Options* o)
{
    Options& opt = *o;
    bool endOfOptions = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (endOfOptions || arg.empty() || arg[0] != '-' || arg == "-") {
            opt.files.push_back(arg);
        } else if (arg == "--") {
            endOfOptions = true;
        } else if (arg == "--help" || arg == "-h") {
            PrintHelp(stdout);
            opt.done = true;
            return kExitOk;
        } else if (arg == "--version") {
            std::printf("vitrel-analyze %s\n", VITREL_VERSION);
            opt.done = true;
            return kExitOk;
        } else if (arg == "--json") {
            opt.json = true;
        } else if (arg == "--no-review") {
            opt.applyReview = false;
        } else if (arg == "--holter-pages" || arg == "--no-holter-pages") {
            opt.holterPages = arg == "--holter-pages";
        } else if (arg == "--detector" || arg == "--score-from" || arg == "--exclude" || arg == "--threads") {
            if (i + 1 >= argc)
                return Usage((arg + " needs an argument").c_str());
            const std::string value = argv[++i];
            if (arg == "--detector") {
                if (value == "standard")
                    opt.detector = DetectorKind::Standard;
                else if (value == "precise")
                    opt.detector = DetectorKind::Precise;
                else
                    return Usage(("--detector: standard or precise, not " + value).c_str());
            } else if (arg == "--threads") {
                int64_t threads = 0;
                if (!ParseCount(value, &threads) || threads > 1024)
                    return Usage(("--threads: not a thread count from 0 to 1024: " + value).c_str());
                opt.threads = int(threads);
            } else if (arg == "--score-from") {
                int64_t seconds = 0;
                if (!ParseCount(value, &seconds) || seconds > int64_t(UINT32_MAX / ECG_SAMPLE_RATE))
                    return Usage(("--score-from: not a number of seconds: " + value).c_str());
                opt.scoreFrom = seconds * ECG_SAMPLE_RATE;
            } else {
                const size_t dash = value.find('-');
                int64_t from = 0, to = 0;
                if (dash == std::string::npos || !ParseCount(value.substr(0, dash), &from) ||
                    !ParseCount(value.substr(dash + 1), &to) || to < from)
                    return Usage(("--exclude: expected FIRST-LAST sample numbers: " + value).c_str());
                opt.exclude.emplace_back(from, to);
            }
        } else if (arg == "--reference" || arg == "--reference-rhythm" || arg == "--report" || arg == "--page-size" || arg == "--lead" ||
                   arg == "--beats" || arg == "--export-edf" || arg == "--export-wfdb") {
            if (i + 1 >= argc)
                return Usage((arg + " needs an argument").c_str());
            std::string& target = arg == "--reference"          ? opt.reference
                                  : arg == "--reference-rhythm" ? opt.referenceRhythm
                                  : arg == "--report"     ? opt.report
                                  : arg == "--page-size"  ? opt.pageSize
                                  : arg == "--lead"       ? opt.lead
                                  : arg == "--beats"      ? opt.beatsCsv
                                  : arg == "--export-edf" ? opt.exportEdf
                                                          : opt.exportWfdb;
            target = argv[++i];
            if (target.empty())
                return Usage((arg + " needs an argument").c_str());
        } else {
            return Usage(("unknown option " + arg).c_str());
        }
    }
    if (opt.files.empty())
        return Usage("no FILE given");
    if (!opt.pageSize.empty() && opt.report.empty())
        return Usage("--page-size needs --report");
    if ((opt.scoreFrom > 0 && opt.reference.empty() && opt.referenceRhythm.empty()) ||
        (!opt.exclude.empty() && opt.reference.empty()))
        return Usage("--score-from and --exclude need --reference");
    if (!opt.report.empty()) {
#ifdef VITREL_HAVE_REPORT
        if (opt.files.size() != 1)
            return Usage("--report takes exactly one FILE");
        if (!IsKnownPageSize(opt.pageSize))
            return Usage(("unknown page size: " + opt.pageSize).c_str());
#else
        std::fprintf(stderr, "vitrel-analyze: --report is unavailable: this build has no report renderer\n");
        return kExitUsage;
#endif
    }

    if ((!opt.beatsCsv.empty() || !opt.exportEdf.empty() || !opt.exportWfdb.empty()) && opt.files.size() != 1)
        return Usage("the exports take exactly one FILE");
    // An output that names an input would destroy what it is made from:
    // refused before anything is read or written.
    ExportFailure failure;
    if (!CheckOutputs(OutputsOf(opt), InputsOf(opt), &failure)) {
        std::fprintf(stderr, "vitrel-analyze: cannot write %s: it is the input %s\n", failure.path.c_str(),
                     failure.input.c_str());
        return kExitFileFailed;
    }
    return kExitOk;
}

std::vector<ExportTarget> ExportTargetsOf(const Options& opt)
{
    std::vector<ExportTarget> targets;
    if (!opt.beatsCsv.empty())
        targets.push_back({ExportKind::BeatsCsv, opt.beatsCsv});
    if (!opt.exportEdf.empty())
        targets.push_back({ExportKind::EdfPlus, opt.exportEdf});
    if (!opt.exportWfdb.empty())
        targets.push_back({ExportKind::Wfdb, opt.exportWfdb});
    return targets;
}

std::vector<std::string> OutputsOf(const Options& opt)
{
    std::vector<std::string> out;
    if (!opt.report.empty())
        out.push_back(opt.report);
    if (opt.files.size() == 1)
        for (const ExportTarget& target : ExportTargetsOf(opt))
            for (const std::string& p : ExportOutputs(target, opt.files.front()))
                out.push_back(p);
    return out;
}

std::vector<std::string> InputsOf(const Options& opt)
{
    std::vector<std::string> in = opt.files;
    if (!opt.reference.empty()) {
        in.push_back(opt.reference);
        if (ClassifyReference(opt.reference) == ReferenceKind::wfdb)
            in.push_back(opt.reference.substr(0, opt.reference.size() - 4) + ".hea");
    }
    return InputFilesOf(in);
}
