// The annotations embedded in a standard record, read in the decode helper
// only: BioSig is not loaded by the programs that open files.
#include "formats/Reference.h"

#include <cmath>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "formats/BiosigHandle.h"
#include "formats/ChildSandbox.h"
#include "formats/DecoderJobs.h"
#include "formats/StandardText.h"
#include "recording/EcgFile.h"

using standard_text::Trimmed;

namespace {

// BioSig's names for the MIT beat codes, as records converted through it carry them.
int CodeOfText(const std::string& text)
{
    if (const int code = MitCodeOfMnemonic(text))
        return code;
    static const std::pair<const char*, int> kTexts[] = {
        {"normal beat", 1}, {"left bundle branch block beat", 2}, {"right bundle branch block beat", 3},
        {"aberrated atrial premature beat", 4}, {"premature ventricular contraction", 5},
        {"fusion of ventricular and normal beat", 6}, {"nodal (junctional) premature beat", 7},
        {"atrial premature contraction", 8}, {"premature or ectopic supraventricular beat", 9},
        {"ventricular escape beat", 10}, {"nodal (junctional) escape beat", 11}, {"paced beat", 12},
        {"unclassifiable beat", 13}, {"left or right bundle branch block", 25}, {"learning", 30},
        {"atrial escape beat", 34}, {"supraventricular escape beat", 35}, {"fusion of paced and normal beat", 38},
        {"R-on-T premature ventricular contraction", 41}};
    for (const auto& [t, code] : kTexts)
        if (text == t)
            return code;
    return 0;
}

// The annotations of an EDF+, BDF+ or GDF record, through BioSig.
std::vector<std::pair<double, int>> EmbeddedAnnotations(const std::string& path)
{
    std::vector<std::pair<double, int>> out;
    BiosigHandle handle(path);
    HDRTYPE* hdr = handle.get();
    const double rate = hdr->EVENT.SampleRate > 0 ? hdr->EVENT.SampleRate : hdr->SampleRate;
    if (!std::isfinite(rate) || rate <= 0)
        throw CFileException(CFileException::recordingDamaged, -1, path);
    for (uint32_t i = 0; i < hdr->EVENT.N; ++i) {
        const int code = CodeOfText(Trimmed(GetEventDescription(hdr, i)));
        if (code != 0)
            out.emplace_back(double(hdr->EVENT.POS[i]) * ECG_SAMPLE_RATE / rate, code);
    }
    return out;
}

void RunEmbeddedAnnotations(const std::vector<std::string>& args, CResultWriter& w, CResultWriter&)
{
    if (args.size() != 1)
        throw std::invalid_argument("reference");
    try {
        const std::vector<std::pair<double, int>> coded = EmbeddedAnnotations(args[0]);
        w.Value(int32_t(0));
        w.Value(uint64_t(coded.size()));
        for (const auto& [pos, code] : coded) {
            w.Value(pos);
            w.Value(int32_t(code));
        }
    } catch (const CFileException& e) {
        WriteFileError(w, e);
    }
}

}  // namespace

const SandboxJob kEmbeddedAnnotationsJob{kEmbeddedAnnotationsName, RunEmbeddedAnnotations};
