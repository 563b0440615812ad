#include "formats/Reference.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

#include "analysis/BeatClass.h"
#include "formats/BiosigHandle.h"
#include "formats/ChildSandbox.h"
#include "formats/DecoderJobs.h"
#include "formats/StandardText.h"
#include "formats/WfdbRecord.h"
#include "recording/EcgFile.h"

using standard_text::Trimmed;

namespace {

bool IsBeatCode(int code)
{
    return BeatClassFromMitCode(code) != BeatClass::Unclassified;
}

// The annotation mnemonics, at their MIT codes.
constexpr char kMnemonics[] = " NLRaVFJASEj/Q~ | sT*D\"=pB^t+u?![]en@xf()r";

}  // namespace

int MitCodeOfMnemonic(const std::string& text)
{
    if (text.size() != 1 || text[0] == ' ')
        return 0;
    const char* at = std::strchr(kMnemonics, text[0]);
    return at ? int(at - kMnemonics) : 0;
}

namespace {

bool EndsWithNoCase(const std::string& path, const char* ext)
{
    const size_t n = std::strlen(ext);
    if (path.size() < n)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(path[path.size() - n + i])) != ext[i])
            return false;
    return true;
}

// Beats and the flutter/fibrillation spans from a list of coded annotations.
void Collect(const std::vector<std::pair<double, int>>& coded, ReferenceAnnotations* out)
{
    double vfFrom = -1;
    for (const auto& [pos, code] : coded) {
        if (code == MitCode::VFON && vfFrom < 0) {
            vfFrom = pos;
        } else if (code == MitCode::VFOFF && vfFrom >= 0) {
            out->unscored.emplace_back(vfFrom, pos);
            vfFrom = -1;
        } else if (IsBeatCode(code) && vfFrom < 0) {  // nothing inside an episode is scored
            out->beats.push_back({pos, code});
        }
    }
    if (vfFrom >= 0)
        out->unscored.emplace_back(vfFrom, HUGE_VAL);
    std::stable_sort(out->beats.begin(), out->beats.end(),
                     [](const ReferenceBeat& a, const ReferenceBeat& b) { return a.position < b.position; });
}

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// REC.atr with the frame rate of REC.hea.
void ReadWfdbAnnotations(const std::string& atr, const std::string& hea, ReferenceAnnotations* out)
{
    WfdbHeader header;
    if (!ParseWfdbHeader(ReadAll(hea), &header))
        throw CFileException(CFileException::formatUnsupported, -1, hea);
    struct stat st {};
    if (::stat(atr.c_str(), &st) != 0)
        throw CFileException(CFileException::fileNotFound, ENOENT, atr);
    std::vector<WfdbAnnotation> annotations;
    if (!ParseMitAnnotations(ReadAll(atr), &annotations))
        throw CFileException(CFileException::recordingDamaged, -1, atr);
    std::vector<std::pair<double, int>> coded;
    for (const WfdbAnnotation& a : annotations)
        coded.emplace_back(double(a.sample) * ECG_SAMPLE_RATE / header.frequency, a.code);
    Collect(coded, out);
}

constexpr int kReadSeconds = 60;

bool ReadEmbedded(const std::string& path, ReferenceAnnotations* out, std::string* error)
{
    std::string result;
    int unused = -1;
    const SandboxOutcome outcome =
        RunSandboxJob(DecoderInputs(path), SandboxJob{kEmbeddedAnnotationsName, nullptr}, {path}, kReadSeconds,
                      &result, &unused);
    if (unused >= 0)
        ::close(unused);
    CResultReader in(result);
    int32_t tag = -1;
    uint64_t count = 0;
    std::vector<std::pair<double, int>> coded;
    try {
        if (outcome != SandboxOutcome::done || !in.Value(&tag))
            throw CFileException(CFileException::recordingDamaged, -1, path);
        if (tag != 0)
            RaiseFileError(in, path);
        if (!in.Value(&count) || in.Left() != count * (sizeof(double) + sizeof(int32_t)))
            throw CFileException(CFileException::recordingDamaged, -1, path);
    } catch (const CFileException& e) {
        *error = e.GetErrorMessage();
        return false;
    }
    for (uint64_t i = 0; i < count; ++i) {
        double pos = 0;
        int32_t code = 0;
        in.Value(&pos);
        in.Value(&code);
        coded.emplace_back(pos, code);
    }
    Collect(coded, out);
    return true;
}

// "index[,code]" lines; a line whose code is not a beat's adds no beat.
bool ReadCsv(const std::string& path, ReferenceAnnotations* out, std::string* error)
{
    std::ifstream in(path);
    if (!in) {
        *error = CFileException::FormatMessage(CFileException::fileNotFound, path);
        return false;
    }
    std::vector<std::pair<double, int>> coded;
    std::string line;
    size_t lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        char* end = nullptr;
        const long long v = std::strtoll(line.c_str(), &end, 10);
        if (end == line.c_str() || (*end != ',' && *end != '\0')) {
            *error = path + ":" + std::to_string(lineNo) + ": expected \"index,code\"";
            return false;
        }
        int code = MitCode::NORMAL;  // a bare index is a beat
        if (*end == ',') {
            const std::string text = Trimmed(end + 1);
            char* numberEnd = nullptr;
            const long number = std::strtol(text.c_str(), &numberEnd, 10);
            if (!text.empty() && *numberEnd == '\0' && std::isdigit(static_cast<unsigned char>(text[0])))
                code = int(number);
            else if (!text.empty())
                code = MitCodeOfMnemonic(text);
        }
        coded.emplace_back(double(v), code);
    }
    Collect(coded, out);
    return true;
}

}  // namespace

ReferenceKind ClassifyReference(const std::string& path)
{
    if (EndsWithNoCase(path, ".atr"))
        return ReferenceKind::wfdb;
    const SignatureKind kind = SniffStandardFile(path).kind;
    return kind == SignatureKind::none ? ReferenceKind::none : ReferenceKind::embedded;
}

bool ReadReferenceAnnotations(const std::string& path, ReferenceAnnotations* out, std::string* error)
{
    *out = ReferenceAnnotations();
    const ReferenceKind kind = ClassifyReference(path);
    if (kind == ReferenceKind::none)
        return ReadCsv(path, out, error);
    const bool wfdbHeader = kind == ReferenceKind::embedded && SniffStandardFile(path).kind == SignatureKind::mit;
    if (kind == ReferenceKind::embedded && !wfdbHeader)
        return ReadEmbedded(path, out, error);
    // WFDB annotation times count frames of the record the header describes.
    const std::string stem = path.substr(0, path.size() - 4);
    const std::string atr = stem + ".atr", hea = stem + ".hea";
    try {
        struct stat st {};
        if (::stat(atr.c_str(), &st) != 0)
            throw CFileException(CFileException::fileNotFound, ENOENT, atr);
        if (SniffStandardFile(hea).kind != SignatureKind::mit)
            throw CFileException(CFileException::fileNotFound, ENOENT, hea);
        ReadWfdbAnnotations(atr, hea, out);
    } catch (const CFileException& e) {
        *error = e.GetErrorMessage();
        return false;
    }
    return true;
}

bool ReadReferenceBeats(const std::string& path, std::vector<int64_t>* out, std::string* error)
{
    ReferenceAnnotations annotations;
    if (!ReadReferenceAnnotations(path, &annotations, error))
        return false;
    out->clear();
    for (const ReferenceBeat& b : annotations.beats)
        out->push_back(int64_t(std::llround(b.position)));
    return true;
}
