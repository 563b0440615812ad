#include "formats/Reference.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "formats/BiosigHandle.h"
#include "formats/ChildSandbox.h"
#include "recording/EcgFile.h"

namespace {

// MIT annotation codes of the EC57 beat labels N L R a V F J A S E j / Q B ? e n f r.
bool IsMitBeatCode(unsigned code)
{
    static const unsigned kCodes[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 25, 30, 34, 35, 38, 41};
    return std::find(std::begin(kCodes), std::end(kCodes), code) != std::end(kCodes);
}

// The same beats as annotation texts: the labels themselves, or BioSig's
// names for the MIT codes when a record was converted through it.
bool IsBeatText(const std::string& text)
{
    static const char* const kTexts[] = {
        "N", "L", "R", "B", "A", "a", "J", "S", "V", "r", "F", "e", "j", "n", "E", "/", "f", "Q", "?",
        "normal beat", "left bundle branch block beat", "right bundle branch block beat",
        "aberrated atrial premature beat", "premature ventricular contraction",
        "fusion of ventricular and normal beat", "nodal (junctional) premature beat", "atrial premature contraction",
        "premature or ectopic supraventricular beat", "ventricular escape beat", "nodal (junctional) escape beat",
        "paced beat", "unclassifiable beat", "left or right bundle branch block", "learning", "atrial escape beat",
        "supraventricular escape beat", "fusion of paced and normal beat",
        "R-on-T premature ventricular contraction"};
    for (const char* t : kTexts)
        if (text == t)
            return true;
    return false;
}

std::string Trimmed(const char* text)
{
    std::string s(text ? text : "");
    const size_t a = s.find_first_not_of(" \t\r\n");
    const size_t b = s.find_last_not_of(" \t\r\n");
    return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

bool EndsWithAtr(const std::string& path)
{
    if (path.size() < 4)
        return false;
    std::string ext = path.substr(path.size() - 4);
    for (char& c : ext)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".atr";
}

constexpr int kReadSeconds = 60;

// The beat annotations of source (a standard recording or WFDB header), at 250/s.
std::vector<int64_t> BeatAnnotations(const std::string& source, const std::string& path)
{
    std::vector<int64_t> out;
    BiosigHandle handle(source);
    HDRTYPE* hdr = handle.get();
    const double rate = hdr->EVENT.SampleRate > 0 ? hdr->EVENT.SampleRate : hdr->SampleRate;
    if (!std::isfinite(rate) || rate <= 0)
        throw CFileException(CFileException::recordingDamaged, -1, path);
    const bool mit = hdr->TYPE == MIT;
    for (uint32_t i = 0; i < hdr->EVENT.N; ++i) {
        const bool beat = mit ? IsMitBeatCode(hdr->EVENT.TYP[i]) : IsBeatText(Trimmed(GetEventDescription(hdr, i)));
        if (!beat)
            continue;
        // BioSig counts WFDB annotation times from 1.
        const double pos = double(hdr->EVENT.POS[i]) + (mit ? 1 : 0);
        out.push_back(int64_t(std::llround(pos * ECG_SAMPLE_RATE / rate)));
    }
    return out;
}

}  // namespace

ReferenceKind ClassifyReference(const std::string& path)
{
    if (EndsWithAtr(path))
        return ReferenceKind::wfdb;
    const SignatureKind kind = SniffStandardFile(path).kind;
    return kind == SignatureKind::none ? ReferenceKind::none : ReferenceKind::embedded;
}

bool ReadReferenceBeats(const std::string& path, std::vector<int64_t>* out, std::string* error)
{
    std::string source = path;
    if (ClassifyReference(path) == ReferenceKind::wfdb) {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) {
            *error = CFileException::FormatMessage(CFileException::fileNotFound, path);
            return false;
        }
        // WFDB annotation times count samples of the record the header describes.
        source = path.substr(0, path.size() - 4) + ".hea";
        if (SniffStandardFile(source).kind != SignatureKind::mit) {
            *error = CFileException::FormatMessage(CFileException::fileNotFound, source);
            return false;
        }
    }
    std::string result;
    int unused = -1;
    std::vector<std::string> inputs = DecoderInputs(source);
    inputs.push_back(path);
    const SandboxOutcome outcome = RunInChildSandbox(
        inputs, [&](CResultWriter& w, CResultWriter&) {
            try {
                const std::vector<int64_t> beats = BeatAnnotations(source, path);
                w.Value(int32_t(0));
                w.Value(uint64_t(beats.size()));
                w.Bytes(beats.data(), beats.size() * sizeof(int64_t));
            } catch (const CFileException& e) {
                WriteFileError(w, e);
            }
        },
        kReadSeconds, &result, &unused);
    if (unused >= 0)
        ::close(unused);
    CResultReader in(result);
    int32_t tag = -1;
    uint64_t count = 0;
    try {
        if (outcome != SandboxOutcome::done || !in.Value(&tag))
            throw CFileException(CFileException::recordingDamaged, -1, path);
        if (tag != 0)
            RaiseFileError(in, path);
        if (!in.Value(&count) || in.Left() != count * sizeof(int64_t))
            throw CFileException(CFileException::recordingDamaged, -1, path);
    } catch (const CFileException& e) {
        *error = e.GetErrorMessage();
        return false;
    }
    out->resize(count);
    in.Bytes(out->data(), count * sizeof(int64_t));
    std::sort(out->begin(), out->end());
    return true;
}
