#include "formats/StandardFile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

#include <soxr.h>

#include "formats/BiosigHandle.h"
#include "formats/ChildSandbox.h"
#include "formats/LeadWriter.h"
#include "formats/WfdbRecord.h"

namespace {

constexpr size_t kSliceSamples = size_t(1) << 16;

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

bool IsVoltage(uint16_t code)
{
    // Unit code 0 is "unspecified", as WFDB leaves millivolts to be assumed.
    return code == 0 || (code & 0xFFE0) == 4256;
}

double MillivoltsPerUnit(uint16_t code)
{
    return code == 0 ? 1.0 : PhysDimScale(code) * 1000.0;
}

// An EDF/BDF record duration is only as exact as its 8-character field: a
// whole-number rate whose duration rounds to the same text is the file's rate.
double NominalRate(double rate, uint32_t samplesPerRecord, SignatureKind kind, const std::string& durationField)
{
    const double whole = std::round(rate);
    if (whole < 1)
        return rate;
    if ((kind == SignatureKind::edf || kind == SignatureKind::bdf) && samplesPerRecord > 0) {
        const std::string d = Trimmed(durationField.c_str());
        const size_t dot = d.find('.');
        const int decimals = dot == std::string::npos ? 0 : int(d.size() - dot - 1);
        const double duration = std::strtod(d.c_str(), nullptr);
        const double halfUnit = 0.5 * std::pow(10.0, -decimals);
        if (duration > 0 && std::fabs(samplesPerRecord / whole - duration) <= halfUnit * (1 + 1e-9))
            return whole;
        return rate;
    }
    return std::fabs(rate - whole) <= whole * 1e-6 ? whole : rate;
}

struct Channel {
    std::string label;
    bool usable = false;  // a voltage with samples
};

int ChooseLead(const std::vector<Channel>& channels, const std::string& wanted, const std::string& path)
{
    if (!wanted.empty()) {
        char* end = nullptr;
        const long number = std::strtol(wanted.c_str(), &end, 10);
        for (size_t k = 0; k < channels.size(); ++k) {
            const bool named = *end == '\0' ? number == long(k) + 1
                                            : Upper(Trimmed(channels[k].label.c_str())) == Upper(Trimmed(wanted.c_str()));
            if (named && channels[k].usable)
                return int(k);
        }
        throw CFileException(CFileException::leadNotFound, -1, path);
    }
    int best = -1, bestRank = 1 << 30, first = -1;
    for (size_t k = 0; k < channels.size(); ++k) {
        if (!channels[k].usable)
            continue;
        if (first < 0)
            first = int(k);
        const int rank = EcgLeadRank(channels[k].label);
        if (rank >= 0 && rank < bestRank) {
            best = int(k);
            bestRank = rank;
        }
    }
    if (best < 0)
        best = first;
    if (best < 0)
        throw CFileException(CFileException::leadNotFound, -1, path);
    return best;
}

bool StartTimeOf(const HDRTYPE* hdr, CTime* out)
{
    if (hdr->T0 == 0)
        return false;
    const double seconds = std::floor(gdf_time2t_time(hdr->T0) + 0.5);
    if (!std::isfinite(seconds) || std::fabs(seconds) > 1e13)
        return false;
    const time_t t = time_t(seconds);
    struct tm f {};
    if (!gmtime_r(&t, &f) || f.tm_year + 1900 < 1971)
        return false;
    // The header's clock fields are the recording's local time.
    try {
        *out = CTime(f.tm_year + 1900, f.tm_mon + 1, f.tm_mday, f.tm_hour, f.tm_min, f.tm_sec);
    } catch (const CTimeException&) {
        return false;
    }
    return true;
}

// What decoding needs of the header.
struct LeadLayout {
    int lead = 0;
    int64_t records = 0;
    uint32_t recordSamples = 0;  // all channels brought to the fastest rate
    uint32_t leadSamples = 0;    // the lead's own samples per record
    double millivolts = 1;
};

// Decodes the lead through BioSig. BioSig 3.0.1 garbles or crashes on reads
// that do not start at record 0 of a freshly opened EDF+ file, so the lead
// is read in one piece.
void DecodeLead(HDRTYPE* hdr, const std::string& path, const LeadLayout& layout, double rate, CResultWriter& out)
{
    const uint32_t step = layout.recordSamples / layout.leadSamples;
    LeadWriter writer(rate, uint64_t(layout.records) * layout.leadSamples, path, out);
    for (int k = 0; k < hdr->NS; ++k)
        hdr->CHANNEL[k].OnOff = k == layout.lead ? 1 : 0;
    hdr->FLAG.UCAL = 0;
    hdr->FLAG.OVERFLOWDETECTION = 0;
    hdr->FLAG.ROW_BASED_CHANNELS = 0;
    const size_t records = size_t(layout.records);
    const size_t got = sread(nullptr, 0, records, hdr);
    if (got != records || biosig_check_error(hdr) || !hdr->data.block ||
        uint64_t(hdr->data.size[0]) * hdr->data.size[1] < uint64_t(records) * layout.recordSamples)
        throw CFileException(CFileException::recordingDamaged, -1, path);
    // BioSig's copy of the file's bytes is done with: its memory goes back
    // now (destructHDR frees only what is left).
    std::free(hdr->AS.rawdata);
    hdr->AS.rawdata = nullptr;
    // In slices, so that the copy stays small next to BioSig's buffer.
    const size_t count = records * layout.leadSamples;
    std::vector<double> native;
    for (size_t from = 0; from < count; from += kSliceSamples) {
        native.resize(std::min(kSliceSamples, count - from));
        for (size_t i = 0; i < native.size(); ++i)
            native[i] = hdr->data.block[(from + i) * step] * layout.millivolts;
        writer.Push(native.data(), native.size());
    }
    writer.Finish();
}

}  // namespace

CStandardFile::CStandardFile(const std::string& path, std::shared_ptr<const StandardRecording> recording,
                             bool forDetector)
    : CEcgFile(path, NoOpen{}), m_recording(std::move(recording)), m_forDetector(forDetector)
{
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

void WriteRecording(CResultWriter& w, const StandardRecording& r)
{
    w.Value(int32_t(0));
    w.String(r.format);
    w.String(r.leadLabel);
    w.Value(int32_t(r.leadNumber));
    w.Value(uint32_t(r.channelLabels.size()));
    for (const std::string& label : r.channelLabels)
        w.String(label);
    w.Value(r.sourceRate);
    w.Value(uint8_t(r.hasStartTime));
    w.Value(r.startTime.GetTime());
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
    if (!in.Value(&r->sourceRate) || !in.Value(&hasStart) || !in.Value(&start) || in.Left() != 0)
        return false;
    r->leadNumber = number;
    r->hasStartTime = hasStart != 0;
    r->startTime = CTime(start);
    struct stat st {};
    if (::fstat(samples, &st) != 0 || st.st_size % 2 != 0)
        return false;
    r->samples.resize(size_t(st.st_size) / 2);
    auto* bytes = reinterpret_cast<char*>(r->samples.data());
    for (size_t done = 0, want = size_t(st.st_size); done < want;) {
        const ssize_t n = ::read(samples, bytes + done, want - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

bool CivilTime(int year, int month, int day, int hour, int minute, int second, CTime* out)
{
    if (year < 1971)
        return false;
    try {
        *out = CTime(year, month, day, hour, minute, second);
    } catch (const CTimeException&) {
        return false;
    }
    return true;
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

// One signal of an EDF/BDF file read straight from its data records. BioSig
// brings every signal to the least common multiple of their rates, which for
// signals of unrelated rates is millions of samples a second.
void DecodeEdfLead(const std::string& path, const EdfFacts& facts, bool bdf, int lead, double perDigit, double offset,
                   double rate, CResultWriter& data)
{
    const int width = bdf ? 3 : 2;
    long long recordBytes = 0, at = 0;
    for (size_t i = 0; i < facts.samplesPerRecord.size(); ++i) {
        if (int(i) == lead)
            at = recordBytes;
        recordBytes += facts.samplesPerRecord[i] * width;
    }
    const size_t spr = size_t(facts.samplesPerRecord[size_t(lead)]);
    LeadWriter writer(rate, uint64_t(facts.records) * spr, path, data);
    std::ifstream in(path, std::ios::binary);
    std::string bytes(spr * size_t(width), '\0');
    std::vector<double> values(spr);
    for (long long r = 0; r < facts.records; ++r) {
        in.seekg(facts.headerBytes + r * recordBytes + at);
        if (!in.read(bytes.data(), std::streamsize(bytes.size())))
            throw CFileException(CFileException::recordingDamaged, -1, path);
        for (size_t i = 0; i < spr; ++i) {
            const auto* b = reinterpret_cast<const unsigned char*>(bytes.data()) + i * size_t(width);
            const int32_t d = bdf ? int32_t(uint32_t(b[0]) << 8 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 24) >> 8
                                  : int16_t(uint16_t(b[0] | b[1] << 8));
            values[i] = d * perDigit + offset;
        }
        writer.Push(values.data(), values.size());
    }
    writer.Finish();
}

// WFDB records are read here, not by BioSig, which takes the baseline in
// the gain field, several signals in one 16-bit file, formats 24, 310 and
// 311 and signals spread over several files wrongly or not at all.
void DecodeWfdb(const std::string& path, const StandardOpenOptions& options, StandardRecording* rec,
                CResultWriter& data)
{
    WfdbHeader header;
    if (!ParseWfdbHeader(ReadText(path, 1 << 20), &header))
        throw CFileException(CFileException::formatUnsupported, -1, path);
    rec->format = "MIT";
    std::vector<Channel> channels;
    for (const WfdbSignal& s : header.signals) {
        rec->channelLabels.push_back(s.description);
        channels.push_back({s.description, WfdbMillivoltsPerUnit(s) > 0 && s.file != "~"});
    }
    const int lead = ChooseLead(channels, options.lead, path);
    const WfdbSignal& s = header.signals[size_t(lead)];
    const double rate = header.frequency * s.samplesPerFrame;
    rec->leadNumber = lead + 1;
    rec->leadLabel = s.description;
    rec->sourceRate = std::fabs(rate - std::round(rate)) <= rate * 1e-9 ? std::round(rate) : rate;
    rec->hasStartTime = header.hasTime && header.hasDate &&
                        CivilTime(header.year, header.month, header.day, header.hour, header.minute, header.second,
                                  &rec->startTime);
    const double mv = WfdbMillivoltsPerUnit(s);
    std::unique_ptr<LeadWriter> writer;
    std::vector<double> slice;
    ReadWfdbSignal(
        FolderOf(path), header, size_t(lead), path,
        [&](uint64_t count) { writer = std::make_unique<LeadWriter>(rec->sourceRate, count, path, data); },
        [&](const double* p, size_t n) {
            slice.assign(p, p + n);
            for (double& v : slice)
                v *= mv;
            writer->Push(slice.data(), slice.size());
        });
    writer->Finish();
}

// Decodes in the child: what is known of the recording goes to info, then
// the samples to data.
void Decode(const std::string& path, SignatureKind kind, const std::string& durationField,
            const StandardOpenOptions& options, CResultWriter& info, CResultWriter& data)
{
    auto rec = std::make_shared<StandardRecording>();
    if (kind == SignatureKind::mit) {
        DecodeWfdb(path, options, rec.get(), data);
        data.Flush();
        WriteRecording(info, *rec);
        return;
    }
    const bool edf = kind == SignatureKind::edf || kind == SignatureKind::bdf;
    EdfFacts facts;
    if (edf && ReadEdfFacts(path, kind == SignatureKind::bdf, &facts)) {
        if (facts.annotationsOnly)
            throw CFileException(CFileException::leadNotFound, -1, path);
        if (facts.gaps)
            throw CFileException(CFileException::recordingDiscontinuous, -1, path);
    }
    BiosigHandle handle(path);
    HDRTYPE* hdr = handle.get();
    rec->format = GetFileTypeString(hdr->TYPE) ? GetFileTypeString(hdr->TYPE) : "";
    // BioSig's combined rate of an EDF/BDF file with signals of several
    // rates can be absurd; each signal's own rate is what counts.
    if (hdr->NS < 1 || hdr->NRec < 1 || hdr->SPR < 1 || !std::isfinite(hdr->SampleRate) || hdr->SampleRate <= 0 ||
        (!edf && hdr->SampleRate > 1e6))
        throw CFileException(CFileException::recordingDamaged, -1, path);
    std::vector<Channel> channels;
    for (int k = 0; k < hdr->NS; ++k) {
        const CHANNEL_TYPE& c = hdr->CHANNEL[k];
        rec->channelLabels.push_back(Trimmed(c.Label));
        channels.push_back({c.Label, c.OnOff == 1 && IsVoltage(c.PhysDimCode) && c.SPR > 0});
    }
    const int lead = ChooseLead(channels, options.lead, path);
    const CHANNEL_TYPE& ch = hdr->CHANNEL[lead];
    if (ch.SPR == 0 || hdr->SPR % ch.SPR != 0)
        throw CFileException(CFileException::recordingDamaged, -1, path);
    const double ownRate = edf && facts.recordSeconds > 0 ? ch.SPR / facts.recordSeconds
                                                          : hdr->SampleRate * ch.SPR / hdr->SPR;
    const double rate = NominalRate(ownRate, ch.SPR, kind, durationField);
    if (!(rate >= 1) || rate > 1e6)
        throw CFileException(CFileException::formatUnsupported, -1, path);
    // BioSig 3.0.1 misreads GDF samples packed in bit fields (12-bit
    // samples, as its own converter writes them from WFDB format 212).
    if (kind == SignatureKind::gdf && ch.GDFTYP > 255 && (ch.GDFTYP - 255) % 8 != 0)
        throw CFileException(CFileException::formatUnsupported, -1, path);
    const LeadLayout layout{lead, hdr->NRec, hdr->SPR, ch.SPR, MillivoltsPerUnit(ch.PhysDimCode)};
    rec->leadNumber = lead + 1;
    rec->leadLabel = Trimmed(ch.Label);
    rec->sourceRate = rate;
    rec->hasStartTime = StartTimeOf(hdr, &rec->startTime);
    // EDF+ says "Startdate X" for an unknown start, and its four-digit year
    // holds where the header's two digits cannot.
    if (edf && facts.plus) {
        CTime t;
        rec->hasStartTime = facts.startKnown && CivilTime(facts.year, facts.month, facts.day, facts.hour,
                                                          facts.minute, facts.second, &t);
        if (rec->hasStartTime && (!StartTimeOf(hdr, &rec->startTime) ||
                                  rec->startTime.GetLocalFields().year != facts.year))
            rec->startTime = t;
    }
    const bool ownEdf = edf && facts.records == hdr->NRec && size_t(lead) < facts.samplesPerRecord.size() &&
                        facts.samplesPerRecord[size_t(lead)] == ch.SPR && hdr->SPR != ch.SPR;
    if (ownEdf)
        DecodeEdfLead(path, facts, kind == SignatureKind::bdf, lead, ch.Cal * layout.millivolts,
                      ch.Off * layout.millivolts, rate, data);
    else
        DecodeLead(hdr, path, layout, rate, data);
    data.Flush();
    WriteRecording(info, *rec);
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
    const SandboxOutcome outcome = RunInChildSandbox(
        DecoderInputs(source), [&](CResultWriter& info, CResultWriter& data) {
            try {
                Decode(source, sniffed.kind, sniffed.durationField, options, info, data);
            } catch (const CFileException& e) {
                WriteFileError(info, e);
            }
        },
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
