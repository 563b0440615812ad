// vitrel-analyze: the document's analysis run without a window.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Json.h"
#include "Options.h"
#include "Scoring.h"
#include "Summary.h"
#include "analysis/DefaultDetector.h"
#include "analysis/EcgDocument.h"
#include "formats/Export.h"
#include "formats/ExportJob.h"
#include "formats/Reference.h"
#include "formats/ReviewFile.h"
#include "formats/StandardFile.h"
#include "recording/EcgFile.h"
#include "recording/ErrorMessage.h"
#include "recording/File.h"

#ifdef VITREL_HAVE_REPORT
#include "report/BatchReport.h"
#endif
#ifdef VITREL_REPORT_HELPER
#include <unistd.h>
#endif

namespace {

#ifdef VITREL_REPORT_HELPER
// A run with --report becomes the helper that carries the report renderer
// (beside this program in a build, in libexec once installed). Returns only
// when there is no such run or no helper to start.
void HandOverReport(int argc, char** argv)
{
    bool report = false;
    for (int i = 1; i < argc && !report; ++i) {
        const std::string arg = argv[i];
        if (arg == "--")
            break;
        report = arg == "--report";
    }
    if (!report)
        return;
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return;
    for (const std::filesystem::path& dir : {self.parent_path(), self.parent_path() / VITREL_REPORT_HELPER_DIR}) {
        const std::string helper = (dir / VITREL_REPORT_HELPER).string();
        if (::access(helper.c_str(), X_OK) == 0) {
            ::execv(helper.c_str(), argv);
            return;
        }
    }
}
#endif

// Records what the analysis run tells its view. Calls arrive on the worker;
// the main thread reads the fields only after the worker has been joined.
class RecordingView : public IAnalysisView {
public:
    void ShowProgress() override {}
    void SetProgress(short percent) override { lastPercent = percent; }
    void OnDetectionFinished(bool completed) override
    {
        detectionFinished = true;
        detectionCompleted = completed;
    }
    void BeginStatisticsProgress() override {}
    void OnStatisticsFinished(bool produced) override { statisticsProduced = produced; }

    bool detectionFinished = false;
    bool detectionCompleted = false;
    bool statisticsProduced = false;
    short lastPercent = 0;
};

bool WriteExports(CEcgDocument& doc, const Options& opt)
{
    const ExportInput in = MakeExportInput(doc);
    bool ok = true;
    for (const ExportTarget& target : ExportTargetsOf(opt)) {
        ExportFailure failure;
        if (!RunExport(in, *doc.GetEcgFile(), doc.GetFilePath(), target, {}, &failure)) {
            std::fprintf(stderr, "vitrel-analyze: %s: %s\n", failure.path.c_str(), failure.text.c_str());
            ok = false;
        }
    }
    return ok;
}

// The review saved beside the recording, when there is one. A review of
// another recording, or one that cannot be read, is reported and not applied;
// the file stays as it is.
void ApplySavedReview(const std::string& path, CEcgDocument& doc)
{
    const std::string reviewPath = ReviewPathFor(path);
    if (!std::filesystem::exists(reviewPath))
        return;
    std::unique_ptr<CEcgFile> samples = doc.GetEcgFile()->OpenReader();
    SavedReview review;
    switch (ReadReview(reviewPath, IdentifyRecording(*samples), &review)) {
    case ReviewStatus::absent:
        return;
    case ReviewStatus::loaded:
        if (doc.ReplaceBeats(review.beats, review.classes))
            return;
        break;
    case ReviewStatus::foreign:
        std::fprintf(stderr, "%s: the review %s belongs to another recording (or to this one before it changed): not applied\n",
                     path.c_str(), reviewPath.c_str());
        return;
    case ReviewStatus::damaged:
        break;
    }
    std::fprintf(stderr, "%s: the review %s cannot be read: not applied\n", path.c_str(), reviewPath.c_str());
}

int AnalyseFile(const std::string& path, const Options& opt, const ReferenceAnnotations& reference,
                const std::vector<RhythmSpan>& rhythm)
{
    CEcgDocument doc;
    doc.OpenFile(path);

    RecordingView view;
    doc.SetDetectorKind(opt.detector.value_or(DefaultDetectorFor(doc.GetFileKind())));
    doc.SetThreadCount(opt.threads);
    doc.StartAnalysis(&view);
    doc.WaitAnalysis();
    const bool completed =
        view.detectionFinished && view.detectionCompleted && doc.IsDetectionDone() && !doc.HasRunFailed();
    if (completed && opt.applyReview)
        ApplySavedReview(path, doc);
    const std::shared_ptr<const AnalysisResults> results = completed ? doc.GetResults() : nullptr;
    if (opt.json)
        PrintJson(path, doc, results.get());
    else
        PrintSummary(path, doc, results.get());

    int status = completed ? kExitOk : kExitFileFailed;
    if (!completed)
        std::fprintf(stderr, "%s: the analysis did not complete\n", path.c_str());
    if (!opt.referenceRhythm.empty() && results)
        PrintRhythmMatch(path, *results, rhythm, opt, doc.GetSampleCount());
    if (!opt.reference.empty() && results) {
        const std::vector<double> detected(results->beats.begin(), results->beats.end());
        std::vector<double> beats;
        for (const ReferenceBeat& b : reference.beats)
            beats.push_back(b.position);
        const auto scored = [&opt](double sample) {
            if (sample < double(opt.scoreFrom))
                return false;
            for (const auto& [from, to] : opt.exclude)
                if (sample >= double(from) && sample <= double(to))
                    return false;
            return true;
        };
        PrintMatch(path, MatchBeats(detected, beats, kMatchWindow, reference.unscored, scored), opt.json);
        PrintClassMatch(path, *results, reference, scored, opt.json);
    }
    if (results && !WriteExports(doc, opt))
        status = kExitFileFailed;
    if (!opt.report.empty()) {
#ifdef VITREL_HAVE_REPORT
        std::string error;
        if (!WriteReportPdf(doc, opt.report, opt.pageSize.empty() ? "A4" : opt.pageSize, &error,
                            opt.holterPages)) {
            std::fprintf(stderr, "vitrel-analyze: %s\n", error.c_str());
            status = kExitFileFailed;
        }
#endif
    }
    return status;
}

}  // namespace

int main(int argc, char** argv)
{
#ifdef VITREL_REPORT_HELPER
    HandOverReport(argc, argv);
#endif
    Options opt;
    if (const int rc = ParseOptions(argc, argv, &opt); rc != kExitOk || opt.done)
        return rc;
    RegisterStandardFormats(StandardOpenOptions{opt.lead});
#ifdef VITREL_HAVE_REPORT
    // Ends with main, before static teardown: nothing of the fonts is left behind.
    std::optional<CReportApplication> reportApplication;
    if (!opt.report.empty())
        reportApplication.emplace();
#endif

    ReferenceAnnotations reference;
    if (!opt.reference.empty()) {
        std::string error;
        if (!ReadReferenceAnnotations(opt.reference, &reference, &error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return kExitUsage;
        }
    }

    std::vector<RhythmSpan> rhythm;
    if (!opt.referenceRhythm.empty() && !ReadRhythmList(opt.referenceRhythm, rhythm)) {
        std::fprintf(stderr, "%s: expected lines \"first,last,rhythm\"\n", opt.referenceRhythm.c_str());
        return kExitUsage;
    }

    int status = kExitOk;
    for (const std::string& path : opt.files) {
        int rc = kExitOk;
        try {
            rc = AnalyseFile(path, opt, reference, rhythm);
        } catch (const std::exception& e) {
            // The file cannot be opened, or failed after that (it vanished, a
            // read failed): its message, and on to the next file. A file error
            // names the file at fault: the path as given, or a file the
            // recording is read from beside it.
            std::fprintf(stderr, "%s\n", ErrorMessageFor(e, path).c_str());
            rc = kExitFileFailed;
        }
        if (rc != kExitOk)
            status = rc;
    }
    return status;
}
