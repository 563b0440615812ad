// What opening a standard file costs: the whole open, and its decode in the
// executed helper against the same decode in a forked copy of this program
// (the path taken when no helper is found).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "formats/BiosigHandle.h"
#include "formats/ChildSandbox.h"
#include "formats/DecoderJobs.h"
#include "formats/StandardFile.h"

namespace {

const std::filesystem::path kData(VITREL_DATA_DIR);

std::vector<std::string> Files()
{
    std::vector<std::string> files{(kData / "source" / "mitdb" / "100.hea").string()};
    const std::filesystem::path formats = kData.parent_path() / "formats";
    std::error_code error;
    for (const auto& e : std::filesystem::directory_iterator(formats, error))
        if (e.is_regular_file() && e.path().extension() != ".md")
            files.push_back(e.path().string());
    for (const auto& e : std::filesystem::directory_iterator(formats / "wfdb", error))
        if (e.path().extension() == ".hea")
            files.push_back(e.path().string());
    return files;
}

void BM_Open(benchmark::State& state, const std::string& path)
{
    for (auto _ : state) {
        CTime t;
        try {
            benchmark::DoNotOptimize(OpenStandardRecording(path, {}, &t));
        } catch (const CFileException&) {
            state.SkipWithError("does not open");
            return;
        }
    }
}

void BM_Decode(benchmark::State& state, const std::string& path, bool helper)
{
    const Sniffed sniffed = SniffStandardFile(path);
    const std::vector<std::string> args{path, std::to_string(int(sniffed.kind)), sniffed.durationField.c_str(), ""};
    for (auto _ : state) {
        std::string out;
        int bulk = -1;
        const SandboxOutcome outcome =
            helper ? RunSandboxJob(DecoderInputs(path), kStandardDecodeJob, args, 60, &out, &bulk)
                   : RunInChildSandbox(
                         DecoderInputs(path),
                         [&](CResultWriter& w, CResultWriter& data) { kStandardDecodeJob.work(args, w, data); }, 60,
                         &out, &bulk);
        if (bulk >= 0)
            ::close(bulk);
        if (outcome != SandboxOutcome::done) {
            state.SkipWithError("decode failed");
            return;
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    RegisterStandardFormats({});
    for (const std::string& f : Files()) {
        const std::string name = std::filesystem::path(f).filename().string();
        benchmark::RegisterBenchmark(("open/" + name).c_str(), BM_Open, f)->Unit(benchmark::kMillisecond)->UseRealTime();
        benchmark::RegisterBenchmark(("helper/" + name).c_str(), BM_Decode, f, true)->Unit(benchmark::kMillisecond)->UseRealTime();
        benchmark::RegisterBenchmark(("forked/" + name).c_str(), BM_Decode, f, false)->Unit(benchmark::kMillisecond)->UseRealTime();
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
