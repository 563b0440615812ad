#include "formats/StandardFile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

#include "formats/BiosigHandle.h"
#include "formats/ChildSandbox.h"
#include "formats/DecoderJobs.h"
#include "formats/LeadWriter.h"
#include "formats/StandardText.h"
#include "formats/WfdbRecord.h"

namespace standard_text {

std::string Trimmed(const char* text)
{
    std::string s(text ? text : "");
    const size_t a = s.find_first_not_of(" \t\r\n");
    const size_t b = s.find_last_not_of(" \t\r\n");
    return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

std::string Upper(std::string s)
{
    for (char& c : s)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string ReadText(const std::string& path, size_t limit)
{
    std::ifstream in(path, std::ios::binary);
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && st.st_size >= 0)
        limit = std::min(limit, size_t(st.st_size));
    std::string text(limit, '\0');
    in.read(text.data(), std::streamsize(limit));
    text.resize(size_t(in.gcount()));
    return text;
}

}  // namespace standard_text

using namespace standard_text;


CStandardFile::CStandardFile(const std::string& path, std::shared_ptr<const StandardRecording> recording,
                             bool forDetector)
    : CEcgFile(path, NoOpen{}), m_recording(std::move(recording)), m_forDetector(forDetector)
{
    IndexLeads();
}

void CStandardFile::IndexLeads()
{
    const auto& others = m_recording->otherLeads;
    std::vector<std::pair<int, int>> byNumber = {{m_recording->leadNumber, -1}};
    for (size_t i = 0; i < others.size(); ++i)
        byNumber.emplace_back(others[i].number, int(i));
    std::stable_sort(byNumber.begin(), byNumber.end());
    m_leads.clear();
    for (size_t i = 0; i < byNumber.size(); ++i) {
        m_leads.push_back(byNumber[i].second);
        if (byNumber[i].second < 0)
            m_nAnalysed = int(i);
    }
}

std::string CStandardFile::GetLeadName(int lead) const
{
    if (lead < 0 || lead >= int(m_leads.size()))
        return std::string();
    const int other = m_leads[size_t(lead)];
    return other < 0 ? m_recording->leadLabel : m_recording->otherLeads[size_t(other)].label;
}

uint32_t CStandardFile::ReadLeadSamples(int lead, int16_t* buffer, uint64_t first, uint32_t count)
{
    if (lead < 0 || lead >= int(m_leads.size()))
        return 0;
    const int other = m_leads[size_t(lead)];
    if (other < 0)
        return ReadSamples(buffer, first, count);
    const std::vector<int16_t>& s = m_recording->otherLeads[size_t(other)].samples;
    if (first >= s.size())
        return 0;
    const uint32_t n = uint32_t(std::min<uint64_t>(count, s.size() - first));
    std::memcpy(buffer, s.data() + first, size_t(n) * sizeof(int16_t));
    return n;
}

std::unique_ptr<CEcgFile> CStandardFile::WithAnalysedLead(int lead)
{
    if (lead < 0 || lead >= int(m_leads.size()) || lead == m_nAnalysed)
        return nullptr;
    const StandardRecording& from = *m_recording;
    const auto& chosen = from.otherLeads[size_t(m_leads[size_t(lead)])];
    auto rec = std::make_shared<StandardRecording>();
    rec->format = from.format;
    rec->channelLabels = from.channelLabels;
    rec->sourceRate = from.sourceRate;
    rec->hasStartTime = from.hasStartTime;
    rec->startTime = from.startTime;
    rec->leadLabel = chosen.label;
    rec->leadNumber = chosen.number;
    rec->samples = chosen.samples;
    rec->detectorSamples = WithoutBaseline(rec->samples);
    for (const auto& other : from.otherLeads)
        if (&other != &chosen)
            rec->otherLeads.push_back(other);
    rec->otherLeads.push_back({from.leadLabel, from.leadNumber, from.samples});
    return std::make_unique<CStandardFile>(GetFilePath(), std::move(rec));
}

const std::vector<int16_t>& CStandardFile::Samples() const
{
    const bool filtered = m_forDetector && m_recording->detectorSamples.size() == m_recording->samples.size();
    return filtered ? m_recording->detectorSamples : m_recording->samples;
}

uint32_t CStandardFile::ReadSamples(int16_t* buffer, uint64_t first, uint32_t count)
{
    const std::vector<int16_t>& s = Samples();
    if (first >= s.size())
        return 0;
    const uint32_t n = uint32_t(std::min<uint64_t>(count, s.size() - first));
    std::memcpy(buffer, s.data() + first, size_t(n) * sizeof(int16_t));
    return n;
}

bool CStandardFile::GetStartTime(CTime* out)
{
    if (!m_recording->hasStartTime)
        return false;
    *out = m_recording->startTime;
    return true;
}

std::unique_ptr<CEcgFile> CStandardFile::OpenReader()
{
    return std::make_unique<CStandardFile>(GetFilePath(), m_recording, true);
}

int EcgLeadRank(const std::string& label)
{
    std::string s = Upper(Trimmed(label.c_str()));
    // "ECG II", "EKG-V1", "ECG" alone: the prefix says ECG, the rest names the lead.
    bool ecgPrefix = false;
    for (const char* prefix : {"ECG", "EKG"}) {
        if (s.rfind(prefix, 0) == 0) {
            s = s.substr(3);
            ecgPrefix = true;
            break;
        }
    }
    s.erase(std::remove_if(s.begin(), s.end(), [](char c) { return c == ' ' || c == '-' || c == '_' || c == ':'; }),
            s.end());
    static const char* const kOrder[] = {"II", "MLII", "", "I", "V1", "V2", "V3", "V4", "V5", "V6",
                                         "III", "AVR", "AVL", "AVF", "MLI", "MLIII", "V"};
    for (size_t i = 0; i < std::size(kOrder); ++i) {
        if (s == kOrder[i] && (ecgPrefix || *kOrder[i]))
            return int(i);
    }
    // Any other signal that calls itself an ECG ("ECG ECG1", "EKG2") still
    // goes before one that does not.
    const std::string whole = Upper(label);
    if (ecgPrefix || whole.find("ECG") != std::string::npos || whole.find("EKG") != std::string::npos)
        return int(std::size(kOrder));
    return -1;
}

namespace {

// Seconds a decode may take before the file is given up as damaged; a day
// at 360 samples/s takes about one.
constexpr int kDecodeSeconds = 60;

bool ReadAll(int fd, void* p, size_t want)
{
    auto* bytes = static_cast<char*>(p);
    for (size_t done = 0; done < want;) {
        const ssize_t n = ::read(fd, bytes + done, want - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

// The description from info, the samples from the in-memory file.
bool ReadRecording(CResultReader& in, int samples, StandardRecording* r)
{
    int32_t number = 0;
    uint32_t labels = 0;
    uint8_t hasStart = 0;
    int64_t start = 0;
    if (!in.String(&r->format) || !in.String(&r->leadLabel) || !in.Value(&number) || !in.Value(&labels))
        return false;
    for (uint32_t i = 0; i < labels; ++i) {
        r->channelLabels.emplace_back();
        if (!in.String(&r->channelLabels.back()))
            return false;
    }
    uint32_t others = 0, nCounts = 0;
    if (!in.Value(&r->sourceRate) || !in.Value(&hasStart) || !in.Value(&start) || !in.Value(&others))
        return false;
    for (uint32_t i = 0; i < others; ++i) {
        StandardRecording::OtherLead lead;
        int32_t n = 0;
        if (!in.String(&lead.label) || !in.Value(&n))
            return false;
        lead.number = n;
        r->otherLeads.push_back(std::move(lead));
    }
    if (!in.Value(&nCounts) || nCounts != others + 1)
        return false;
    std::vector<uint64_t> counts(nCounts);
    for (uint64_t& n : counts)
        if (!in.Value(&n))
            return false;
    if (in.Left() != 0)
        return false;
    r->leadNumber = number;
    r->hasStartTime = hasStart != 0;
    r->startTime = CTime(start);
    struct stat st {};
    uint64_t total = 0;
    for (uint64_t n : counts) {
        if (n > STANDARD_MAX_SAMPLES)
            return false;
        total += n;
    }
    if (::fstat(samples, &st) != 0 || uint64_t(st.st_size) != total * 2)
        return false;
    r->samples.resize(size_t(counts[0]));
    if (!ReadAll(samples, r->samples.data(), r->samples.size() * sizeof(int16_t)))
        return false;
    for (uint32_t i = 0; i < others; ++i) {
        std::vector<int16_t>& v = r->otherLeads[i].samples;
        v.resize(size_t(counts[i + 1]));
        if (!ReadAll(samples, v.data(), v.size() * sizeof(int16_t)))
            return false;
    }
    return true;
}

}  // namespace

std::unique_ptr<CStandardFile> OpenStandardRecording(const std::string& path, const StandardOpenOptions& options,
                                                     CTime* pTimeStart)
{
    const Sniffed sniffed = SniffStandardFile(path);
    if (sniffed.kind == SignatureKind::none)
        return nullptr;

    // BioSig takes an HL7 aECG document for one only after an XML
    // declaration, which the format does not require: a copy gets one.
    std::string source = path;
    struct Scratch {
        std::string path;
        ~Scratch() { if (!path.empty()) ::unlink(path.c_str()); }
    } scratch;
    if (sniffed.kind == SignatureKind::hl7) {
        const std::string text = ReadText(path, size_t(1) << 30);
        const size_t lt = text.find_first_not_of(" \t\r\n\xef\xbb\xbf");
        if (lt != std::string::npos && text.compare(lt, 5, "<?xml") != 0) {
            const char* tmp = std::getenv("TMPDIR");
            std::string name = std::string(tmp && *tmp ? tmp : "/tmp") + "/vitrel-aecg-XXXXXX";
            const int fd = ::mkstemp(name.data());
            if (fd < 0)
                throw CFileException(CFileException::OsErrorToCause(errno), errno, name);
            scratch.path = name;
            const std::string copy = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + text.substr(lt);
            size_t done = 0;
            while (done < copy.size()) {
                const ssize_t w = ::write(fd, copy.data() + done, copy.size() - done);
                if (w < 0 && errno == EINTR)
                    continue;
                if (w <= 0)
                    break;
                done += size_t(w);
            }
            ::close(fd);
            if (done != copy.size())
                throw CFileException(CFileException::diskFull, ENOSPC, name);
            source = name;
        }
    }

    std::string result;
    int samples = -1;
    // The duration field goes as far as its first NUL, as the decode reads it.
    const SandboxOutcome outcome = RunSandboxJob(
        DecoderInputs(source), SandboxJob{kStandardDecodeName, nullptr},
        {source, std::to_string(int(sniffed.kind)), sniffed.durationField.c_str(), options.lead.c_str()},
        kDecodeSeconds, &result, &samples);
    struct Closer {
        int fd;
        ~Closer() { if (fd >= 0) ::close(fd); }
    } closeSamples{samples};
    CResultReader in(result);
    int32_t tag = -1;
    if (outcome != SandboxOutcome::done || !in.Value(&tag))
        throw CFileException(CFileException::recordingDamaged, -1, path);
    if (tag != 0)
        RaiseFileError(in, path);
    auto rec = std::make_shared<StandardRecording>();
    if (!ReadRecording(in, samples, rec.get()))
        throw CFileException(CFileException::recordingDamaged, -1, path);
    rec->detectorSamples = WithoutBaseline(rec->samples);

    if (pTimeStart && rec->hasStartTime)
        *pTimeStart = rec->startTime;
    return std::make_unique<CStandardFile>(path, std::move(rec));
}

void RegisterStandardFormats(const StandardOpenOptions& options)
{
    SetStandardFormatOpener([options](const std::string& path, CTime* pTimeStart) -> std::unique_ptr<CEcgFile> {
        return OpenStandardRecording(path, options, pTimeStart);
    });
}

std::vector<std::string> CompanionFiles(const std::string& path)
{
    if (SniffStandardFile(path).kind != SignatureKind::mit)
        return {};
    const std::string stem = path.substr(0, path.size() - 4);
    std::vector<std::string> files = {stem + ".dat", stem + ".atr"};
    WfdbHeader header;
    if (ParseWfdbHeader(ReadText(path, 1 << 20), &header))
        for (const WfdbSignal& s : header.signals) {
            const std::string file = s.file[0] == '/' ? s.file : FolderOf(path) + s.file;
            if (s.file != "~" && std::find(files.begin(), files.end(), file) == files.end())
                files.push_back(file);
        }
    return files;
}
